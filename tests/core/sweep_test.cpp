#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "scope_settings.h"
#include "sweep_state.h"

namespace {

struct Segment {
    int trace, x0, y0, x1, y1;
    bool operator==(const Segment&) const = default;
};

struct Drawing {
    std::vector<Segment> segments;
    std::vector<int> gaps;
};

Drawing Paint(const SweepState& state, int left = 0, int right = kSweepWidth)
{
    Drawing drawing;
    const PaintCallbacks callbacks = {
        [](void* c, int trace, int x0, int y0, int x1, int y1) {
            static_cast<Drawing*>(c)->segments.push_back({trace, x0, y0, x1, y1});
        },
        [](void* c, int x) { static_cast<Drawing*>(c)->gaps.push_back(x); }};
    PaintTraces(state.picture, state.scope, left, right, callbacks, &drawing);
    return drawing;
}

Frame F(int16_t v1, int16_t v2 = 0, int16_t v3 = 0)
{
    return {{0, v1, v2, v3}};
}

// A sweep as Start leaves it, the last point being `last`; `scope` changes
// the settings first.
SweepState& Started(int16_t last = 0, void (*scope)(ScopeSettings&) = nullptr)
{
    static SweepState state;
    InitSweep(state);
    if (scope) scope(state.scope);
    state.raw[1] = last;
    ResetSweep(state);
    return state;
}

// Frames of a ramp on y1 (or of `v`), one per millisecond of a scripted clock.
void Tick(SweepState& state, int count, int from = 0, bool ramp = true)
{
    static uint32_t nowMs;
    BeginTick(state);
    for (int i = 0; i < count; ++i) ApplyFrame(state, F(static_cast<int16_t>(ramp ? from + i : from)), ++nowMs);
    EndTick(state);
}

int Row(int v)
{
    return ToPlotRow(static_cast<uint16_t>(v));
}

TEST(Sweep, EachFrameTakesAColumnJoinedToTheLastPoint)
{
    SweepState& state = Started(-32768);
    BeginTick(state);
    for (const Frame& frame : {F(32767, 0, -1), F(32767, 0, -1), F(0, 0, -1)}) ApplyFrame(state, frame, 0);
    EndTick(state);
    EXPECT_EQ(state.changedLeft, 1);
    EXPECT_EQ(state.changedRight, 3);
    EXPECT_FALSE(state.changedAll);
    const Drawing drawing = Paint(state);
    EXPECT_EQ(std::vector<Segment>(drawing.segments.begin(), drawing.segments.begin() + 3),
              (std::vector<Segment>{{1, 0, 512, 1, 1}, {1, 1, 1, 2, 1}, {1, 2, 1, 3, 256}}));
    EXPECT_EQ(drawing.segments.back(), (Segment{3, 2, 257, 3, 257}));
    EXPECT_EQ(Paint(state, 3, 4).segments.size(), 6u) << "a paint of column 3 redraws the joins that reach it";

    Tick(state, 0);
    EXPECT_LT(state.changedRight, state.changedLeft) << "a tick without frames changes nothing";
    EXPECT_EQ(Paint(state).segments, drawing.segments);
    EXPECT_EQ(state.tickCount, 2);
    state.tickCount = INT_MAX;
    Tick(state, 0);
    EXPECT_EQ(state.tickCount, INT_MIN) << "wraps as two's complement";
}

// Frames land at columns 1..1022; the next one opens a new sweep at column 0,
// so the view is the bare grid plus what followed the wrap.
TEST(Sweep, WrapInsideATickRepaintsAllAndKeepsOnlyWhatFollowed)
{
    const struct {
        int frames, cursor;
    } cases[] = {{1022, 1022}, {1023, 0}, {1030, 7}, {3000, 3000 - 2 * 1023}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        SweepState& state = Started();
        Tick(state, c.frames, 1);
        EXPECT_EQ(state.picture.cursor, c.cursor);
        EXPECT_EQ(state.changedAll, c.frames > 1022);
        const Drawing drawing = Paint(state);
        ASSERT_EQ(drawing.segments.size(), 3u * c.cursor);
        if (c.cursor == 0) continue;
        // The newest frames, one a column, counted back from the cursor.
        EXPECT_EQ(drawing.segments[c.cursor - 1], (Segment{1, c.cursor - 1, Row(c.frames - 1), c.cursor, Row(c.frames)}));
    }
}

TEST(Sweep, StartJoinsTheLastPointAndAGapIsNeverJoined)
{
    SweepState& state = Started();
    Tick(state, 40, 100);
    ResetSweep(state);
    EXPECT_EQ(state.tickCount, 1);
    EXPECT_TRUE(Paint(state).segments.empty()) << "a fresh sweep";
    Tick(state, 10, -5);
    EXPECT_EQ(Paint(state).segments.front(), (Segment{1, 0, Row(139), 1, Row(-5)}));
    MarkGap(state);
    Tick(state, 3, 500);
    const Drawing drawing = Paint(state);
    EXPECT_EQ(drawing.gaps, std::vector<int>{11});
    EXPECT_EQ(drawing.segments.size(), 3u * 12) << "every column but the one after the gap";
    for (const Segment& s : drawing.segments) EXPECT_NE(s.x1, 11);
}

TEST(Scope, ScaleKeepsTheFixedScaleAtUnitGainAndClampsBeyondTheWindow)
{
    for (int v = -32768; v <= 32767; ++v) {
        ASSERT_EQ(ScaleRow(v, 1, 0), Row(v)) << v;
        ASSERT_GE(Row(v), Row(std::min(v + 1, 32767))) << "rows never go down as values go up: " << v;
    }
    const struct {
        int32_t value, gain, centre;
        int row;
    } cases[] = {
        {32767, 1, 0, 1}, {0, 1, 0, 256}, {-32768, 1, 0, 512},
        {-1, 1, 0, 257},  // a floor, not a truncation toward the centre
        {32767, 256, -32768, 1}, {-32768, 256, 32767, 512},  // no overflow
        {0, 16, 2048, 512}, {4095, 16, 2048, 1},            // a 12-bit converter fills the grid
        {100, 256, 0, 56}, {-100, 256, 0, 456},             // +-100 counts become visible
    };
    for (const auto& c : cases) EXPECT_EQ(ScaleRow(c.value, c.gain, c.centre), c.row) << c.value << " x" << c.gain;
}

// A one-frame glitch among a column's 100 frames still reaches its bar.
TEST(Scope, ColumnBarsKeepEveryFramesExtremes)
{
    for (int spikeAt : {0, 50, 99}) {
        SweepState& state = Started(0, [](ScopeSettings& s) { s.framesPerColumn = 100; });
        RestartSweep(state);
        Tick(state, 100 + spikeAt, 0, false);
        Tick(state, 1, 30000);
        Tick(state, 199 - spikeAt, 0, false);
        EXPECT_EQ(state.picture.cursor, 2);
        const Drawing drawing = Paint(state);
        EXPECT_NE(std::find(drawing.segments.begin(), drawing.segments.end(), Segment{1, 1, Row(30000), 1, 257}),
                  drawing.segments.end())
            << spikeAt;
    }
}

// Level 1000 at x1, so a hysteresis of 512 counts.
TEST(Scope, TriggerFiresOnTheEdgeBeyondTheHysteresisOnly)
{
    const struct {
        const char* name;
        TriggerEdge edge;
        std::vector<int16_t> values;
        int firesAt;
    } cases[] = {
        {"clean rise", TriggerEdge::Rise, {0, 400, 900, 1100, 1500}, 3},
        {"noise inside the hysteresis", TriggerEdge::Rise, {900, 1100, 800, 1200, 700, 1001}, -1},
        {"starts beyond the level", TriggerEdge::Rise, {2000, 1500, 1200, 1100}, -1},
        {"reaching the level fires", TriggerEdge::Rise, {488, 1000}, 1},
        {"clean fall", TriggerEdge::Fall, {2000, 1600, 1100, 900}, 3},
        {"noise inside, falling", TriggerEdge::Fall, {1100, 900, 1200, 800}, -1},
        {"starts below, falling", TriggerEdge::Fall, {0, 500, 900}, -1},
        {"falling to the level fires", TriggerEdge::Fall, {1512, 1000}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        static TriggerEdge edge;
        edge = c.edge;
        SweepState& state = Started(0, [](ScopeSettings& s) { s.mode = TriggerMode::Normal, s.edge = edge, s.level = 1000; });
        int firedAt = -1;
        for (size_t i = 0; i < c.values.size() && firedAt < 0; ++i) {
            ApplyFrame(state, F(c.values[i]), 0);
            if (state.phase == TriggerPhase::Sweeping) firedAt = static_cast<int>(i);
        }
        EXPECT_EQ(firedAt, c.firesAt);
        EXPECT_EQ(state.picture.column[0].trace[1].first, firedAt < 0 ? 0 : c.values[firedAt]) << "starts the sweep";
    }
}

// A triangle of period 200 frames around level 0, or a flat line below it.
void Triangle(SweepState& state, int frames)
{
    static int frame;
    for (int i = 0; i < frames; ++i, ++frame) {
        const int phase = frame % 200;
        Tick(state, 1, phase < 100 ? phase * 100 - 5000 : 15000 - phase * 100);
    }
}

TEST(Scope, TriggerModesHoldRearmAndRunFree)
{
    SweepState& state = Started(0, [](ScopeSettings& s) { s.mode = TriggerMode::Normal; });
    EXPECT_EQ(state.phase, TriggerPhase::Waiting);
    Triangle(state, 1200);
    EXPECT_EQ(state.phase, TriggerPhase::Waiting) << "a full sweep, then re-armed";
    const int16_t held = state.picture.column[500].trace[1].first;
    Tick(state, 150, -5000, false);
    EXPECT_EQ(state.picture.column[500].trace[1].first, held) << "Normal holds without an edge";
    Triangle(state, 300);
    EXPECT_EQ(state.phase, TriggerPhase::Sweeping) << "and sweeps from the next";

    state.scope.mode = TriggerMode::Auto;
    RestartSweep(state);
    EXPECT_EQ(state.picture.column[0].frames, 0) << "a mode change clears";
    Tick(state, 250, -5000, false);
    EXPECT_EQ(state.phase, TriggerPhase::Waiting);
    Tick(state, 1, -5000, false);
    EXPECT_EQ(state.phase, TriggerPhase::AutoSweeping) << "Auto runs free after 250 ms";

    state.scope.mode = TriggerMode::Single;
    RestartSweep(state);
    Triangle(state, 2000);
    EXPECT_EQ(state.phase, TriggerPhase::Stopped) << "Single captures one sweep";
    const int16_t captured = state.picture.column[700].trace[1].first;
    Triangle(state, 500);
    EXPECT_EQ(state.picture.column[700].trace[1].first, captured);
    RearmTrigger(state);
    EXPECT_EQ(state.phase, TriggerPhase::Waiting);
}

TEST(Scope, SettingsTextsReadAndShowWhatIsInForce)
{
    EXPECT_EQ(ParseChoice("16x", kGains, kGainCount, 1), 1);
    EXPECT_EQ(ParseClamped("99999999999999999999", -32768, 32767, 0), 32767);
    EXPECT_EQ(ParseClamped("", -32768, 32767, 7), 7);
    ScopeSettings scope = DefaultScope();
    char text[160];
    EXPECT_EQ(FormatScopeLine(scope, TriggerPhase::FreeRun, 11520, false, text, sizeof text), 0);
    scope.framesPerColumn = 100, scope.gain[1] = 16, scope.centre[1] = 2048;
    scope.mode = TriggerMode::Normal, scope.level = 1000;
    FormatScopeLine(scope, TriggerPhase::Waiting, 11520, true, text, sizeof text);
    EXPECT_STREQ(text, "100 frames/col 278 ms/div | y1 x16 c2048 | trig y1 rise 1000 Norm WAIT | FROZEN");
}

}  // namespace
