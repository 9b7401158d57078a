#include "history.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr int64_t kFrameMask = kHistoryFrames - 1;
constexpr uint32_t kTimeMask = ~kHistoryGapBit;
constexpr double kUnbounded = std::numeric_limits<double>::infinity();

int64_t OldestKnot(const History& history)
{
    return history.knotTotal > kHistoryFrames ? history.knotTotal - kHistoryFrames : 0;
}

int64_t KnotFrame(const History& history, int64_t knot)
{
    return history.knotFrame[knot & kFrameMask];
}

uint32_t KnotMs(const History& history, int64_t knot)
{
    return history.knotTime[knot & kFrameMask] & kTimeMask;
}

bool KnotAfterGap(const History& history, int64_t knot)
{
    return history.knotTime[knot & kFrameMask] & kHistoryGapBit;
}

// The newest knot at or before `frame` (the oldest kept when none is), as
// its number; -1 when there are none.
int64_t KnotOf(const History& history, int64_t frame)
{
    int64_t low = OldestKnot(history), high = history.knotTotal - 1;
    if (high < low) return -1;
    while (low < high) {
        const int64_t middle = low + (high - low + 1) / 2;
        if (KnotFrame(history, middle) <= frame)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

void AddKnot(History& history, int64_t frame, uint32_t time)
{
    const int64_t at = history.knotTotal++ & kFrameMask;
    history.knotFrame[at] = frame;
    history.knotTime[at] = time;
    history.lineEnd = frame;
    history.lineEndMs = time & kTimeMask;
    history.slopeLow = -kUnbounded;
    history.slopeHigh = kUnbounded;
}

// Frame `frame`, come at `ms`, extends the newest line when a slope is left
// that keeps it and every frame before it within the tolerance; otherwise the
// line ends at its last frame, which becomes a knot. Lines are kept shorter
// than the history so that the products below stay small.
void AddPoint(History& history, int64_t frame, uint32_t ms)
{
    const int64_t knot = history.knotTotal - 1;
    double run = static_cast<double>(frame - KnotFrame(history, knot));
    double rise = static_cast<double>(ms) - KnotMs(history, knot);
    if (rise < history.slopeLow * run || rise > history.slopeHigh * run || run > kHistoryFrames) {
        AddKnot(history, history.lineEnd, history.lineEndMs);
        run = static_cast<double>(frame - history.lineEnd);
        rise = static_cast<double>(ms) - history.lineEndMs;
    }
    history.slopeLow = std::max(history.slopeLow, (rise - kHistoryTimeToleranceMs) / run);
    history.slopeHigh = std::min(history.slopeHigh, (rise + kHistoryTimeToleranceMs) / run);
    history.lineEnd = frame;
    history.lineEndMs = ms;
}

uint32_t TimeOnLine(int64_t frame, int64_t fromFrame, uint32_t fromMs, int64_t toFrame, uint32_t toMs)
{
    if (toFrame <= fromFrame) return fromMs;
    return static_cast<uint32_t>(fromMs + (int64_t{toMs} - fromMs) * (frame - fromFrame) / (toFrame - fromFrame));
}

}  // namespace

void ClearHistory(History& history)
{
    history.total = 0;
    history.knotTotal = 0;
    history.originMs = 0;
    history.gapPending = false;
}

// A batch's frames share its time: its first and last frames are the points
// the line has to keep near it.
void AppendHistory(History& history, const Frame* frames, int count, uint32_t batchTimeMs)
{
    if (count <= 0) return;
    if (history.total == 0) history.originMs = batchTimeMs;
    const uint32_t ms = (batchTimeMs - history.originMs) & kTimeMask;
    if (history.total == 0) {
        AddKnot(history, 0, ms);
    } else if (history.gapPending) {
        if (history.lineEnd != KnotFrame(history, history.knotTotal - 1))
            AddKnot(history, history.lineEnd, history.lineEndMs);
        AddKnot(history, history.total, ms | kHistoryGapBit);
    } else {
        AddPoint(history, history.total, ms);
    }
    history.gapPending = false;
    if (count > 1) AddPoint(history, history.total + count - 1, ms);
    for (int i = 0; i < count; ++i)
        std::memcpy(history.value[(history.total + i) & kFrameMask], frames[i].value + 1, sizeof history.value[0]);
    history.total += count;
}

void MarkHistoryGap(History& history)
{
    history.gapPending = true;
}

int64_t OldestHistoryFrame(const History& history)
{
    return history.total > kHistoryFrames ? history.total - kHistoryFrames : 0;
}

Frame HistoryFrame(const History& history, int64_t frame)
{
    Frame result = {};
    std::memcpy(result.value + 1, history.value[frame & kFrameMask], sizeof history.value[0]);
    return result;
}

uint32_t HistoryFrameMs(const History& history, int64_t frame)
{
    const int64_t knot = KnotOf(history, frame);
    if (knot < 0) return 0;
    if (knot == history.knotTotal - 1)
        return TimeOnLine(frame, KnotFrame(history, knot), KnotMs(history, knot), history.lineEnd, history.lineEndMs);
    return TimeOnLine(frame, KnotFrame(history, knot), KnotMs(history, knot), KnotFrame(history, knot + 1),
                      KnotMs(history, knot + 1));
}

bool HistoryGapBefore(const History& history, int64_t frame)
{
    const int64_t knot = KnotOf(history, frame);
    return knot >= 0 && KnotFrame(history, knot) == frame && KnotAfterGap(history, knot);
}

int FormatGrouped(char* text, int size, int64_t value)
{
    char digits[24];
    const int count = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    int length = 0;
    for (int i = 0; i < count && length + 1 < size; ++i) {
        if (i && (count - i) % 3 == 0) text[length++] = ',';
        if (length + 1 < size) text[length++] = digits[i];
    }
    text[length] = '\0';
    return length;
}

int64_t HistoryRunStart(const History& history, int64_t frame, int64_t notBefore)
{
    for (int64_t k = KnotOf(history, frame); k >= 0 && k >= OldestKnot(history); --k) {
        const int64_t first = KnotFrame(history, k);
        if (first <= notBefore) break;
        if (KnotAfterGap(history, k)) return first;
    }
    return notBefore;
}

int64_t HistoryScreenStart(const History& history, int64_t end, int32_t framesPerColumn)
{
    const int64_t start = end - int64_t{kSweepWidth} * framesPerColumn;
    const int64_t oldest = OldestHistoryFrame(history);
    return start < oldest ? oldest : start;
}

int64_t MoveHistoryEnd(const History& history, int64_t end, int64_t delta, int32_t framesPerColumn)
{
    const int64_t screen = int64_t{kSweepWidth} * framesPerColumn;
    const int64_t oldest = OldestHistoryFrame(history);
    const int64_t lowest = oldest + screen < history.total ? oldest + screen : history.total;
    end += delta;
    return end < lowest ? lowest : (end > history.total ? history.total : end);
}

void BuildHistoryScreen(const History& history, int64_t end, int32_t framesPerColumn, SweepPicture& picture)
{
    const int64_t start = HistoryScreenStart(history, end, framesPerColumn);
    picture.cursor = 0;
    picture.column[0].frames = 0;
    for (int x = 0; x < kSweepWidth && start + int64_t{x} * framesPerColumn < end; ++x) {
        Column& column = picture.column[x];
        const int64_t first = start + int64_t{x} * framesPerColumn;
        const int64_t last = first + framesPerColumn < end ? first + framesPerColumn : end;
        column.afterGap = false;
        const int16_t* values = history.value[first & kFrameMask];
        for (int trace = 1; trace <= kTraceCount; ++trace) {
            const int16_t v = values[trace - 1];
            column.trace[trace] = {v, v, v, v};
        }
        for (int64_t frame = first + 1; frame < last; ++frame) {
            const int16_t* more = history.value[frame & kFrameMask];
            for (int trace = 1; trace <= kTraceCount; ++trace) AddToCell(column.trace[trace], more[trace - 1]);
        }
        column.frames = static_cast<uint16_t>(last - first);
        column.firstFrame = first;
        picture.cursor = x;
    }
    for (int64_t k = KnotOf(history, start); k >= 0 && k < history.knotTotal; ++k) {
        const int64_t first = KnotFrame(history, k);
        if (first >= end) break;
        if (KnotAfterGap(history, k) && first > start) picture.column[(first - start) / framesPerColumn].afterGap = true;
    }
}

int FormatHistoryPosition(const History& history, int64_t end, int64_t newest, char* text, int size)
{
    const int64_t shown = end > 0 ? end - 1 : 0;
    const double seconds =
        (static_cast<double>(HistoryFrameMs(history, newest)) - HistoryFrameMs(history, shown)) / 1000.0;
    int length = std::snprintf(text, size, "history \xE2\x88\x92%.1f s (frame ", seconds);
    if (length >= size) return size - 1;
    length += FormatGrouped(text + length, size - length, shown);
    if (length + 1 < size) text[length++] = ')';
    text[length] = '\0';
    return length;
}

void FormatColumnReadout(const History& history, const Column& column, char (*parts)[kReadoutPart])
{
    int length = std::snprintf(parts[0], kReadoutPart, "frame ");
    length += FormatGrouped(parts[0] + length, kReadoutPart - length, column.firstFrame);
    std::snprintf(parts[0] + length, kReadoutPart - length, "  %.3f s",
                  HistoryFrameMs(history, column.firstFrame) / 1000.0);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        const ColumnCell& cell = column.trace[trace];
        if (column.frames > 1)
            std::snprintf(parts[trace], kReadoutPart, "y%d %d..%d", trace, cell.min, cell.max);
        else
            std::snprintf(parts[trace], kReadoutPart, "y%d %d", trace, cell.first);
    }
}
