// Rows of a recording: ASCII, CRLF, the same in any locale; fields are
// separated by commas, or by semicolons for a spreadsheet in a locale whose
// list separator is `;`.
#pragma once

#include <cstdint>

#include "sweep_state.h"

constexpr char kCsvHeader[] = "frame,time_ms,y1,y2,y3\r\n";
constexpr char kCsvSemicolonHeader[] = "frame;time_ms;y1;y2;y3\r\n";
// Two 20-digit counts and three signed 16-bit values, with separators.
constexpr int kCsvRowMax = 80;

const char* CsvHeader(char separator);
int FormatCsvRow(char* out, uint64_t frame, uint64_t timeMs, const Frame& values, char separator = ',');
