// A recording read back into the history, a piece of the file at a time, so
// that the shell can read it where and as it likes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "history.h"

constexpr int kRecordingLineMax = 1024;
constexpr int kBadLineShown = 80;

enum class RecordingProblem : uint8_t { None, NoHeader, BadLine };

struct RecordingReader {
    char line[kRecordingLineMax + 2];  // a line cut by the end of a piece
    int lineLength;
    bool overlong;
    int64_t lineNumber;  // of the line being read; the header is line 1
    char separator;      // the header's, ',' or ';'
    RecordingProblem problem;
    char badLine[kBadLineShown + 1];
    int64_t leftOut;  // rows past a full history
    Frame pending[256];
    int pendingCount;
    uint32_t pendingMs;
};

// Empties the history for the file.
void StartReadingRecording(RecordingReader& reader, History& history);
// False once a problem stops the reading; the rows before it are kept.
bool ReadRecordingPiece(RecordingReader& reader, History& history, const char* bytes, size_t length);
// At the end of the file, whose last line may have no line break.
bool FinishReadingRecording(RecordingReader& reader, History& history);
