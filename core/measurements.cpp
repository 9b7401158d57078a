#include "measurements.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t kFrameMask = kHistoryFrames - 1;
constexpr char kScreenMinus[] = "\xE2\x88\x92";
constexpr char kDash[] = "\xE2\x80\x94";

// step(states[trace], value, frame) for each trace of each frame, a run of
// frames that lie one after another in the ring at a time, the states in
// copies local to the run which the compiler keeps in registers: a million
// frames are measured on the window's thread.
// The history's time of a frame, as a double so that two may be subtracted
// either way round.
double FrameTimeMs(const History& history, int64_t frame)
{
    return HistoryFrameMs(history, frame);
}

template <typename State, typename Step>
void ForEachValue(const History& history, int64_t first, int64_t end, State (&states)[kTraceCount], Step step)
{
    for (int64_t at = first; at < end;) {
        const int64_t slot = at & kFrameMask;
        const int64_t count = std::min(end - at, kHistoryFrames - slot);
        const int16_t (*values)[kTraceCount] = history.value + slot;
        State local[kTraceCount];
        std::copy(states, states + kTraceCount, local);
        for (int64_t i = 0; i < count; ++i)
#pragma GCC unroll 3
            for (int trace = 0; trace < kTraceCount; ++trace) step(local[trace], values[i][trace], at + i);
        std::copy(local, local + kTraceCount, states);
        at += count;
    }
}

struct Tally {
    int32_t low = INT16_MAX, high = INT16_MIN;
    int64_t sum = 0, squares = 0;
};

struct Crossings {
    int32_t armBelow, fireFrom;
    bool armed;
    int64_t count, first, last;
};

// Rising crossings of the mean, each after the trace was an eighth of its
// p-p below it; a flat trace never arms.
void CountCrossings(const History& history, int64_t first, int64_t end, Figures& figures)
{
    Crossings crossings[kTraceCount] = {};
    for (int t = 0; t < kTraceCount; ++t) {
        const TraceFigures& trace = figures.trace[t + 1];
        const double hysteresis = (trace.max - trace.min) / 8.0;
        crossings[t].armBelow = trace.max > trace.min ? static_cast<int32_t>(std::floor(trace.mean - hysteresis)) : INT32_MIN;
        crossings[t].fireFrom = static_cast<int32_t>(std::ceil(trace.mean));
    }
    ForEachValue(history, first, end, crossings, [](Crossings& c, int32_t v, int64_t frame) {
        if (v <= c.armBelow) {
            c.armed = true;
        } else if (c.armed && v >= c.fireFrom) {
            c.armed = false;
            if (!c.count++) c.first = frame;
            c.last = frame;
        }
    });
    for (int t = 0; t < kTraceCount; ++t) {
        const Crossings& c = crossings[t];
        const double span = c.count >= 3 ? FrameTimeMs(history, c.last) - FrameTimeMs(history, c.first) : 0;
        figures.trace[t + 1].periodMs = span > 0 ? span / static_cast<double>(c.count - 1) : 0;
    }
}

// Appends to a line, cutting it short at its size.
struct Line {
    char* text;
    int size;
    int length;
};

void Put(Line& line, const char* format, ...)
{
    if (line.length >= line.size - 1) return;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(line.text + line.length, line.size - line.length, format, arguments);
    va_end(arguments);
    if (written > 0) line.length = std::min(line.length + written, line.size - 1);
}

// `value` to `decimals` places, with `minus` before it unless it shows as 0.
void PutNumber(Line& line, double value, int decimals, const char* minus)
{
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.*f", decimals, std::fabs(value));
    const bool negative = value < 0 && std::strspn(digits, "0.") != std::strlen(digits);
    Put(line, "%s%s", negative ? minus : "", digits);
}

// About `digits` significant digits: 12.5 to four is 12.50, 80 to three 80.0.
void PutSignificant(Line& line, double value, int digits, const char* minus)
{
    int whole = 1;
    for (double v = std::fabs(value); v >= 10 && whole < digits; v /= 10) ++whole;
    PutNumber(line, value, digits - whole, minus);
}

void PutFrequency(Line& line, double periodMs, int digits, const char* minus)
{
    PutSignificant(line, 1000.0 / periodMs, digits, minus);
}

struct CursorSpan {
    int64_t frames;
    double ms;
};

CursorSpan SpanBetween(const History& history, int64_t a, int64_t b)
{
    return {b - a, FrameTimeMs(history, b) - FrameTimeMs(history, a)};
}

void PutGroupedFrames(Line& line, int64_t frames)
{
    char digits[32];
    FormatGrouped(digits, sizeof digits, frames < 0 ? -frames : frames);
    Put(line, "%s%s", frames < 0 ? kScreenMinus : "", digits);
}

}  // namespace

