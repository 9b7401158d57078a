// Acquisition core: frame decoding, row scaling and the sweep state that ties
// a tick to the paint of the trace view. Platform-free: the Win32 shell owns
// the process-wide records and hands them in, with callbacks for repaints and
// drawing.
#pragma once

#include <cstdint>

constexpr int kFrameSize = 8;
constexpr uint8_t kFrameMarker1 = 0x11;
constexpr uint8_t kFrameMarker2 = 0x55;
constexpr int kTraceCount = 3;
constexpr int kSweepWidth = 1024;

// Reads fill offsets 0..7; offset 8 is never written and stays 0.
struct ReceiveArea {
    uint8_t bytes[kFrameSize + 1];
};

enum class FrameAlignment { Aligned, Shifted, Lost };

// Arrays are indexed by trace number 1..3; index 0 is unused so that the
// code reads like the trace numbers the user sees (y1, y2, y3).
struct SweepState {
    int32_t column;
    uint16_t row[kTraceCount + 1];
    int32_t prevRow[kTraceCount + 1];
    int32_t prevColumn;
    int16_t raw[kTraceCount + 1];
    int32_t tickCount;
};

using InvalidateFn = void (*)(void* context, int left, int top, int right, int bottom);
using InvalidateAllFn = void (*)(void* context);
using DrawSegmentFn = void (*)(void* context, int trace, int x0, int y0, int x1, int y1);

FrameAlignment GetFrameAlignment(const ReceiveArea& area);
uint16_t ToPlotRow(uint16_t value);
void DecodeFrame(const ReceiveArea& area, int trace, SweepState& state);

// Where a frame starts among the first `count` bytes of the area: 0 when it is
// in step, 1..count-1 at the first marker pair (a 0x11 in the last byte read
// counts as a possible start), -1 when there is no marker at all.
int FindFrameStart(const ReceiveArea& area, int count);
// Moves the frame starting at `offset` to the front; returns how many bytes
// are already in place (count - offset), so the caller reads the rest.
int ShiftFrameToFront(ReceiveArea& area, int offset, int count);

void ResetSweep(SweepState& state);
bool BeginTick(SweepState& state);
void ApplyFrame(SweepState& state, const ReceiveArea& area, InvalidateFn invalidate,
                InvalidateAllFn invalidateAll, void* context);
void EndTick(SweepState& state);
void PaintTraces(SweepState& state, DrawSegmentFn drawSegment, void* context);
