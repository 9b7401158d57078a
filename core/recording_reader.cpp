#include "recording_reader.h"

#include <cstring>

#include "csv_rows.h"

namespace {

bool ParseUnsigned(const char*& at, const char* end, uint64_t& value)
{
    const char* start = at;
    value = 0;
    while (at < end && *at >= '0' && *at <= '9' && at - start < 19) value = value * 10 + static_cast<uint64_t>(*at++ - '0');
    return at > start && (at == end || *at < '0' || *at > '9');
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

bool ParseRow(const char* at, const char* end, uint64_t& timeMs, Frame& frame)
{
    uint64_t number = 0;
    frame = {};
    if (!ParseUnsigned(at, end, number) || !Expect(at, end, ',') || !ParseUnsigned(at, end, timeMs)) return false;
    for (int trace = 1; trace <= kTraceCount; ++trace)
        if (!Expect(at, end, ',') || !ParseValue(at, end, frame.value[trace])) return false;
    return at == end;
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
        const size_t headerLength = sizeof kCsvHeader - 3;
        if (overlong || length != headerLength || std::memcmp(line, kCsvHeader, headerLength) != 0)
            return Fail(reader, RecordingProblem::NoHeader, line, length);
        return true;
    }
    uint64_t timeMs = 0;
    Frame frame;
    if (overlong || length > kRecordingLineMax || !ParseRow(line, line + length, timeMs, frame))
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
