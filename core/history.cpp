#include "history.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t kFrameMask = kHistoryFrames - 1;
constexpr int64_t kBatchMask = kHistoryBatches - 1;

int64_t OldestBatch(const History& history)
{
    return history.batchTotal > kHistoryBatches ? history.batchTotal - kHistoryBatches : 0;
}

// The newest batch that starts at or before `frame` (the oldest kept when
// none does), as its number; -1 when there are none.
int64_t BatchOf(const History& history, int64_t frame)
{
    int64_t low = OldestBatch(history), high = history.batchTotal - 1;
    if (high < low) return -1;
    while (low < high) {
        const int64_t middle = low + (high - low + 1) / 2;
        if (history.batchFirst[middle & kBatchMask] <= frame)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

// 1234567 as "1,234,567".
int PutGrouped(char* text, int size, int64_t value)
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

}  // namespace

void ClearHistory(History& history)
{
    history.total = 0;
    history.batchTotal = 0;
    history.originMs = 0;
    history.gapPending = false;
}

void AppendHistory(History& history, const Frame* frames, int count, uint32_t batchTimeMs)
{
    if (count <= 0) return;
    if (history.total == 0) history.originMs = batchTimeMs;
    const uint32_t timeMs = (batchTimeMs - history.originMs) & ~kHistoryGapBit;
    const int64_t last = (history.batchTotal - 1) & kBatchMask;
    if (!history.batchTotal || history.gapPending ||
        timeMs - (history.batchTime[last] & ~kHistoryGapBit) >= kHistoryBatchSpacingMs) {
        const int64_t at = history.batchTotal++ & kBatchMask;
        history.batchFirst[at] = history.total;
        history.batchTime[at] = timeMs | (history.gapPending && history.total > 0 ? kHistoryGapBit : 0);
        history.gapPending = false;
    }
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
    const int64_t batch = BatchOf(history, frame);
    return batch < 0 ? 0 : history.batchTime[batch & kBatchMask] & ~kHistoryGapBit;
}

int64_t HistoryBatchOf(const History& history, int64_t frame)
{
    return BatchOf(history, frame);
}

int FormatGrouped(char* text, int size, int64_t value)
{
    return PutGrouped(text, size, value);
}

int64_t HistoryRunStart(const History& history, int64_t frame, int64_t notBefore)
{
    for (int64_t b = BatchOf(history, frame); b >= 0 && b >= OldestBatch(history); --b) {
        const int64_t first = history.batchFirst[b & kBatchMask];
        if (first <= notBefore) break;
        if (history.batchTime[b & kBatchMask] & kHistoryGapBit) return first;
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
            for (int trace = 1; trace <= kTraceCount; ++trace) {
                ColumnCell& cell = column.trace[trace];
                const int16_t v = more[trace - 1];
                if (v < cell.min) cell.min = v;
                if (v > cell.max) cell.max = v;
                cell.last = v;
            }
        }
        column.frames = static_cast<uint16_t>(last - first);
        column.firstFrame = first;
        picture.cursor = x;
    }
    for (int64_t b = BatchOf(history, start); b >= 0 && b < history.batchTotal; ++b) {
        const int64_t first = history.batchFirst[b & kBatchMask];
        if (first >= end) break;
        if ((history.batchTime[b & kBatchMask] & kHistoryGapBit) && first > start)
            picture.column[(first - start) / framesPerColumn].afterGap = true;
    }
}

int FormatHistoryPosition(const History& history, int64_t end, int64_t newest, char* text, int size)
{
    const int64_t shown = end > 0 ? end - 1 : 0;
    const double seconds =
        (static_cast<double>(HistoryFrameMs(history, newest)) - HistoryFrameMs(history, shown)) / 1000.0;
    int length = std::snprintf(text, size, "history \xE2\x88\x92%.1f s (frame ", seconds);
    if (length >= size) return size - 1;
    length += PutGrouped(text + length, size - length, shown);
    if (length + 1 < size) text[length++] = ')';
    text[length] = '\0';
    return length;
}

void FormatColumnReadout(const History& history, const Column& column, char (*parts)[kReadoutPart])
{
    int length = std::snprintf(parts[0], kReadoutPart, "frame ");
    length += PutGrouped(parts[0] + length, kReadoutPart - length, column.firstFrame);
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
