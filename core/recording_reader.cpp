#include "recording_reader.h"

#include <cstring>

#include "csv_rows.h"

namespace {

// Leading zeros and every 64-bit count, as the recorder numbers frames.
bool ParseUnsigned(const char*& at, const char* end, uint64_t& value)
{
    const char* start = at;
    value = 0;
    for (; at < end && *at >= '0' && *at <= '9'; ++at) {
        const uint64_t digit = static_cast<uint64_t>(*at - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return at > start;
}

bool ParseValue(const char*& at, const char* end, int16_t& value)
{
    const bool negative = at < end && *at == '-';
    if (negative) ++at;
    uint64_t magnitude = 0;
    if (!ParseUnsigned(at, end, magnitude) || magnitude > (negative ? 32768u : 32767u)) return false;
    value = static_cast<int16_t>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
    return true;
}

bool Expect(const char*& at, const char* end, char c)
{
    if (at == end || *at != c) return false;
    ++at;
    return true;
}

bool ParseRow(const char* at, const char* end, char separator, uint64_t& timeMs, Frame& frame)
{
    uint64_t number = 0;
    frame = {};
    if (!ParseUnsigned(at, end, number) || !Expect(at, end, separator) || !ParseUnsigned(at, end, timeMs)) return false;
    for (int trace = 1; trace <= kTraceCount; ++trace)
        if (!Expect(at, end, separator) || !ParseValue(at, end, frame.value[trace])) return false;
    return at == end;
}

// The header with commas or with semicolons, which Excel writes where the
// list separator is one; the rows must follow it.
bool ReadHeader(const char* line, size_t length, char& separator)
{
    const size_t headerLength = sizeof kCsvHeader - 3;
    const size_t firstSeparator = static_cast<size_t>(std::strchr(kCsvHeader, ',') - kCsvHeader);
    if (length != headerLength) return false;
    separator = line[firstSeparator];
    if (separator != ',' && separator != ';') return false;
    for (size_t i = 0; i < length; ++i)
        if (line[i] != (kCsvHeader[i] == ',' ? separator : kCsvHeader[i])) return false;
    return true;
}

void FlushPending(RecordingReader& reader, History& history)
{
    AppendHistory(history, reader.pending, reader.pendingCount, reader.pendingMs);
    reader.pendingCount = 0;
}

void KeepRow(RecordingReader& reader, History& history, uint32_t timeMs, const Frame& frame)
{
    if (history.total + reader.pendingCount >= kHistoryFrames) {
        ++reader.leftOut;
        return;
    }
    if (reader.pendingCount && (timeMs != reader.pendingMs || reader.pendingCount == 256)) FlushPending(reader, history);
    reader.pendingMs = timeMs;
    reader.pending[reader.pendingCount++] = frame;
}

bool Fail(RecordingReader& reader, RecordingProblem problem, const char* line, size_t length)
{
    reader.problem = problem;
    if (length > kBadLineShown) length = kBadLineShown;
    std::memcpy(reader.badLine, line, length);
    reader.badLine[length] = '\0';
    return false;
}

// One whole line, without its line break.
bool TakeLine(RecordingReader& reader, History& history, const char* line, size_t length, bool overlong)
{
    if (length && line[length - 1] == '\r') --length;
    const int64_t number = ++reader.lineNumber;
    if (number == 1) {
        // Excel's "CSV UTF-8" starts with a byte-order mark.
        if (length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) line += 3, length -= 3;
        if (overlong || !ReadHeader(line, length, reader.separator))
            return Fail(reader, RecordingProblem::NoHeader, line, length);
        return true;
    }
    uint64_t timeMs = 0;
    Frame frame;
    if (overlong || length > kRecordingLineMax || !ParseRow(line, line + length, reader.separator, timeMs, frame))
        return Fail(reader, RecordingProblem::BadLine, line, length);
    KeepRow(reader, history, static_cast<uint32_t>(timeMs), frame);
    return true;
}

}  // namespace

void StartReadingRecording(RecordingReader& reader, History& history)
{
    reader.lineLength = 0;
    reader.overlong = false;
    reader.lineNumber = 0;
    reader.problem = RecordingProblem::None;
    reader.badLine[0] = '\0';
    reader.leftOut = 0;
    reader.pendingCount = 0;
    ClearHistory(history);
}

bool ReadRecordingPiece(RecordingReader& reader, History& history, const char* bytes, size_t length)
{
    const char* end = bytes + length;
    for (const char* at = bytes; at < end;) {
        const char* lineEnd = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
        const char* stop = lineEnd ? lineEnd : end;
        const size_t part = static_cast<size_t>(stop - at);
        if (reader.lineLength == 0 && !reader.overlong && lineEnd) {
            if (!TakeLine(reader, history, at, part, false)) return false;
        } else {
            // A line cut by the end of a piece waits; only its start is kept.
            const size_t room = sizeof reader.line - reader.lineLength;
            const size_t kept = part < room ? part : room;
            std::memcpy(reader.line + reader.lineLength, at, kept);
            reader.lineLength += static_cast<int>(kept);
            reader.overlong |= part > room;
            if (lineEnd) {
                const bool ok = TakeLine(reader, history, reader.line, reader.lineLength, reader.overlong);
                reader.lineLength = 0;
                reader.overlong = false;
                if (!ok) return false;
            }
        }
        at = lineEnd ? lineEnd + 1 : end;
    }
    return true;
}

bool FinishReadingRecording(RecordingReader& reader, History& history)
{
    bool ok = reader.problem == RecordingProblem::None;
    if (ok && (reader.lineLength || reader.overlong))
        ok = TakeLine(reader, history, reader.line, reader.lineLength, reader.overlong);
    reader.lineLength = 0;
    if (ok && reader.lineNumber == 0) ok = Fail(reader, RecordingProblem::NoHeader, "", 0);
    FlushPending(reader, history);
    return ok;
}
