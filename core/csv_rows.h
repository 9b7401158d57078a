// Rows of a recording: ASCII, comma-separated, CRLF, the same in any locale.
#pragma once

#include <cstdint>

#include "sweep_state.h"

constexpr char kCsvHeader[] = "frame,time_ms,y1,y2,y3\r\n";
// Two 20-digit counts and three signed 16-bit values, with separators.
constexpr int kCsvRowMax = 80;

int FormatCsvRow(char* out, uint64_t frame, uint64_t timeMs, const Frame& values);