Figures MeasureFrames(const History& history, int64_t first, int64_t end)
{
    Figures figures = {};
    if (end <= first) return figures;
    figures.frames = end - first;
    Tally tallies[kTraceCount];
    ForEachValue(history, first, end, tallies, [](Tally& t, int32_t v, int64_t) {
        t.low = std::min(t.low, v);
        t.high = std::max(t.high, v);
        t.sum += v;
        t.squares += v * v;
    });
    const double frames = static_cast<double>(figures.frames);
    for (int t = 0; t < kTraceCount; ++t)
        figures.trace[t + 1] = {static_cast<int16_t>(tallies[t].low), static_cast<int16_t>(tallies[t].high),
                                tallies[t].sum / frames, std::sqrt(tallies[t].squares / frames), 0};
    CountCrossings(history, first, end, figures);
    return figures;
}

void FormatFigureParts(const Figures& figures, char (*parts)[kFigurePart])
{
    parts[0][0] = '\0';
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        Line line = {parts[trace], kFigurePart, 0};
        parts[trace][0] = '\0';
        if (!figures.frames) continue;
        const TraceFigures& f = figures.trace[trace];
        Put(line, "y%d min ", trace);
        PutNumber(line, f.min, 0, kScreenMinus);
        Put(line, " max ");
        PutNumber(line, f.max, 0, kScreenMinus);
        Put(line, " p-p %d mean ", f.max - f.min);
        PutNumber(line, f.mean, 0, kScreenMinus);
        Put(line, " rms %.0f f ", f.rms);
        if (!f.periodMs) {
            Put(line, "%s", kDash);
            continue;
        }
        PutFrequency(line, f.periodMs, 4, kScreenMinus);
        Put(line, " Hz T ");
        PutSignificant(line, f.periodMs, 3, kScreenMinus);
        Put(line, " ms");
    }
}

void FormatCursorParts(const History& history, int64_t a, int64_t b, char (*parts)[kFigurePart])
{
    for (int part = 0; part <= kTraceCount; ++part) parts[part][0] = '\0';
    Line line = {parts[0], kFigurePart, 0};
    const int64_t frames[] = {a, b};
    for (int cursor = 0; cursor < 2; ++cursor) {
        if (frames[cursor] < 0) continue;
        Put(line, "%s%c frame ", line.length ? " " : "", "AB"[cursor]);
        PutGroupedFrames(line, frames[cursor]);
    }
    if (a < 0 || b < 0) return;
    const CursorSpan span = SpanBetween(history, a, b);
    Put(line, " \xCE\x94 ");
    PutGroupedFrames(line, span.frames);
    Put(line, " frames ");
    PutNumber(line, span.ms, 1, kScreenMinus);
    Put(line, " ms ");
    if (span.ms) PutFrequency(line, std::fabs(span.ms), 3, kScreenMinus);
    else Put(line, "%s", kDash);
    Put(line, " Hz");
    const Frame atA = HistoryFrame(history, a), atB = HistoryFrame(history, b);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        Line delta = {parts[trace], kFigurePart, 0};
        Put(delta, "\xCE\x94y%d ", trace);
        PutNumber(delta, atB.value[trace] - atA.value[trace], 0, kScreenMinus);
    }
}

int FormatFiguresTable(const Figures& figures, const History& history, int64_t a, int64_t b, char* text, int size)
{
    Line line = {text, size, 0};
    text[0] = '\0';
    Put(line, "trace\tmin\tmax\tp-p\tmean\trms\tf_Hz\tT_ms\r\n");
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        const TraceFigures& f = figures.trace[trace];
        Put(line, "y%d", trace);
        if (figures.frames) {
            Put(line, "\t%d\t%d\t%d\t", f.min, f.max, f.max - f.min);
            PutNumber(line, f.mean, 0, "-");
            Put(line, "\t%.0f\t", f.rms);
            if (f.periodMs) {
                PutFrequency(line, f.periodMs, 4, "-");
                Put(line, "\t");
                PutSignificant(line, f.periodMs, 3, "-");
            } else {
                Put(line, "\t");
            }
        } else {
            Put(line, "\t\t\t\t\t\t\t");
        }
        Put(line, "\r\n");
    }
    if (a < 0 && b < 0) return line.length;
    Put(line, "cursors\tA\tB\tframes\tms\tHz\r\n");
    for (int64_t frame : {a, b}) {
        Put(line, "\t");
        if (frame >= 0) Put(line, "%lld", static_cast<long long>(frame));
    }
    if (a >= 0 && b >= 0) {
        const CursorSpan span = SpanBetween(history, a, b);
        Put(line, "\t%lld\t", static_cast<long long>(span.frames));
        PutNumber(line, span.ms, 1, "-");
        Put(line, "\t");
        if (span.ms) PutFrequency(line, std::fabs(span.ms), 3, "-");
    } else {
        Put(line, "\t\t\t");
    }
    Put(line, "\r\n");
    return line.length;
}
