#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "sweep_state.h"

namespace {

struct Segment {
    int trace, x0, y0, x1, y1;
    bool operator==(const Segment&) const = default;
};
void PrintTo(const Segment& s, std::ostream* os)
{
    *os << s.trace << ":(" << s.x0 << "," << s.y0 << ")->(" << s.x1 << "," << s.y1 << ")";
}

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

// A sweep as Start leaves it, the last point being `last`.
SweepState* Started(int16_t last = 0)
{
    static SweepState state;
    InitSweep(state);
    state.raw[1] = last;
    ResetSweep(state);
    return &state;
}

void Tick(SweepState& state, const std::vector<Frame>& frames, uint32_t nowMs = 0)
{
    BeginTick(state);
    for (const Frame& frame : frames) ApplyFrame(state, frame, nowMs);
    EndTick(state);
}

std::vector<Frame> Ramp(int count, int from = 0)
{
    std::vector<Frame> frames;
    for (int i = 0; i < count; ++i) frames.push_back(F(static_cast<int16_t>(from + i)));
    return frames;
}

int Row(int16_t v)
{
    return ToPlotRow(static_cast<uint16_t>(v));
}

TEST(Sweep, EachFrameTakesAColumnJoinedToTheLastPoint)
{
    SweepState& state = *Started(-32768);
    Tick(state, {F(32767, 0, -1), F(32767, 0, -1), F(0, 0, -1)});
    EXPECT_EQ(state.changedLeft, 1);
    EXPECT_EQ(state.changedRight, 3);
    EXPECT_FALSE(state.changedAll);
    const std::vector<Segment> y1 = {{1, 0, 512, 1, 1}, {1, 1, 1, 2, 1}, {1, 2, 1, 3, 256}};
    const Drawing drawing = Paint(state);
    EXPECT_EQ(std::vector<Segment>(drawing.segments.begin(), drawing.segments.begin() + 3), y1);
    EXPECT_EQ(drawing.segments.size(), 9u);
    EXPECT_EQ(drawing.segments.back(), (Segment{3, 2, 257, 3, 257}));
    EXPECT_EQ(Paint(state, 3, 4).segments.size(), 6u) << "a paint of column 3 redraws the joins that reach it";
    EXPECT_EQ(state.raw[3], -1);
    EXPECT_EQ(state.tickCount, 1);
}

TEST(Sweep, TickWithoutFramesCountsAndChangesNothing)
{
    SweepState& state = *Started();
    Tick(state, Ramp(5));
    const Drawing before = Paint(state);
    Tick(state, {});
    EXPECT_LT(state.changedRight, state.changedLeft);
    EXPECT_EQ(Paint(state).segments, before.segments);
    EXPECT_EQ(state.tickCount, 2);
    state.tickCount = INT_MAX;
    Tick(state, {});
    EXPECT_EQ(state.tickCount, INT_MIN) << "wraps as two's complement";
}

// Frames land at columns 1..1022; the next one opens a new sweep at column 0,
// so the view is the bare grid plus what followed the wrap.
TEST(Sweep, WrapInsideATickRepaintsAllAndKeepsOnlyWhatFollowed)
{
    const struct {
        int frames;
        int cursor;
    } cases[] = {{1022, 1022}, {1023, 0}, {1030, 7}, {3000, 3000 - 2 * 1023}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        SweepState& state = *Started();
        Tick(state, Ramp(c.frames, 1));
        EXPECT_EQ(state.picture.cursor, c.cursor);
        EXPECT_EQ(state.changedAll, c.frames > 1022);
        EXPECT_EQ(state.raw[1], c.frames) << "the newest values";
        const Drawing drawing = Paint(state);
        ASSERT_EQ(drawing.segments.size(), 3u * c.cursor);
        if (c.cursor == 0) continue;
        // Each column holds its own frame: the newest ones, counted back from the cursor.
        const Segment last = drawing.segments[c.cursor - 1];
        EXPECT_EQ(last.x1, c.cursor);
        EXPECT_EQ(last.y1, Row(static_cast<int16_t>(c.frames)));
        EXPECT_EQ(last.y0, Row(static_cast<int16_t>(c.frames - 1)));
    }
}

TEST(Sweep, StartKeepsCountValuesAndLastPointAcrossRuns)
{
    SweepState& state = *Started();
    Tick(state, Ramp(40, 100));
    ResetSweep(state);
    EXPECT_EQ(state.tickCount, 1);
    EXPECT_EQ(state.raw[1], 139);
    EXPECT_TRUE(Paint(state).segments.empty()) << "a fresh sweep";
    Tick(state, {F(-5)});
    EXPECT_EQ(Paint(state).segments.front(), (Segment{1, 0, Row(139), 1, Row(-5)}));
}

TEST(Sweep, NoJoinAcrossAGapAndItsMarkSurvivesARepaint)
{
    SweepState& state = *Started();
    Tick(state, Ramp(10));
    MarkGap(state);
    Tick(state, Ramp(3, 500));
    const Drawing drawing = Paint(state);
    EXPECT_EQ(drawing.gaps, std::vector<int>{11});
    for (const Segment& s : drawing.segments) EXPECT_NE(s.x1, 11) << "joined across the gap";
    EXPECT_EQ(drawing.segments.size(), 3u * 12);
}

}  // namespace
