#include "sweep_state.h"

#include <cstring>

namespace {

constexpr int kGridBottomRow = 512;
constexpr int kStatusLeft = 10;
constexpr int kStatusTop = 511;
constexpr int kStatusRight = 400;
constexpr int kStatusBottom = 530;

uint16_t BigEndianAt(const ReceiveArea& area, int offset)
{
    return static_cast<uint16_t>((area.bytes[offset] << 8) | area.bytes[offset + 1]);
}

bool MarkersAt(const ReceiveArea& area, int offset)
{
    return area.bytes[offset] == kFrameMarker1 && area.bytes[offset + 1] == kFrameMarker2;
}

}  // namespace

FrameAlignment GetFrameAlignment(const ReceiveArea& area)
{
    if (MarkersAt(area, 0)) return FrameAlignment::Aligned;
    if (MarkersAt(area, 1)) return FrameAlignment::Shifted;
    return FrameAlignment::Lost;
}

uint16_t ToPlotRow(uint16_t value)
{
    const uint16_t offsetBinary = static_cast<uint16_t>(value ^ 0x8000u);
    return static_cast<uint16_t>(kGridBottomRow - (offsetBinary >> 7));
}

void DecodeFrame(const ReceiveArea& area, int trace, SweepState& state)
{
    uint16_t value = 0;
    switch (GetFrameAlignment(area)) {
    case FrameAlignment::Aligned:
        value = BigEndianAt(area, 2 * trace);
        state.raw[trace] = static_cast<int16_t>(value);
        break;
    case FrameAlignment::Shifted:
        value = BigEndianAt(area, 2 * trace + 1);
        state.raw[trace] = static_cast<int16_t>(value);
        break;
    case FrameAlignment::Lost:
        break;
    }
    state.row[trace] = ToPlotRow(value);
}

int FindFrameStart(const ReceiveArea& area, int count)
{
    if (count <= 0) return -1;
    if (area.bytes[0] == kFrameMarker1 && (count == 1 || area.bytes[1] == kFrameMarker2)) return 0;
    for (int offset = 1; offset < count; ++offset) {
        if (area.bytes[offset] != kFrameMarker1) continue;
        if (offset == count - 1 || area.bytes[offset + 1] == kFrameMarker2) return offset;
    }
    return -1;
}

int ShiftFrameToFront(ReceiveArea& area, int offset, int count)
{
    std::memmove(area.bytes, area.bytes + offset, static_cast<size_t>(count - offset));
    return count - offset;
}

void ResetSweep(SweepState& state)
{
    state.column = 0;
}

bool BeginTick(SweepState& state)
{
    if (state.column == 0) state.column = 1;
    return state.column >= 1 && state.column <= kSweepWidth;
}

void ApplyFrame(SweepState& state, const ReceiveArea& area, InvalidateFn invalidate,
                InvalidateAllFn invalidateAll, void* context)
{
    state.column += 1;
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        DecodeFrame(area, trace, state);
        const int row = state.row[trace];
        const int prevRow = state.prevRow[trace];
        if (prevRow < row)
            invalidate(context, state.column - 2, prevRow, state.column, row);
        else
            invalidate(context, state.column - 2, 0, state.column, prevRow);
    }
    invalidate(context, kStatusLeft, kStatusTop, kStatusRight, kStatusBottom);
    if (state.column == kSweepWidth) {
        state.column = 1;
        invalidateAll(context);
    }
}

void EndTick(SweepState& state)
{
    state.tickCount = static_cast<int32_t>(static_cast<uint32_t>(state.tickCount) + 1u);
}

void PaintTraces(SweepState& state, DrawSegmentFn drawSegment, void* context)
{
    if (state.column == 1) {
        state.prevColumn = 0;
        for (int trace = 1; trace <= kTraceCount; ++trace) state.prevRow[trace] = state.row[trace];
        return;
    }
    if (state.column < 1 || state.column > kSweepWidth) return;
    for (int trace = 1; trace <= kTraceCount; ++trace)
        drawSegment(context, trace, state.prevColumn, state.prevRow[trace], state.column - 1,
                    state.row[trace]);
    state.prevColumn = state.column - 1;
    for (int trace = 1; trace <= kTraceCount; ++trace) state.prevRow[trace] = state.row[trace];
}
