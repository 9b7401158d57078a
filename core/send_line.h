// What the send row turns into bytes for the port, the lines it remembers,
// and how a remembered line is kept in config.ini.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class LineEnd { None, Lf, Cr, CrLf };
constexpr int kLineEndCount = 4;
// config.ini's words for the line ends, in LineEnd's order.
extern const char* const kLineEndKeys[kLineEndCount];
LineEnd ParseLineEnd(const char* key);

// Where a field stops making sense: its character position (from 1, in
// characters rather than bytes), the character found there as UTF-8 (empty
// at the end of the text), and what was wrong with it.
struct SendProblem {
    int position;
    char character[5];
    const char* why;
};

// Text: the UTF-8 as it is, with \r \n \t \\ and \xNN, then the line end.
// Hex: pairs of hex digits, spaces between pairs optional, no line end.
// False, with nothing in `bytes`, at the first thing that does not parse.
bool ParseSendText(const char* text, size_t length, bool hex, LineEnd end, std::vector<uint8_t>* bytes,
                   SendProblem* problem);
// One line of UTF-8 naming the character, its position and the fault.
int FormatSendProblem(const SendProblem& problem, char* text, int size);

// The send history: newest first, no two alike, at most this many.
constexpr int kSentLinesKept = 20;
void RememberSentLine(std::vector<std::string>& history, const std::string& line);

// A line as an INI value that comes back whole through the profile API, which
// trims blanks and a pair of quotes and may keep only ANSI: every byte outside
// printable ASCII, %, ; and the quotes become %XX, and so does a blank at
// either end.
std::string EncodeIniValue(const std::string& line);
// Its inverse; a % that starts no %XX stays as it is.
std::string DecodeIniValue(const std::string& value);
