#include "sweep_state.h"

#include <cstring>

#include "history.h"

const int32_t kTimebases[kTimebaseCount] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};

namespace {

constexpr int kCentreRow = kGridRows / 2;

int16_t BigEndianAt(const uint8_t* bytes)
{
    return static_cast<int16_t>((bytes[0] << 8) | bytes[1]);
}

int32_t Clamp(int32_t value, int32_t low, int32_t high)
{
    return value < low ? low : (value > high ? high : value);
}

void NoteChanged(SweepState& state, int32_t x)
{
    if (x < state.changedLeft) state.changedLeft = x;
    if (x > state.changedRight) state.changedRight = x;
}

void StartColumn(SweepState& state, int32_t x, const Frame& frame, int64_t index)
{
    Column& column = state.picture.column[x];
    column.firstFrame = index;
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        const int16_t v = frame.value[trace];
        column.trace[trace] = {v, v, v, v};
    }
    column.frames = 1;
    column.afterGap = state.gapPending;
    state.gapPending = false;
    state.picture.cursor = x;
    NoteChanged(state, x);
}

int64_t CurrentFrame(const SweepState& state)
{
    return state.nextFrame - 1;
}

void AddToColumn(Column& column, const Frame& frame)
{
    for (int trace = 1; trace <= kTraceCount; ++trace) AddToCell(column.trace[trace], frame.value[trace]);
    ++column.frames;
}

void StartSweepWith(SweepState& state, const Frame& frame)
{
    StartColumn(state, 0, frame, CurrentFrame(state));
    state.changedAll = true;
}

// The first frame that may show left of the trigger frame `index`: as far
// back as the trigger position reaches, within what the history holds since
// its last gap.
int64_t FirstFrameBefore(const SweepState& state, int64_t index)
{
    const History* history = state.history;
    int64_t from = index - int64_t{state.scope.framesPerColumn} * state.scope.triggerPosition;
    if (!history || index > history->total) return index;
    const int64_t oldest = OldestHistoryFrame(*history);
    if (from < oldest) from = oldest;
    return HistoryRunStart(*history, index, from);
}

// The trigger frame lands in the column of the trigger position, after the
// frames that came before it.
void StartTriggeredSweep(SweepState& state, const Frame& frame)
{
    const int64_t index = CurrentFrame(state);
    const int32_t perColumn = state.scope.framesPerColumn;
    const int32_t position = state.scope.triggerPosition;
    for (int x = 0; x <= position; ++x) state.picture.column[x].frames = 0;
    const int64_t first = FirstFrameBefore(state, index);
    // A gap since the last sweep is marked where the frames after it begin,
    // and not at all when they begin further back than the columns reach.
    if (state.history && !HistoryGapBefore(*state.history, first)) state.gapPending = false;
    for (int64_t at = first; at < index; ++at) {
        const int32_t x = position - static_cast<int32_t>((index - at + perColumn - 1) / perColumn);
        Column& column = state.picture.column[x];
        if (column.frames == 0)
            StartColumn(state, x, HistoryFrame(*state.history, at), at);
        else
            AddToColumn(column, HistoryFrame(*state.history, at));
    }
    StartColumn(state, position, frame, index);
    state.changedAll = true;
}

void ClearPicture(SweepState& state)
{
    state.picture.cursor = 0;
    state.picture.column[0].frames = 0;
    state.changedAll = true;
}

void Wait(SweepState& state)
{
    state.phase = TriggerPhase::Waiting;
    state.armed = false;
    state.waitStarted = false;
}

void EndSweep(SweepState& state)
{
    if (state.scope.mode == TriggerMode::Single)
        state.phase = TriggerPhase::Stopped;
    else
        Wait(state);
}

// Adds the frame to the column being filled, or opens the next one; false
// when the sweep is full and the frame belongs to the next sweep.
bool Accumulate(SweepState& state, const Frame& frame)
{
    SweepPicture& picture = state.picture;
    Column& column = picture.column[picture.cursor];
    if (column.frames == 0) {
        StartColumn(state, picture.cursor, frame, CurrentFrame(state));
        return true;
    }
    if (column.frames < state.scope.framesPerColumn) {
        AddToColumn(column, frame);
        NoteChanged(state, picture.cursor);
        return true;
    }
    if (picture.cursor + 1 >= kSweepWidth - 1) return false;
    StartColumn(state, picture.cursor + 1, frame, CurrentFrame(state));
    return true;
}

// Arms once the source has been beyond the level by the hysteresis, and fires
// on the first frame that reaches the level.
bool TriggerFires(SweepState& state, const Frame& frame)
{
    const ScopeSettings& scope = state.scope;
    const int32_t v = frame.value[scope.source];
    const int32_t hysteresis = HysteresisCounts(scope);
    const bool rise = scope.edge == TriggerEdge::Rise;
    if (rise ? v <= scope.level - hysteresis : v >= scope.level + hysteresis) state.armed = true;
    if (!state.armed || (rise ? v < scope.level : v > scope.level)) return false;
    state.armed = false;
    return true;
}

}  // namespace

void AddToCell(ColumnCell& cell, int16_t value)
{
    if (value < cell.min) cell.min = value;
    if (value > cell.max) cell.max = value;
    cell.last = value;
}

Frame DecodeFrame(const uint8_t* bytes)
{
    Frame frame = {};
    for (int trace = 1; trace <= kTraceCount; ++trace) frame.value[trace] = BigEndianAt(bytes + 2 * trace);
    return frame;
}

