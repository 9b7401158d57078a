// What a scope's measurements and cursors give, over frames of the history:
// each trace's extremes, mean and RMS in raw counts, its period from rising
// crossings of the mean over whole cycles, and the differences between two
// frames. Times are the frames' own, from the history's batch times.
#pragma once

#include <cstdint>

#include "history.h"

struct TraceFigures {
    int16_t min, max;
    double mean, rms;
    double periodMs;  // 0: fewer than two whole cycles
};

struct Figures {
    int64_t frames;  // measured; 0: none
    TraceFigures trace[kTraceCount + 1];
};

// Over frames first..end-1, all of which the history holds. A crossing is
// counted when a trace reaches its mean after being an eighth of its p-p
// below it.
Figures MeasureFrames(const History& history, int64_t first, int64_t end);

// A part per colour: part 0 grey, parts 1..3 the traces'. The measurement
// line leaves part 0 empty; each trace's is
// `y1 min −12000 max 31000 p-p 43000 mean 1234 rms 15012 f 12.50 Hz T 80.0 ms`.
constexpr int kFigurePart = 128;
void FormatFigureParts(const Figures& figures, char (*parts)[kFigurePart]);

// Cursors at frames `a` and `b` (-1: none): `A frame 1,234 B frame 2,345
// Δ 1,111 frames 92.6 ms 10.8 Hz`, then `Δy1 1200` and so on once both are set.
void FormatCursorParts(const History& history, int64_t a, int64_t b, char (*parts)[kFigurePart]);

// The same figures for a spreadsheet: tab-separated lines with CRLF, a header
// line, a line per trace and, when a cursor is set, the cursors' two lines;
// plain numbers, and an empty field where the screen shows `—`.
int FormatFiguresTable(const Figures& figures, const History& history, int64_t a, int64_t b, char* text, int size);
