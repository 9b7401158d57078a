// The newest frames kept in memory behind the sweep: the values of each frame,
// their arrival times, and the gaps (Stop, a lost port, frames dropped) as
// marks on the frame that follows each. Frames are numbered from the first
// one kept; the ring forgets the oldest once it is full.
#pragma once

#include <cstdint>

#include "sweep_state.h"

constexpr int64_t kHistoryFrames = int64_t{1} << 22;
// A frame's time is kept within this of when it came: the link's clock ticks
// every 15.6 ms on Windows, and a stream that keeps its pace within it costs
// no memory however long it runs.
constexpr uint32_t kHistoryTimeToleranceMs = 16;

// A knot's time from frame 0, with this bit set when a gap came before it.
constexpr uint32_t kHistoryGapBit = 0x80000000u;

// Times are kept as knots: frames whose own time is kept, the frames between
// two knots lying on the straight line between them. A knot is made where a
// stream leaves the line by more than the tolerance and at each gap, on a
// frame of its own, so the knots can never outnumber the frames; untouched
// knot slots cost no memory.
struct History {
    int16_t value[kHistoryFrames][kTraceCount];
    int64_t knotFrame[kHistoryFrames];
    uint32_t knotTime[kHistoryFrames];
    int64_t total;  // frames ever kept; the newest is total - 1
    int64_t knotTotal;
    // The newest line runs from the newest knot to this frame; any slope
    // between the two bounds keeps every frame since that knot within the
    // tolerance.
    int64_t lineEnd;
    uint32_t lineEndMs;
    double slopeLow, slopeHigh;
    uint32_t originMs;  // the time of frame 0
    bool gapPending;
};

void ClearHistory(History& history);
// Once per batch, before the batch is applied to the sweep.
void AppendHistory(History& history, const Frame* frames, int count, uint32_t batchTimeMs);
void MarkHistoryGap(History& history);
int64_t OldestHistoryFrame(const History& history);
Frame HistoryFrame(const History& history, int64_t frame);
// The first frame after the newest gap at or before `frame`, or `notBefore`
// when that comes first.
int64_t HistoryRunStart(const History& history, int64_t frame, int64_t notBefore);
// Milliseconds from frame 0 to `frame`'s arrival, within the tolerance.
uint32_t HistoryFrameMs(const History& history, int64_t frame);
// 1234567 as "1,234,567".
int FormatGrouped(char* text, int size, int64_t value);
bool HistoryGapBefore(const History& history, int64_t frame);

// A screen of history is the kSweepWidth columns of `framesPerColumn` frames
// that end just before frame `end`; near the oldest frame it starts there.
int64_t HistoryScreenStart(const History& history, int64_t end, int32_t framesPerColumn);
// `end` moved by `delta` frames, kept to whole screens within the history.
int64_t MoveHistoryEnd(const History& history, int64_t end, int64_t delta, int32_t framesPerColumn);
void BuildHistoryScreen(const History& history, int64_t end, int32_t framesPerColumn, SweepPicture& picture);

// `history −12.3 s (frame 1,234,567)` for the screen ending before `end`,
// counted back from frame `newest`.
int FormatHistoryPosition(const History& history, int64_t end, int64_t newest, char* text, int size);
// One part per colour: the frame number and time, then each trace's value,
// `min..max` when the column holds more than one frame.
constexpr int kReadoutPart = 48;
void FormatColumnReadout(const History& history, const Column& column, char (*parts)[kReadoutPart]);