int TakeFrames(ReceiveArea& area, Frame* frames, int maxFrames)
{
    int taken = 0;
    int at = 0;
    while (at < area.length && taken < maxFrames) {
        if (area.bytes[at] == kFrameMarker1) {
            if (at + 1 == area.length) break;
            if (area.bytes[at + 1] == kFrameMarker2) {
                if (at + kFrameSize > area.length) break;
                frames[taken++] = DecodeFrame(area.bytes + at);
                at += kFrameSize;
                continue;
            }
        }
        ++at;
        ++area.skippedBytes;
    }
    area.length -= at;
    std::memmove(area.bytes, area.bytes + at, static_cast<size_t>(area.length));
    return taken;
}

ScopeSettings DefaultScope()
{
    ScopeSettings scope = {};
    scope.framesPerColumn = 1;
    for (int trace = 1; trace <= kTraceCount; ++trace) scope.gain[trace] = 1;
    scope.source = 1;
    scope.triggerPosition = kDefaultTriggerPosition;
    return scope;
}

// 32-bit throughout, and a floor rather than a truncation, so that -1 plots
// just below the centre line as it does at the fixed scale.
int ScaleRow(int32_t value, int32_t gain, int32_t centre)
{
    const int32_t scaled = (value - centre) * gain;
    return Clamp(kCentreRow - (scaled >> 7), 1, kGridRows);
}

int32_t HysteresisCounts(const ScopeSettings& scope)
{
    return kHysteresisRows * 128 / scope.gain[scope.source];
}

void InitSweep(SweepState& state)
{
    std::memset(&state, 0, sizeof state);
    state.scope = DefaultScope();
}

void ResetSweep(SweepState& state)
{
    Column& origin = state.picture.column[0];
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        const int16_t v = state.raw[trace];
        origin.trace[trace] = {v, v, v, v};
    }
    origin.frames = static_cast<uint16_t>(state.scope.framesPerColumn);
    origin.afterGap = false;
    if (state.history) {
        MarkHistoryGap(*state.history);
        state.nextFrame = state.history->total;
    }
    origin.firstFrame = state.nextFrame - 1;
    state.picture.cursor = 0;
    state.gapPending = false;
    state.changedAll = true;
    RearmTrigger(state);
}

void BeginTick(SweepState& state)
{
    state.framesThisTick = 0;
    state.changedLeft = kSweepWidth;
    state.changedRight = -1;
    state.changedAll = false;
}

void ApplyFrame(SweepState& state, const Frame& frame, uint32_t nowMs)
{
    for (int trace = 1; trace <= kTraceCount; ++trace) state.raw[trace] = frame.value[trace];
    ++state.framesThisTick;
    ++state.nextFrame;
    switch (state.phase) {
    case TriggerPhase::FreeRun:
        if (!Accumulate(state, frame)) StartSweepWith(state, frame);
        break;
    case TriggerPhase::Waiting:
        if (!state.waitStarted) {
            state.waitStarted = true;
            state.waitStartMs = nowMs;
        }
        if (TriggerFires(state, frame)) {
            state.phase = TriggerPhase::Sweeping;
            StartTriggeredSweep(state, frame);
        } else if (state.scope.mode == TriggerMode::Auto && nowMs - state.waitStartMs >= kAutoTriggerMs) {
            state.phase = TriggerPhase::AutoSweeping;
            StartTriggeredSweep(state, frame);
        }
        break;
    case TriggerPhase::AutoSweeping:
        if (TriggerFires(state, frame)) {
            state.phase = TriggerPhase::Sweeping;
            StartTriggeredSweep(state, frame);
            break;
        }
        [[fallthrough]];
    case TriggerPhase::Sweeping:
        if (!Accumulate(state, frame)) EndSweep(state);
        break;
    case TriggerPhase::Stopped:
        break;
    }
}

void EndTick(SweepState& state)
{
    state.tickCount = static_cast<int32_t>(static_cast<uint32_t>(state.tickCount) + 1u);
}

void MarkGap(SweepState& state)
{
    state.gapPending = true;
    if (state.history) MarkHistoryGap(*state.history);
    RearmTrigger(state);
}

void RestartSweep(SweepState& state)
{
    ClearPicture(state);
    RearmTrigger(state);
}

void RearmTrigger(SweepState& state)
{
    if (state.scope.mode == TriggerMode::Off)
        state.phase = TriggerPhase::FreeRun;
    else
        Wait(state);
}

void PaintTraces(const SweepPicture& picture, const ScopeSettings& scope, int left, int right,
                 const PaintCallbacks& callbacks, void* context)
{
    const int first = left - 1 < 0 ? 0 : left - 1;
    const int last = right + 1 < picture.cursor ? right + 1 : picture.cursor;
    for (int x = first; x <= last; ++x)
        if (picture.column[x].afterGap && picture.column[x].frames) callbacks.gap(context, x);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        const int32_t gain = scope.gain[trace];
        const int32_t centre = scope.centre[trace];
        for (int x = first; x <= last; ++x) {
            const Column& column = picture.column[x];
            if (!column.frames) continue;
            const ColumnCell& cell = column.trace[trace];
            const int firstRow = ScaleRow(cell.first, gain, centre);
            if (x > 0 && !column.afterGap && picture.column[x - 1].frames)
                callbacks.segment(context, trace, x - 1, ScaleRow(picture.column[x - 1].trace[trace].last, gain, centre),
                                  x, firstRow);
            if (cell.min != cell.max)
                callbacks.segment(context, trace, x, ScaleRow(cell.max, gain, centre), x,
                                  ScaleRow(cell.min, gain, centre) + 1);
        }
    }
}
