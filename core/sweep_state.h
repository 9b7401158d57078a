// Acquisition core: the byte stream cut into frames, the sweep that lays the
// frames out in columns, the trigger that starts a sweep, and the paint that
// draws the stored columns. Platform-free: the Win32 shell owns the records
// and hands them in, with callbacks for drawing.
#pragma once

#include <cstdint>

constexpr int kFrameSize = 8;
constexpr uint8_t kFrameMarker1 = 0x11;
constexpr uint8_t kFrameMarker2 = 0x55;
constexpr int kTraceCount = 3;
constexpr int kSweepWidth = 1024;
constexpr int kGridRows = 512;
// The most one pass of the link takes from the driver: about 50 ms at the fastest speed.
constexpr int kReceiveCapacity = 65536;
constexpr int kMaxFramesPerTick = kReceiveCapacity / kFrameSize + 1;

// Arrays are indexed by trace number 1..3; index 0 is unused so that the
// code reads like the trace numbers the user sees (y1, y2, y3).
struct Frame {
    int16_t value[kTraceCount + 1];
};

// Bytes read and not yet taken: a frame cut by the end of a read waits here.
struct ReceiveArea {
    uint8_t bytes[kReceiveCapacity + kFrameSize];
    int length;
    uint32_t skippedBytes;
};

Frame DecodeFrame(const uint8_t* bytes);
// Takes every whole frame held, skipping (and counting) bytes that do not
// start one; returns how many were written to `frames`.
int TakeFrames(ReceiveArea& area, Frame* frames, int maxFrames);

// ---------------------------------------------------------------- scope

enum class TriggerMode : uint8_t { Off, Auto, Normal, Single };
enum class TriggerEdge : uint8_t { Rise, Fall };
enum class TriggerPhase : uint8_t { FreeRun, Waiting, Sweeping, AutoSweeping, Stopped };

constexpr int kTimebaseCount = 10;
extern const int32_t kTimebases[kTimebaseCount];
constexpr int32_t kMaxGain = 256;
constexpr uint32_t kAutoTriggerMs = 250;
constexpr int32_t kHysteresisRows = 4;

struct ScopeSettings {
    int32_t framesPerColumn;
    int32_t gain[kTraceCount + 1];
    int32_t centre[kTraceCount + 1];
    TriggerMode mode;
    int32_t source;
    TriggerEdge edge;
    int32_t level;
    // The column the trigger frame lands in; the columns left of it show the
    // frames before it, taken from the history.
    int32_t triggerPosition;
};

constexpr int32_t kDefaultTriggerPosition = 128;

ScopeSettings DefaultScope();
int ScaleRow(int32_t value, int32_t gain, int32_t centre);
int32_t HysteresisCounts(const ScopeSettings& scope);

// ---------------------------------------------------------------- sweep

// What the frames of one column came to, per trace.
struct ColumnCell {
    int16_t first, min, max, last;
};
// The sweep's and the history's columns gather their frames alike.
void AddToCell(ColumnCell& cell, int16_t value);
struct Column {
    ColumnCell trace[kTraceCount + 1];
    uint16_t frames;
    bool afterGap;
    int64_t firstFrame;  // its number in the history
};
// Columns 0..cursor belong to the sweep on screen.
struct SweepPicture {
    Column column[kSweepWidth];
    int32_t cursor;
};

struct History;

struct SweepState {
    SweepPicture picture;
    // Where a trigger finds the frames before it and gaps are marked; null:
    // no history is kept.
    History* history;
    int64_t nextFrame;  // the history's number for the next frame applied
    ScopeSettings scope;
    int16_t raw[kTraceCount + 1];
    int32_t tickCount;
    bool gapPending;
    TriggerPhase phase;
    bool armed;
    bool waitStarted;
    uint32_t waitStartMs;
    // Since BeginTick: the frames applied, the columns changed, and
    // `changedAll` after a new sweep.
    int32_t framesThisTick;
    int32_t changedLeft, changedRight;
    bool changedAll;
};

void InitSweep(SweepState& state);
// At Start: a fresh sweep joined to the last point, trigger re-armed, frames
// numbered on from the history's newest.
void ResetSweep(SweepState& state);
void BeginTick(SweepState& state);
void ApplyFrame(SweepState& state, const Frame& frame, uint32_t nowMs);
void EndTick(SweepState& state);
// The port came back: the next column starts after a gap (in the history
// too), and the trigger re-arms.
void MarkGap(SweepState& state);
// Clears the view and starts over, as a timebase or trigger mode change does.
void RestartSweep(SweepState& state);
void RearmTrigger(SweepState& state);

struct PaintCallbacks {
    void (*segment)(void* context, int trace, int x0, int y0, int x1, int y1);
    void (*gap)(void* context, int x);
};
// Draws the stored columns whose pixels may fall within left..right.
void PaintTraces(const SweepPicture& picture, const ScopeSettings& scope, int left, int right,
                 const PaintCallbacks& callbacks, void* context);
