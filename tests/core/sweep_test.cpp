#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "sweep_state.h"

namespace {

struct Rect {
    int left, top, right, bottom;
    bool operator==(const Rect&) const = default;
};
constexpr Rect kWholeView = {-1, -1, -1, -1};
constexpr Rect kStatus = {10, 511, 400, 530};

struct Segment {
    int trace, x0, y0, x1, y1;
    bool operator==(const Segment&) const = default;
};

void PrintTo(const Rect& r, std::ostream* os)
{
    *os << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}
void PrintTo(const Segment& s, std::ostream* os)
{
    *os << s.trace << ":(" << s.x0 << "," << s.y0 << ")->(" << s.x1 << "," << s.y1 << ")";
}

// Stands in for the window system: records repaint requests and segments.
struct Recorder {
    std::vector<Rect> repaints;
    std::vector<Segment> segments;
};

void RecordRect(void* context, int left, int top, int right, int bottom)
{
    static_cast<Recorder*>(context)->repaints.push_back({left, top, right, bottom});
}
void RecordAll(void* context)
{
    static_cast<Recorder*>(context)->repaints.push_back(kWholeView);
}
void RecordSegment(void* context, int trace, int x0, int y0, int x1, int y1)
{
    static_cast<Recorder*>(context)->segments.push_back({trace, x0, y0, x1, y1});
}

ReceiveArea FrameOf(int16_t v1, int16_t v2, int16_t v3)
{
    ReceiveArea area = {{0x11, 0x55}};
    const int16_t values[] = {v1, v2, v3};
    for (int i = 0; i < 3; ++i) {
        area.bytes[2 + 2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(values[i]) >> 8);
        area.bytes[3 + 2 * i] = static_cast<uint8_t>(values[i]);
    }
    return area;
}

// One tick as the timer drives it, then the paint the platform delivers.
void TickAndPaint(SweepState& state, const ReceiveArea& area, Recorder& recorder)
{
    if (BeginTick(state)) ApplyFrame(state, area, RecordRect, RecordAll, &recorder);
    EndTick(state);
    PaintTraces(state, RecordSegment, &recorder);
}

TEST(Sweep, FirstTickFromZeroStateMarksColumnsZeroAndOneThenDrawsFromOrigin)
{
    SweepState state = {};
    Recorder recorder;
    ResetSweep(state);
    ASSERT_TRUE(BeginTick(state));
    ApplyFrame(state, FrameOf(0x0102, 0x0304, 0x0506), RecordRect, RecordAll, &recorder);
    EndTick(state);
    EXPECT_EQ(state.column, 2);
    EXPECT_EQ(state.tickCount, 1);
    EXPECT_EQ(recorder.repaints,
              (std::vector<Rect>{{0, 0, 2, 254}, {0, 0, 2, 250}, {0, 0, 2, 246}, kStatus}));

    PaintTraces(state, RecordSegment, &recorder);
    EXPECT_EQ(recorder.segments,
              (std::vector<Segment>{{1, 0, 0, 1, 254}, {2, 0, 0, 1, 250}, {3, 0, 0, 1, 246}}));
    EXPECT_EQ(state.prevColumn, 1);
    EXPECT_EQ(state.prevRow[1], 254);
    EXPECT_EQ(state.prevRow[2], 250);
    EXPECT_EQ(state.prevRow[3], 246);
}

TEST(Sweep, RepaintRectangleFollowsTheTraceDirection)
{
    const struct {
        const char* name;
        int16_t first, second;
        Rect expected;  // for the second tick, at column 3
    } cases[] = {
        // Falling on screen (value drops, row grows): from the old row down to the new row.
        {"falling", 0x4000, 0x0000, {1, 128, 3, 256}},
        // Rising or level: from the top of the view down to the old row.
        {"rising", 0x0000, 0x4000, {1, 0, 3, 256}},
        {"level", 0x0000, 0x0000, {1, 0, 3, 256}},
    };
    for (const auto& c : cases) {
        SweepState state = {};
        Recorder recorder;
        TickAndPaint(state, FrameOf(c.first, 0, 0), recorder);
        recorder.repaints.clear();
        TickAndPaint(state, FrameOf(c.second, 0, 0), recorder);
        ASSERT_EQ(recorder.repaints.size(), 4u) << c.name;
        EXPECT_EQ(recorder.repaints[0], c.expected) << c.name;
    }
}

TEST(Sweep, EachTickExtendsEachTraceByOneColumn)
{
    SweepState state = {};
    Recorder recorder;
    for (int tick = 0; tick < 10; ++tick) TickAndPaint(state, FrameOf(static_cast<int16_t>(tick * 128), 0, 0), recorder);
    ASSERT_EQ(recorder.segments.size(), 30u);
    for (int tick = 0; tick < 10; ++tick) {
        const Segment& s = recorder.segments[3 * tick];
        EXPECT_EQ(s.x0, tick);
        EXPECT_EQ(s.x1, tick + 1);
        EXPECT_EQ(s.y1, 256 - tick);
        if (tick > 0) {
            EXPECT_EQ(s.y0, 256 - (tick - 1));
        }
    }
}

TEST(Sweep, WrapsAtColumn1024WithAFullRepaintAndABareGrid)
{
    SweepState state = {};
    Recorder recorder;
    for (int tick = 0; tick < 1022; ++tick) TickAndPaint(state, FrameOf(0, 0, 0), recorder);
    ASSERT_EQ(state.column, 1023);
    recorder = {};

    ASSERT_TRUE(BeginTick(state));
    ApplyFrame(state, FrameOf(0x4000, 0, 0), RecordRect, RecordAll, &recorder);
    EXPECT_EQ(recorder.repaints, (std::vector<Rect>{{1022, 0, 1024, 256},
                                                    {1022, 0, 1024, 256},
                                                    {1022, 0, 1024, 256},
                                                    kStatus,
                                                    kWholeView}));
    EXPECT_EQ(state.column, 1);
    PaintTraces(state, RecordSegment, &recorder);
    EXPECT_TRUE(recorder.segments.empty()) << "the segment ending at column 1023 is never drawn";
    EXPECT_EQ(state.prevColumn, 0);
    EXPECT_EQ(state.prevRow[1], 128);

    TickAndPaint(state, FrameOf(0, 0, 0), recorder);
    EXPECT_EQ(state.column, 2);
    EXPECT_EQ(recorder.segments.front(), (Segment{1, 0, 128, 1, 256}));
}

TEST(Sweep, PaintsWithoutTicksDrawNothingVisible)
{
    SweepState state = {};
    Recorder recorder;
    PaintTraces(state, RecordSegment, &recorder);
    EXPECT_TRUE(recorder.segments.empty()) << "column 0: before the first tick";

    TickAndPaint(state, FrameOf(100, 200, 300), recorder);
    recorder = {};
    PaintTraces(state, RecordSegment, &recorder);
    ASSERT_EQ(recorder.segments.size(), 3u);
    for (const Segment& s : recorder.segments) {
        EXPECT_EQ(s.x0, s.x1);
        EXPECT_EQ(s.y0, s.y1);
    }
}

TEST(Sweep, MissedPaintsGiveOneStraightSegmentAcrossTheMissedColumns)
{
    SweepState state = {};
    Recorder recorder;
    TickAndPaint(state, FrameOf(0, 0, 0), recorder);
    for (int tick = 0; tick < 5; ++tick) {
        ASSERT_TRUE(BeginTick(state));
        ApplyFrame(state, FrameOf(0x4000, 0, 0), RecordRect, RecordAll, &recorder);
        EndTick(state);
    }
    recorder.segments.clear();
    PaintTraces(state, RecordSegment, &recorder);
    EXPECT_EQ(recorder.segments.front(), (Segment{1, 1, 256, 6, 128}));
}

TEST(Sweep, StartKeepsCountValuesAndLastPointAcrossRuns)
{
    SweepState state = {};
    Recorder recorder;
    for (int tick = 0; tick < 20; ++tick) TickAndPaint(state, FrameOf(0x2000, 5, 6), recorder);
    ResetSweep(state);
    EXPECT_EQ(state.column, 0);
    EXPECT_EQ(state.tickCount, 20);
    EXPECT_EQ(state.raw[2], 5);
    PaintTraces(state, RecordSegment, &recorder);  // the full repaint Start asks for
    recorder = {};
    TickAndPaint(state, FrameOf(0, 0, 0), recorder);
    EXPECT_EQ(recorder.segments.front(), (Segment{1, 20, 192, 1, 256}));
}

TEST(Sweep, TickWithoutAReadStillCounts)
{
    SweepState state = {};
    state.column = 5000;  // outside the sweep: no read
    EXPECT_FALSE(BeginTick(state));
    EndTick(state);
    EXPECT_EQ(state.tickCount, 1);
    EXPECT_EQ(state.column, 5000);
}

TEST(Sweep, TickCountWrapsAsTwosComplement)
{
    SweepState state = {};
    state.tickCount = INT32_MAX;
    EndTick(state);
    EXPECT_EQ(state.tickCount, INT32_MIN);
    EndTick(state);
    EXPECT_EQ(state.tickCount, INT32_MIN + 1);
    state.tickCount = -1;
    EndTick(state);
    EXPECT_EQ(state.tickCount, 0);
}

}  // namespace
