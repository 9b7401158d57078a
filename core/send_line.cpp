#include "send_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

const char* const kLineEndKeys[kLineEndCount] = {"none", "lf", "cr", "crlf"};

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsContinuation(char c)
{
    return (static_cast<uint8_t>(c) & 0xC0) == 0x80;
}

// Fills `problem` for the character starting at byte `at` (the end of the
// text when at == length); always false, for the parser to return.
bool Fail(const char* text, size_t length, size_t at, const char* why, SendProblem* problem)
{
    problem->position = 1 + static_cast<int>(std::count_if(text, text + at, [](char c) { return !IsContinuation(c); }));
    size_t size = 0;
    if (at < length) {
        problem->character[size++] = text[at];
        while (size < 4 && at + size < length && IsContinuation(text[at + size]))
            problem->character[size] = text[at + size], ++size;
    }
    problem->character[size] = '\0';
    problem->why = why;
    return false;
}

bool ParseEscapes(const char* text, size_t length, std::vector<uint8_t>* bytes, SendProblem* problem)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != '\\') {
            bytes->push_back(static_cast<uint8_t>(text[i]));
            continue;
        }
        if (++i == length) return Fail(text, length, i, "a \\ must be followed by r, n, t, \\ or xNN", problem);
        switch (text[i]) {
        case 'r': bytes->push_back('\r'); break;
        case 'n': bytes->push_back('\n'); break;
        case 't': bytes->push_back('\t'); break;
        case '\\': bytes->push_back('\\'); break;
        case 'x': {
            int value = 0;
            for (int digit = 0; digit < 2; ++digit) {
                if (++i == length) return Fail(text, length, i, "\\x takes two hex digits", problem);
                if (HexValue(text[i]) < 0) return Fail(text, length, i, "is not a hex digit", problem);
                value = value * 16 + HexValue(text[i]);
            }
            bytes->push_back(static_cast<uint8_t>(value));
            break;
        }
        default: return Fail(text, length, i, "is no escape: use \\r \\n \\t \\\\ or \\xNN", problem);
        }
    }
    return true;
}

bool ParseHexPairs(const char* text, size_t length, std::vector<uint8_t>* bytes, SendProblem* problem)
{
    int high = -1;
    for (size_t i = 0; i < length; ++i) {
        const int value = HexValue(text[i]);
        if (value >= 0 && high < 0) {
            high = value;
        } else if (value >= 0) {
            bytes->push_back(static_cast<uint8_t>(high * 16 + value));
            high = -1;
        } else if (text[i] != ' ' && text[i] != '\t') {
            return Fail(text, length, i, "is not a hex digit", problem);
        } else if (high >= 0) {
            return Fail(text, length, i, "splits a byte: two hex digits each", problem);
        }
    }
    if (high >= 0) return Fail(text, length, length, "the last byte has one hex digit", problem);
    return true;
}

}  // namespace

LineEnd ParseLineEnd(const char* key)
{
    for (int end = 0; end < kLineEndCount; ++end)
        if (std::strcmp(key, kLineEndKeys[end]) == 0) return static_cast<LineEnd>(end);
    return LineEnd::Lf;
}

bool ParseSendText(const char* text, size_t length, bool hex, LineEnd end, std::vector<uint8_t>* bytes,
                   SendProblem* problem)
{
    bytes->clear();
    *problem = {};
    const bool parsed = hex ? ParseHexPairs(text, length, bytes, problem) : ParseEscapes(text, length, bytes, problem);
    if (!parsed) {
        bytes->clear();
        return false;
    }
    if (!hex && (end == LineEnd::Cr || end == LineEnd::CrLf)) bytes->push_back('\r');
    if (!hex && (end == LineEnd::Lf || end == LineEnd::CrLf)) bytes->push_back('\n');
    return true;
}

int FormatSendProblem(const SendProblem& problem, char* text, int size)
{
    const auto byte = static_cast<uint8_t>(problem.character[0]);
    int length = 0;
    if (!byte)
        length = std::snprintf(text, size, "the text ends at position %d: %s", problem.position, problem.why);
    else if (byte < 0x20 || byte == 0x7F)
        length = std::snprintf(text, size, "«\\x%02X» at position %d %s", byte, problem.position, problem.why);
    else
        length = std::snprintf(text, size, "«%s» at position %d %s", problem.character, problem.position, problem.why);
    return length < size ? length : size - 1;
}

void RememberSentLine(std::vector<std::string>& history, const std::string& line)
{
    if (line.empty()) return;
    history.erase(std::remove(history.begin(), history.end(), line), history.end());
    history.insert(history.begin(), line);
    if (history.size() > kSentLinesKept) history.resize(kSentLinesKept);
}

std::string EncodeIniValue(const std::string& line)
{
    std::string value;
    for (size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<uint8_t>(line[i]);
        const bool blankAtEnd = c == ' ' && (i == 0 || i + 1 == line.size());
        if (c < 0x20 || c >= 0x7F || c == '%' || c == ';' || c == '"' || c == '\'' || blankAtEnd) {
            value += '%';
            value += kHexDigits[c >> 4];
            value += kHexDigits[c & 15];
        } else {
            value += static_cast<char>(c);
        }
    }
    return value;
}

std::string DecodeIniValue(const std::string& value)
{
    std::string line;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 && HexValue(value[i + 2]) >= 0) {
            line += static_cast<char>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
            i += 2;
        } else {
            line += value[i];
        }
    }
    return line;
}
