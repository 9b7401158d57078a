#include <gtest/gtest.h>

#include <vector>

#include "scope_settings.h"
#include "sweep_state.h"

namespace {

Frame F(int16_t v1)
{
    return {{0, v1, 0, 0}};
}

TEST(ScaleRow, KeepsTheFixedScaleAtUnitGainAndClampsBeyondTheWindow)
{
    for (int v = -32768; v <= 32767; ++v)
        ASSERT_EQ(ScaleRow(v, 1, 0), ToPlotRow(static_cast<uint16_t>(v))) << v;
    const struct {
        int32_t value, gain, centre;
        int row;
    } cases[] = {
        {-1, 1, 0, 257},           // a floor, not a truncation toward the centre
        {32767, 256, -32768, 1},   // no overflow at the extremes
        {-32768, 256, 32767, 512},
        {0, 16, 2048, 512},        // a 12-bit converter fills the grid
        {4095, 16, 2048, 1},
        {100, 256, 0, 56},         // +-100 counts become visible
        {-100, 256, 0, 456},
    };
    for (const auto& c : cases) EXPECT_EQ(ScaleRow(c.value, c.gain, c.centre), c.row) << c.value << " x" << c.gain;
}

// A one-frame glitch among a column's frames still reaches its bar.
TEST(Timebase, ColumnBarsKeepEveryFramesExtremes)
{
    for (int spikeAt : {0, 50, 99}) {
        static SweepState state;
        InitSweep(state);
        state.scope.framesPerColumn = 100;
        RestartSweep(state);
        BeginTick(state);
        for (int column = 0; column < 3; ++column)
            for (int i = 0; i < 100; ++i) ApplyFrame(state, F(column == 1 && i == spikeAt ? 30000 : 0), 0);
        EXPECT_EQ(state.picture.cursor, 2);
        const ColumnCell& cell = state.picture.column[1].trace[1];
        EXPECT_EQ(cell.max, 30000) << spikeAt;
        EXPECT_EQ(cell.first, spikeAt == 0 ? 30000 : 0);
        EXPECT_EQ(cell.last, spikeAt == 99 ? 30000 : 0);
        int barTop = 0;
        const PaintCallbacks callbacks = {[](void* c, int, int x0, int y0, int x1, int) {
                                              if (x0 == 1 && x1 == 1) *static_cast<int*>(c) = y0;
                                          },
                                          [](void*, int) {}};
        PaintTraces(state.picture, state.scope, 0, kSweepWidth, callbacks, &barTop);
        EXPECT_EQ(barTop, ScaleRow(30000, 1, 0));
    }
}

struct Edge {
    const char* name;
    TriggerEdge edge;
    std::vector<int16_t> values;
    int firesAt;  // index of the firing frame, -1 for none
};

// Level 1000 at x1: a hysteresis of 512 counts.
TEST(Trigger, FiresOnTheEdgeBeyondTheHysteresisOnly)
{
    const Edge cases[] = {
        {"clean rise", TriggerEdge::Rise, {0, 400, 900, 1100, 1500}, 3},
        {"noise inside the hysteresis", TriggerEdge::Rise, {900, 1100, 800, 1200, 700, 1001}, -1},
        {"starts beyond the level", TriggerEdge::Rise, {2000, 1500, 1200, 1100}, -1},
        {"reaching the level fires", TriggerEdge::Rise, {488, 1000}, 1},
        {"clean fall", TriggerEdge::Fall, {2000, 1600, 1100, 900}, 3},
        {"noise inside, falling", TriggerEdge::Fall, {1100, 900, 1200, 800}, -1},
        {"starts below, falling", TriggerEdge::Fall, {0, 500, 900}, -1},
        {"falling to the level fires", TriggerEdge::Fall, {1512, 1000}, 1},
    };
    for (const Edge& c : cases) {
        SCOPED_TRACE(c.name);
        static SweepState state;
        InitSweep(state);
        state.scope.mode = TriggerMode::Normal;
        state.scope.edge = c.edge;
        state.scope.level = 1000;
        RestartSweep(state);
        int firedAt = -1;
        for (size_t i = 0; i < c.values.size(); ++i) {
            ApplyFrame(state, F(c.values[i]), 0);
            if (firedAt < 0 && state.phase == TriggerPhase::Sweeping) firedAt = static_cast<int>(i);
        }
        EXPECT_EQ(firedAt, c.firesAt);
        if (firedAt >= 0) {
            EXPECT_EQ(state.picture.column[0].trace[1].first, c.values[firedAt]) << "starts the sweep";
        }
    }
}

// A triangle of period 200 frames around level 0, or a flat line below it,
// on a scripted clock at 1 ms per frame.
struct TriangleRun {
    SweepState state;
    uint32_t nowMs = 0;
    int frame = 0;
    void Run(int frames, bool flat = false)
    {
        BeginTick(state);
        for (int i = 0; i < frames; ++i, ++frame, ++nowMs) {
            const int16_t v = flat ? -5000 : static_cast<int16_t>((frame % 200 < 100) ? frame % 200 * 100 - 5000 : 15000 - frame % 200 * 100);
            ApplyFrame(state, F(v), nowMs);
        }
    }
};

TEST(Trigger, ModesHoldRearmAndRunFreeAsTheUserChose)
{
    static TriangleRun run;
    InitSweep(run.state);
    run.state.scope.mode = TriggerMode::Normal;
    RestartSweep(run.state);
    EXPECT_EQ(run.state.phase, TriggerPhase::Waiting);
    run.Run(1200);
    EXPECT_EQ(run.state.phase, TriggerPhase::Waiting) << "a full sweep, then re-armed";
    const Column held = run.state.picture.column[500];
    run.Run(150, true);
    EXPECT_EQ(run.state.picture.column[500].trace[1].first, held.trace[1].first) << "Normal holds without an edge";
    run.Run(300);
    EXPECT_EQ(run.state.phase, TriggerPhase::Sweeping) << "and sweeps on the next";
    EXPECT_EQ(run.state.picture.column[0].trace[1].first, 0);

    run.state.scope.mode = TriggerMode::Auto;
    RestartSweep(run.state);
    EXPECT_EQ(run.state.picture.column[0].frames, 0) << "a mode change clears";
    run.Run(249, true);
    EXPECT_EQ(run.state.phase, TriggerPhase::Waiting);
    run.Run(2, true);
    EXPECT_EQ(run.state.phase, TriggerPhase::AutoSweeping) << "Auto runs free after 250 ms";

    run.state.scope.mode = TriggerMode::Single;
    RestartSweep(run.state);
    run.Run(2000);
    EXPECT_EQ(run.state.phase, TriggerPhase::Stopped) << "Single captures one sweep";
    const int16_t captured = run.state.picture.column[700].trace[1].first;
    run.Run(500);
    EXPECT_EQ(run.state.picture.column[700].trace[1].first, captured);
    RearmTrigger(run.state);
    EXPECT_EQ(run.state.phase, TriggerPhase::Waiting);
}

TEST(ScopeSettings, ReadValuesOrFallBackAndShowWhatIsInForce)
{
    EXPECT_EQ(ParseChoice("3", kGains, kGainCount, 1), 1);
    EXPECT_EQ(ParseChoice("16", kGains, kGainCount, 1), 16);
    EXPECT_EQ(ParseChoice("16x", kGains, kGainCount, 1), 1);
    EXPECT_EQ(ParseClamped("99999", -32768, 32767, 0), 32767);
    EXPECT_EQ(ParseClamped("-2048", -32768, 32767, 0), -2048);
    EXPECT_EQ(ParseClamped("99999999999999999999", -32768, 32767, 0), 32767);
    EXPECT_EQ(ParseClamped("", -32768, 32767, 7), 7);
    EXPECT_EQ(ParseTriggerMode("normal"), TriggerMode::Normal);
    EXPECT_EQ(ParseTriggerMode("foo"), TriggerMode::Off);

    ScopeSettings scope = DefaultScope();
    char text[160];
    EXPECT_EQ(FormatScopeLine(scope, TriggerPhase::FreeRun, 11520, false, text, sizeof text), 0);
    scope.framesPerColumn = 100;
    scope.gain[1] = 16;
    scope.centre[1] = 2048;
    scope.mode = TriggerMode::Normal;
    scope.level = 1000;
    FormatScopeLine(scope, TriggerPhase::Waiting, 11520, true, text, sizeof text);
    EXPECT_STREQ(text, "100 frames/col 278 ms/div | y1 x16 c2048 | trig y1 rise 1000 Norm WAIT | FROZEN");
}

}  // namespace
