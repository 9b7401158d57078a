#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "csv_rows.h"
#include "frame_ring.h"
#include "history.h"
#include "link_health.h"
#include "measurements.h"
#include "port_identity.h"
#include "recording_reader.h"
#include "scope_settings.h"
#include "send_line.h"
#include "sweep_state.h"

namespace {

// ------------------------------------------------------------- the stream

TEST(LinkHealth, ShowsRateSilenceAndAWrongSpeed)
{
    const struct {
        uint32_t bytes, frames, skipped, lastTickMs;
        const char* text;
        int seconds = 1;  // of the same traffic
        uint32_t quietMs = 0;  // after it
    } cases[] = {
        {1440 * 8, 1440, 0, 1000, "1440 fr/s  skipped 0  overrun 0  framing 0"},
        {0, 0, 0, 1000, "no data  skipped 0  overrun 0  framing 0"},
        // A wrong speed still finds an accidental marker pair now and then.
        {9000, 3, 8976, 1000, "no frames: check the speed  skipped 8976"},
        // The last bytes came half a tick before the end: silence wins at a second.
        {9000, 3, 8976, 1000, "no frames: check the speed  skipped 8976", 1, 499},
        {9000, 3, 8976, 1000, "no data  skipped 8976  overrun 0  framing 0", 1, 500},
        {1600, 100, 800, 1000, "100 fr/s  skipped 800  overrun 0  framing 0"},  // half skipped is not most
        {800, 100, 0, 500, "0 fr/s  skipped 0  overrun 0  framing 0"},  // the second is not over
        {808, 100, 8, 1000, "100 fr/s  skipped 24  overrun 0  framing 0", 3},  // a rate per second, a count since Start
        {1000, 125, 0, 1250, "100 fr/s  skipped 0  overrun 0  framing 0"},  // a second that ended late
    };
    for (const auto& c : cases) {
        LinkHealth health;
        ResetLinkHealth(health, 5000);
        const uint32_t end = 5000 + c.lastTickMs * c.seconds;
        for (uint32_t at = 5000; at < end; at += c.lastTickMs) {
            NoteLinkTick(health, at + c.lastTickMs / 2, c.bytes, c.frames, c.skipped);
            NoteLinkTick(health, at + c.lastTickMs, 0, 0, 0);
        }
        char text[96];
        FormatLinkHealth(health, end + c.quietMs, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.quietMs;
    }
}

// The window takes frames in order; when it falls a whole ring behind, the
// oldest are dropped and counted, and what it takes is still in order.
TEST(FrameRing, KeepsOrderAndDropsTheOldestWhenTheWindowFallsBehind)
{
    const struct {
        uint32_t pushed, startAt;  // frames pushed before taking; the counts' start, near their wrap
        int takeAtOnce;
        uint32_t taken, dropped;
        uint32_t beingWritten = 0;  // claimed by the producer during the copy, not yet published
    } rows[] = {{0, 0, 100, 0, 0},
                {1000, 0, 64, 1000, 0},
                {kFrameRingCapacity, 0, kMaxFramesPerTick, kFrameRingCapacity, 0},
                {kFrameRingCapacity + 5000, 0, kMaxFramesPerTick, kFrameRingCapacity, 5000},
                {kFrameRingCapacity + 5000, UINT32_MAX - 100, kMaxFramesPerTick, kFrameRingCapacity, 5000},
                {kFrameRingCapacity, 0, kMaxFramesPerTick, kFrameRingCapacity - 10, 10, 10}};
    static FrameRing ring;
    static RingFrame out[kMaxFramesPerTick];
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pushed);
        ring.written = ring.claimed = ring.taken = row.startAt;
        for (uint32_t i = 0; i < row.pushed; ++i) {
            Frame frame = {{0, static_cast<int16_t>(i), 0, 0}};
            PushFrames(ring, &frame, 1, i, i == 0);
        }
        ring.claimed += row.beingWritten;
        uint32_t dropped = 0, taken = 0, next = row.dropped;
        for (int count; (count = TakeRingFrames(ring, out, row.takeAtOnce, &dropped)) > 0 && count <= row.takeAtOnce; taken += count)
            for (int i = 0; i < count; ++i, ++next)
                ASSERT_EQ(std::tuple(out[i].frame.value[1], out[i].timeMs, out[i].afterGap),
                          std::tuple(static_cast<int16_t>(next), next, next == 0));
        EXPECT_EQ(std::tuple(taken, dropped), std::tuple(row.taken, row.dropped));
    }
}

// The semicolon form is the e2e recording's.
TEST(CsvRows, FormatSignedValuesWithCrLfInAnyLocale)
{
    char row[kCsvRowMax];
    const int length = FormatCsvRow(row, 18446744073709551615ull, 4294967296ull, Frame{{0, -32768, 0, 32767}});
    EXPECT_EQ(std::string(row, length), "18446744073709551615,4294967296,-32768,0,32767\r\n");
}

// -------------------------------------------------------------- the sweep

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

// One tick of frames of a ramp on y1 (or of `from` alone), one per
// millisecond of a scripted clock.
void Tick(SweepState& state, int count, int from = 0, bool ramp = true)
{
    static uint32_t nowMs;
    BeginTick(state);
    for (int i = 0; i < count; ++i) ApplyFrame(state, F(static_cast<int16_t>(ramp ? from + i : from)), ++nowMs);
    EndTick(state);
}

int Row(int v)
{
    return ScaleRow(v, 1, 0);
}

TEST(Sweep, EachFrameTakesAColumnJoinedToTheLastPoint)
{
    SweepState& state = Started(-32768);
    BeginTick(state);
    for (const Frame& frame : {F(32767, 0, -1), F(32767, 0, -1), F(0, 0, -1)}) ApplyFrame(state, frame, 0);
    EndTick(state);
    EXPECT_EQ(std::tuple(state.changedLeft, state.changedRight, state.changedAll), std::tuple(1, 3, false));
    const Drawing drawing = Paint(state);
    EXPECT_EQ(std::vector<Segment>(drawing.segments.begin(), drawing.segments.begin() + 3),
              (std::vector<Segment>{{1, 0, 512, 1, 1}, {1, 1, 1, 2, 1}, {1, 2, 1, 3, 256}}));
    EXPECT_EQ(drawing.segments.back(), (Segment{3, 2, 257, 3, 257}));
    EXPECT_EQ(Paint(state, 3, 4).segments.size(), 6u) << "a paint of column 3 redraws the joins that reach it";

    Tick(state, 0);
    EXPECT_LT(state.changedRight, state.changedLeft) << "a tick without frames changes nothing";
    EXPECT_TRUE(Paint(state).segments == drawing.segments && state.tickCount == 2);
}

// Frames land at columns 1..1022; the next one opens a new sweep at column 0,
// so the view is the bare grid plus what followed the wrap.
TEST(Sweep, WrapInsideATickRepaintsAllAndKeepsOnlyWhatFollowed)
{
    for (const auto& [frames, cursor] : {std::pair(1022, 1022), std::pair(1023, 0), std::pair(1030, 7), std::pair(3000, 3000 - 2 * 1023)}) {
        SweepState& state = Started();
        Tick(state, frames, 1);
        EXPECT_EQ(std::tuple(state.picture.cursor, state.changedAll), std::tuple(cursor, frames > 1022)) << frames;
        const Drawing drawing = Paint(state);
        ASSERT_EQ(drawing.segments.size(), 3u * cursor) << frames;
        // The newest frames, one a column, counted back from the cursor.
        if (cursor > 0) {
            EXPECT_EQ(drawing.segments[cursor - 1], (Segment{1, cursor - 1, Row(frames - 1), cursor, Row(frames)}));
        }
    }
}

TEST(Sweep, StartJoinsTheLastPointAndAGapIsNeverJoined)
{
    SweepState& state = Started();
    Tick(state, 40, 100);
    ResetSweep(state);
    EXPECT_TRUE(state.tickCount == 1 && Paint(state).segments.empty()) << "a fresh sweep";
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
    for (int v = -32768; v < 32767; ++v) ASSERT_GE(Row(v), Row(v + 1)) << "rows never go down as values go up: " << v;
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
        EXPECT_EQ(std::tuple(state.changedLeft, state.changedRight), std::tuple(1, 1)) << "a column grows in a later tick";
        Tick(state, 199 - spikeAt, 0, false);
        EXPECT_EQ(state.picture.cursor, 2);
        const Drawing drawing = Paint(state);
        // The bar, and the joins from a column's last frame to the next one's first.
        for (const Segment& s : {Segment{1, 1, Row(30000), 1, 257}, Segment{1, 0, Row(0), 1, Row(spikeAt ? 0 : 30000)},
                                 Segment{1, 1, Row(spikeAt == 99 ? 30000 : 0), 2, Row(0)}})
            EXPECT_NE(std::find(drawing.segments.begin(), drawing.segments.end(), s), drawing.segments.end())
                << spikeAt << ": " << s.x0 << "," << s.y0 << " " << s.x1 << "," << s.y1;
    }
    SweepState& state = Started(0, [](ScopeSettings& s) { s.framesPerColumn = 3; });
    RestartSweep(state);
    for (int16_t v : {1000, -1000, 500}) Tick(state, 1, v);
    EXPECT_EQ(state.picture.column[0].trace[1].min, -1000) << "a dip, then a value above it";
}

// Level 1000 at x1, so a hysteresis of 512 counts.
TEST(Scope, TriggerFiresOnTheEdgeBeyondTheHysteresisOnly)
{
    const struct {
        const char* name;
        TriggerEdge edge;
        std::vector<int16_t> values;
        int firesAt;
        int32_t gain = 1;  // the source's: a finer scale, a narrower hysteresis
    } cases[] = {
        {"clean rise", TriggerEdge::Rise, {0, 400, 900, 1100, 1500}, 3},
        {"noise inside the hysteresis", TriggerEdge::Rise, {900, 1100, 800, 1200, 700, 1001}, -1},
        {"starts beyond the level", TriggerEdge::Rise, {2000, 1500, 1200, 1100}, -1},
        {"reaching the level fires", TriggerEdge::Rise, {488, 1000}, 1},
        {"clean fall", TriggerEdge::Fall, {2000, 1600, 1100, 900}, 3},
        {"noise inside, falling", TriggerEdge::Fall, {1100, 900, 1200, 800}, -1},
        {"starts below, falling", TriggerEdge::Fall, {0, 500, 900}, -1},
        {"falling to the level fires", TriggerEdge::Fall, {1512, 1000}, 1},
        {"at x16, 32 counts below arms", TriggerEdge::Rise, {968, 1000}, 1, 16},
    };
    for (const auto& c : cases) {
        static TriggerEdge edge;
        static int32_t gain;
        edge = c.edge, gain = c.gain;
        SweepState& state = Started(0, [](ScopeSettings& s) { s.mode = TriggerMode::Normal, s.edge = edge, s.level = 1000, s.gain[1] = gain; });
        int firedAt = -1;
        for (size_t i = 0; i < c.values.size() && firedAt < 0; ++i) {
            ApplyFrame(state, F(c.values[i]), 0);
            if (state.phase == TriggerPhase::Sweeping) firedAt = static_cast<int>(i);
        }
        EXPECT_EQ(firedAt, c.firesAt) << c.name;
        EXPECT_EQ(state.picture.column[kDefaultTriggerPosition].trace[1].first, firedAt < 0 ? 0 : c.values[firedAt])
            << "starts the sweep at the trigger position";
    }
}

// A triangle of period 200 frames around level 0, a frame a tick.
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
    SweepState& state = Started(0, [](ScopeSettings& s) { s.mode = TriggerMode::Normal, s.triggerPosition = 0; });
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
    Tick(state, 300, -5000, false);
    EXPECT_EQ(std::tuple(state.phase, state.picture.column[700].trace[1].first), std::tuple(TriggerPhase::Waiting, captured))
        << "Single never runs free without an edge";
}

TEST(Scope, TheLineShowsWhatIsInForce)
{
    ScopeSettings scope = DefaultScope();
    char text[160];
    EXPECT_EQ(FormatScopeLine(scope, TriggerPhase::FreeRun, 11520, false, text, sizeof text), 0);
    scope.framesPerColumn = 100, scope.gain[1] = 16, scope.centre[1] = 2048;
    scope.mode = TriggerMode::Normal, scope.level = 1000;
    FormatScopeLine(scope, TriggerPhase::Waiting, 11520, true, text, sizeof text);
    EXPECT_STREQ(text, "100 frames/col 278 ms/div | y1 x16 c2048 | trig y1 rise 1000 Norm WAIT | FROZEN");
    ScopeSettings single = DefaultScope(), moved = DefaultScope();
    single.mode = TriggerMode::Single, moved.triggerPosition = 0;
    EXPECT_FALSE(IsDefaultScope(single) || IsDefaultScope(moved));
}

// A board with no serial number of its own comes back under a new name in
// another socket; it is followed only to the one port that is new since the loss.
TEST(PortIdentity, ALostBoardIsFollowedOnlyToTheOnePortNewSinceTheLoss)
{
    const char* ch340 = "USB\\VID_1A86&PID_7523&REV_0264";
    const PortIdentity board = ParsePortIdentity(ch340, "USB\\VID_1A86&PID_7523\\5&2F1E3A0&0&2");
    const PortIdentity moved = ParsePortIdentity(ch340, "USB\\VID_1A86&PID_7523\\5&1C0FFEE&0&4");
    const PortIdentity ftdi = ParsePortIdentity("FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+A5X\\0000");
    const PortIdentity uno = ParsePortIdentity("USB\\VID_2341&PID_0043", "USB\\VID_2341&PID_0043\\7573532");
    const PortIdentity unoB = ParsePortIdentity("USB\\VID_2341&PID_0043", "USB\\VID_2341&PID_0043\\8573532");
    EXPECT_TRUE(board.known && board.serial.empty() && board.vendor == 0x1A86 && board.product == 0x7523);
    EXPECT_EQ(ftdi.serial + "|" + uno.serial, "A5X|7573532");
    EXPECT_FALSE(ParsePortIdentity("USB\\VID_1A86", "USB\\VID_1A86\\5&1").known) << "no PID";
    const PortIdentity none = ParsePortIdentity("", "ROOT\\PORTS\\0000");
    const struct {
        const char* name;
        PortIdentity lost;
        std::vector<std::string> atLoss;
        std::vector<PresentPort> now;
        std::string followed;
    } cases[] = {
        {"back under a new name", board, {"COM1"}, {{"COM1", ftdi}, {"COM9", moved}}, "COM9"},
        {"a second candidate", board, {"COM1"}, {{"COM9", moved}, {"COM10", moved}}, ""},
        {"present before the loss", board, {"com9"}, {{"COM9", moved}}, ""},
        {"no identity", none, {}, {{"COM9", none}}, ""},
        {"another board", board, {}, {{"COM9", ftdi}}, ""},
        {"the serial number decides", uno, {}, {{"COM9", unoB}, {"COM10", uno}}, "COM10"},
    };
    for (const auto& c : cases) EXPECT_EQ(FollowedPort(c.lost, c.atLoss, c.now), c.followed) << c.name;
}

// ---------------------------------------------------------- the history

History g_history;

// Frames whose y1 counts them (mod 30000), in batches of `batch` 10 ms apart
// from 70 s on the clock; the history times them from its first.
void Feed(History& history, int64_t frames, int batch = 1000)
{
    static Frame block[1000];
    for (int64_t done = 0; done < frames; done += batch) {
        const int count = static_cast<int>(std::min<int64_t>(batch, frames - done));
        for (int i = 0; i < count; ++i) block[i] = F(static_cast<int16_t>((history.total + i) % 30000));
        AppendHistory(history, block, count, static_cast<uint32_t>(70000 + history.total / batch * 10));
    }
}

// A gap at frame 5000, then a full history: batches of 1000 frames 10 ms
// apart, or each frame a batch of its own, as a slow stream comes.
TEST(History, RingKeepsTheNewestFramesWithTheirTimesAndGaps)
{
    const struct {
        int batch;
        uint32_t tolerance;
        const char* readout;
    } rows[] = {{1, 0, "frame 5,605  56.050 s"}, {1000, kHistoryTimeToleranceMs, "frame 5,605  0.056 s"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.batch);
        ClearHistory(g_history);
        Feed(g_history, 5000, row.batch);
        MarkHistoryGap(g_history);
        Feed(g_history, kHistoryFrames, row.batch);
        EXPECT_EQ(OldestHistoryFrame(g_history), 5000);
        for (int64_t frame : {int64_t{5000}, int64_t{123456}, kHistoryFrames + 4999}) {
            EXPECT_EQ(HistoryFrame(g_history, frame).value[1], frame % 30000) << frame;
            EXPECT_NEAR(HistoryFrameMs(g_history, frame), frame / row.batch * 10, row.tolerance) << frame;
        }
        EXPECT_EQ(HistoryRunStart(g_history, 9000, 0), 5000) << "the gap's mark";
        EXPECT_EQ(HistoryRunStart(g_history, 9000, 7000), 7000);
        char parts[kTraceCount + 1][kReadoutPart];
        FormatColumnReadout(g_history, Column{{}, 1, false, 5605}, parts);
        EXPECT_STREQ(parts[0], row.readout);
    }
    SweepPicture& picture = *new SweepPicture;
    BuildHistoryScreen(g_history, 5000 + 2048, 2, picture);
    EXPECT_TRUE(!picture.column[0].afterGap && !picture.column[1].afterGap) << "at the screen's first frame";
    BuildHistoryScreen(g_history, 6500, 1000, picture);
    EXPECT_EQ(std::tuple(picture.cursor, picture.column[1].frames, picture.column[1].trace[1].last), std::tuple(1, 500, 6499));
    MarkHistoryGap(g_history);
    Feed(g_history, 10);
    BuildHistoryScreen(g_history, g_history.total, 1, picture);
    EXPECT_TRUE(picture.column[1014].afterGap && !picture.column[1013].afterGap);
    BuildHistoryScreen(g_history, g_history.total, 2, picture);
    EXPECT_TRUE(picture.column[1019].afterGap && !picture.column[1018].afterGap) << "2 frames a column";
    char text[64];
    FormatHistoryPosition(g_history, g_history.total - 123456, g_history.total - 1, text, sizeof text);
    EXPECT_STREQ(text, "history \xE2\x88\x92""1.2 s (frame 4,075,857)");
    delete &picture;
    // Batches of 10 frames, 10 ms apart and then 20: the times bend with the
    // pace, the first batch spread back at it.
    ClearHistory(g_history);
    const Frame ten[10] = {};
    for (uint32_t batch = 0; batch < 40; ++batch) AppendHistory(g_history, ten, 10, batch < 20 ? batch * 10 : batch * 20 - 200);
    for (const auto& [frame, ms] : {std::pair(199, 199), std::pair(399, 589), std::pair(99, 99)})
        EXPECT_NEAR(HistoryFrameMs(g_history, frame), ms, kHistoryTimeToleranceMs) << frame;
}

// 3,000,000 frames; from the newest, `screens` screens back (negative) or on.
TEST(History, ScreenPositionAtEachTimebase)
{
    ClearHistory(g_history);
    Feed(g_history, 3000000);
    const struct {
        int32_t perColumn;
        int64_t screens, end, start;
    } rows[] = {
        {1, -1, 2998976, 2997952}, {2, -1, 2997952, 2995904}, {5, -1, 2994880, 2989760},
        {10, -2, 2979520, 2969280}, {20, -1, 2979520, 2959040}, {50, -1, 2948800, 2897600},
        {100, -1, 2897600, 2795200}, {200, -1, 2795200, 2590400}, {500, -1, 2488000, 1976000},
        {1000, -1, 1976000, 952000}, {1000, -5, 1024000, 0}, {1000, 1, 3000000, 1976000},
    };
    SweepPicture& picture = *new SweepPicture;
    for (const auto& row : rows) {
        const int64_t end = MoveHistoryEnd(g_history, g_history.total, row.screens * kSweepWidth * row.perColumn,
                                           row.perColumn);
        EXPECT_EQ(end, row.end) << row.perColumn;
        BuildHistoryScreen(g_history, end, row.perColumn, picture);
        const Column& column = picture.column[3];
        EXPECT_EQ(picture.column[0].firstFrame, row.start) << row.perColumn;
        EXPECT_EQ(picture.cursor, kSweepWidth - 1);
        EXPECT_EQ(column.trace[1].last, (row.start + 4 * row.perColumn - 1) % 30000) << row.perColumn;
        EXPECT_EQ(column.frames, row.perColumn);
    }
    delete &picture;
}

// A rising ramp from -5000, fed in batches of 50, fires at its 6000th frame.
TEST(Sweep, TriggerShowsTheFramesBeforeItLeftOfItsPosition)
{
    const struct {
        int32_t perColumn, position;
        int gapBefore;  // frames before the trigger; 0: none
        int firstColumn;
        int16_t firstValue;
        bool portLost = false;  // the gap is the sweep's, as after a reconnect
    } rows[] = {
        {1, 128, 0, 0, 1000 - 128}, {1, 0, 0, 0, 1000}, {1, 1023, 0, 0, 1000 - 1023},
        {100, 128, 0, 68, -5000}, {10, 300, 0, 0, 1000 - 3000}, {3, 10, 0, 0, 1000 - 30},
        {1, 128, 100, 28, 900}, {1, 128, 50, 78, 950}, {2, 128, 50, 103, 950},
        {5, 128, 600, 8, 400, true}, {1, 128, 600, 0, 1000 - 128, true}, {5, 116, 600, 0, 420, true},
    };
    for (const auto& row : rows) {
        static int32_t perColumn, position;
        perColumn = row.perColumn, position = row.position;
        SweepState& state = Started(0, [](ScopeSettings& s) {
            s.mode = TriggerMode::Normal, s.level = 1000, s.framesPerColumn = perColumn, s.triggerPosition = position;
        });
        ClearHistory(g_history);
        state.history = &g_history;
        ResetSweep(state);
        Frame batch[50];
        for (int16_t v = -5000; v < 1050; v = static_cast<int16_t>(v + 50)) {
            for (int i = 0; i < 50; ++i) batch[i] = F(static_cast<int16_t>(v + i));
            if (row.gapBefore && v == 1000 - row.gapBefore) row.portLost ? MarkGap(state) : MarkHistoryGap(g_history);
            AppendHistory(g_history, batch, 50, 0);
            for (const Frame& frame : batch) ApplyFrame(state, frame, 0);
        }
        SCOPED_TRACE(testing::Message() << row.perColumn << " frames/col at " << row.position);
        const Column* columns = state.picture.column;
        EXPECT_EQ(columns[row.position].trace[1].first, 1000) << "the trigger frame";
        EXPECT_EQ(columns[row.position].firstFrame, 6000);
        EXPECT_EQ(columns[row.firstColumn].trace[1].first, row.firstValue);
        EXPECT_TRUE(row.firstColumn == 0 || columns[row.firstColumn - 1].frames == 0);
        for (int x = 0; x <= row.position; ++x)
            EXPECT_EQ(columns[x].afterGap, row.portLost && x == row.firstColumn && row.firstValue == 1000 - row.gapBefore)
                << "a gap is marked where it was, if in view: " << x;
        EXPECT_EQ(columns[row.position - 1 + !row.position].trace[1].last, row.position ? 999 : 1000);
    }
}

// ------------------------------------------------------ the measurements

// Waves fed after `before` frames of 0, a frame every `perBatch` / `batchMs`
// ms in batches as the link hands them over; periods in ms.
TEST(Measurements, ExtremesMeanRmsAndPeriodOverWholeCycles)
{
    constexpr double kPi = 3.14159265358979323846;
    const auto sine = [](int64_t i) { return 1000 + 20000 * std::sin(2 * kPi * i / 128); };
    const struct {
        const char* name;
        double (*wave)(int64_t);
        int frames, perBatch, batchMs;
        int64_t before;
        int min, max;
        double mean, rms, periodMs;
    } rows[] = {
        {"sine", sine, 1024, 16, 16, 0, -19000, 21000, 1000, 14177.8, 128},
        {"sine across the ring's end", sine, 1024, 16, 16, kHistoryFrames - 300, -19000, 21000, 1000, 14177.8, 128},
        {"square", [](int64_t i) { return i % 200 < 100 ? 10000.0 : -6000.0; }, 1000, 16, 16, 0, -6000, 10000, 2000, 8246.2, 200},
        {"constant", [](int64_t) { return -5000.0; }, 1024, 16, 16, 0, -5000, -5000, -5000, 5000, 0},
        {"two crossings, one cycle", [](int64_t i) { return 9000 * std::sin(2 * kPi * i / 600); }, 1248, 16, 16, 0, -9000, 9000, 83.4, 6260, 0},
        // Noise crosses the mean at each edge of the triangle, but never by the hysteresis.
        {"noisy triangle", [](int64_t i) { return std::abs(i % 100 - 50) * 400.0 - 10000 + (i % 2 ? 800 : -800); }, 1000, 16, 16,
         0, -10800, 10400, 0, 5831, 100},
        // 11,500 frames/s handed over in batches of 115 every 10 ms.
        {"sine at 11,500 frames/s", [](int64_t i) { return 16000 * std::sin(2 * kPi * i / 80); }, 115 * 64, 115, 10, 0, -16000,
         16000, 0, 11314, 80 / 11.5},
    };
    static Frame batch[65536];
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ClearHistory(g_history);
        for (int64_t done = 0; done < row.before; done += 65536)
            AppendHistory(g_history, batch, static_cast<int>(std::min<int64_t>(65536, row.before - done)), 0);
        MarkHistoryGap(g_history);
        for (int at = 0; at < row.frames; at += row.perBatch) {
            for (int i = 0; i < row.perBatch; ++i) batch[i] = F(static_cast<int16_t>(std::lround(row.wave(at + i))));
            AppendHistory(g_history, batch, row.perBatch, static_cast<uint32_t>(1000 + at / row.perBatch * row.batchMs));
        }
        const Figures figures = MeasureFrames(g_history, row.before, row.before + row.frames);
        const TraceFigures& y1 = figures.trace[1];
        EXPECT_EQ(std::tuple(figures.frames, y1.min, y1.max), std::tuple(int64_t{row.frames}, row.min, row.max));
        EXPECT_NEAR(y1.mean, row.mean, 0.01 * std::abs(row.mean) + 0.5);
        EXPECT_NEAR(y1.rms, row.rms, 0.01 * row.rms);
        // The first batch after a gap keeps the time it arrived for all its
        // frames, within the history's tolerance; later ones lie on the line.
        EXPECT_NEAR(y1.periodMs, row.periodMs, 0.025 * row.periodMs);
        EXPECT_EQ(figures.trace[2].periodMs, 0) << "a flat trace has no period";
    }
    // The line, the table and cursors either way round, a frame every 25/32 ms:
    // a period of 100 ms, 10 Hz, where the significant digits change; y3's
    // mean of -0.25 shows as 0, with no minus.
    char parts[4][kFigurePart], table[512];
    ClearHistory(g_history);
    for (int at = 0; at < 1024; ++at) {
        batch[0] = F(static_cast<int16_t>(std::lround(sine(at))), 0, -(at % 4 == 0));
        AppendHistory(g_history, batch, 1, static_cast<uint32_t>(at * 25 / 32));
    }
    const Figures figures = MeasureFrames(g_history, 0, 1024);
    FormatFigureParts(figures, parts);
    EXPECT_EQ(std::string(parts[1]) + "|" + parts[2] + "|" + parts[3], "y1 min \xE2\x88\x92""19000 max 21000 p-p 40000 mean 1000 rms 14178 f 10.00 Hz "
                                                   "T 100 ms|y2 min 0 max 0 p-p 0 mean 0 rms 0 f \xE2\x80\x94|"
                                                   "y3 min \xE2\x88\x92""1 max 0 p-p 1 mean 0 rms 0 f 319.9 Hz T 3.13 ms");
    FormatFiguresTable(figures, g_history, 700, 100, table, sizeof table);
    EXPECT_STREQ(table, "trace\tmin\tmax\tp-p\tmean\trms\tf_Hz\tT_ms\r\ny1\t-19000\t21000\t40000\t1000\t14178\t10.00\t100\r\n"
                        "y2\t0\t0\t0\t0\t0\t\t\r\ny3\t-1\t0\t1\t0\t0\t319.9\t3.13\r\ncursors\tA\tB\tframes\tms\tHz\r\n\t700\t100\t-600\t-468.0\t2.14\r\n");
    FormatFiguresTable(figures, g_history, 700, -1, table, sizeof table);
    EXPECT_STREQ(strstr(table, "cursors"), "cursors\tA\tB\tframes\tms\tHz\r\n\t700\t\t\t\t\r\n") << "A alone";
    FormatCursorParts(g_history, 700, 100, parts);
    EXPECT_EQ(std::string(parts[0]) + "|" + parts[1], "A frame 700 B frame 100 \xCE\x94 \xE2\x88\x92""600 frames \xE2\x88\x92""468.0 ms 2.14 Hz|"
                                                   "\xCE\x94y1 \xE2\x88\x92""23518");
}

// ---------------------------------------------------------- a recording

TEST(RecordingReader, ReadsRowsAndNamesTheFirstBadLine)
{
    const std::string header = "frame,time_ms,y1,y2,y3\r\n", long1k(1030, '7');
    std::string longer = header;  // past the history, whose first rows are kept
    for (int64_t row = 0; row < kHistoryFrames + 2; ++row) longer += std::to_string(row) + ",0,1,2,3\n";
    const struct {
        const char* name;
        std::string text;
        int rows;
        RecordingProblem problem;
        int64_t line;
        std::string bad;
    } rows[] = {
        {"CRLF", header + "0,0,1,-2,3\r\n1,16,32767,-32768,0\r\n", 2, RecordingProblem::None, 3, ""},
        {"LF, no line break at the end", "frame,time_ms,y1,y2,y3\n0,0,1,-2,3\n1,16,32767,-32768,0", 2,
         RecordingProblem::None, 3, ""},
        {"Excel's CSV UTF-8: a byte-order mark", "\xEF\xBB\xBF" + header + "0,0,1,-2,3\r\n", 1, RecordingProblem::None, 2, ""},
        {"semicolons", "\xEF\xBB\xBF""frame;time_ms;y1;y2;y3\n0;0;1;-2;3\n1;16;0;0;0\n", 2, RecordingProblem::None, 3, ""},
        {"commas under semicolons", "frame;time_ms;y1;y2;y3\n0,0,1,2,3\n", 0, RecordingProblem::BadLine, 2, "0,0,1,2,3"},
        {"the widest counts", header + "18446744073709551615,000000000000000000000016,-0032768,0,00\r\n", 1,
         RecordingProblem::None, 2, ""},
        {"past 64 bits", header + "18446744073709551616,0,0,0,0\n", 0, RecordingProblem::BadLine, 2, "18446744073709551616,0,0,0,0"},
        {"missing header", "0,0,1,-2,3\r\n", 0, RecordingProblem::NoHeader, 1, "0,0,1,-2,3"},
        {"empty file", "", 0, RecordingProblem::NoHeader, 0, ""},
        {"header only", header, 0, RecordingProblem::None, 1, ""},
        {"longer than the history", longer, static_cast<int>(kHistoryFrames), RecordingProblem::None, kHistoryFrames + 3, ""},
        {"out of int16", header + "0,0,1,-2,3\r\n1,0,32768,0,0\r\n2,0,0,0,0\r\n", 1, RecordingProblem::BadLine, 3,
         "1,0,32768,0,0"},
        {"below int16", header + "0,0,-32769,0,0\r\n", 0, RecordingProblem::BadLine, 2, "0,0,-32769,0,0"},
        {"a field short", header + "0,0,1,-2,3\n1,0,5,6\n", 1, RecordingProblem::BadLine, 3, "1,0,5,6"},
        {"a field more", header + "0,0,1,2,3,4\n", 0, RecordingProblem::BadLine, 2, "0,0,1,2,3,4"},
        {"letters", header + "0,0,1,2,3\n1,0,5,6,x7\n", 1, RecordingProblem::BadLine, 3, "1,0,5,6,x7"},
        {"blank line", header + "0,0,1,2,3\n\n1,0,5,6,7\n", 1, RecordingProblem::BadLine, 3, ""},
        {"over 1 KiB", header + "0,0,1,2,3\r\n" + long1k + "\r\n", 1, RecordingProblem::BadLine, 3, long1k.substr(0, 80)},
    };
    static RecordingReader reader;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        StartReadingRecording(reader, g_history);
        ReadRecordingPiece(reader, g_history, row.text.data(), row.text.size());
        EXPECT_EQ(FinishReadingRecording(reader, g_history), row.problem == RecordingProblem::None);
        EXPECT_EQ(std::tuple(g_history.total, reader.problem, reader.lineNumber, std::string(reader.badLine)),
                  std::tuple(int64_t{row.rows}, row.problem, row.line, row.bad));
    }
    StartReadingRecording(reader, g_history);
    ReadRecordingPiece(reader, g_history, rows[0].text.data(), rows[0].text.size());
    FinishReadingRecording(reader, g_history);
    EXPECT_EQ(HistoryFrame(g_history, 1).value[2], -32768);
    EXPECT_EQ(HistoryFrameMs(g_history, 1), 16u);
}

// ------------------------------------------------------------ the send row

TEST(SendLine, TextAndHexBecomeTheirBytesOrNameTheFirstBadCharacter)
{
    const struct {
        const char* text;
        bool hex;
        LineEnd end;
        std::string bytes;
        int position;  // 0: parses
        const char* character;
    } rows[] = {
        {"rate 1440", false, LineEnd::Lf, "rate 1440\n", 0, ""},
        {"a\\r\\n\\t\\\\\\x41\\x7f", false, LineEnd::CrLf, "a\r\n\t\\A\x7f\r\n", 0, ""},
        {"x", false, LineEnd::Cr, "x\r", 0, ""},
        {"пуск", false, LineEnd::Lf, "пуск\n", 0, ""},
        {"\\x00", false, LineEnd::None, std::string(1, '\0'), 0, ""},
        {"", false, LineEnd::Lf, "\n", 0, ""},
        {"ab\\x4", false, LineEnd::Lf, "", 6, ""},
        {"\\x4z", false, LineEnd::Lf, "", 4, "z"},
        {"пуск\\q", false, LineEnd::Lf, "", 6, "q"},  // counted in characters, not bytes
        {"go\\", false, LineEnd::Lf, "", 4, ""},
        {"11 55 00 01", true, LineEnd::Lf, std::string("\x11\x55\x00\x01", 4), 0, ""},
        {"115500", true, LineEnd::CrLf, std::string("\x11\x55\x00", 3), 0, ""},
        {"aB\tcd", true, LineEnd::Lf, "\xab\xcd", 0, ""},
        {"zz", true, LineEnd::Lf, "", 1, "z"},
        {"11 я", true, LineEnd::Lf, "", 4, "я"},
        {"11 0 55", true, LineEnd::Lf, "", 5, " "},  // 0 is a half byte too
        {"115", true, LineEnd::Lf, "", 4, ""},
        {"0x11", true, LineEnd::Lf, "", 2, "x"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.text) + (row.hex ? " in HEX" : ""));
        std::vector<uint8_t> bytes = {1, 2};
        SendProblem problem = {};
        EXPECT_EQ(ParseSendText(row.text, std::strlen(row.text), row.hex, row.end, &bytes, &problem), !row.position);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), row.bytes);
        EXPECT_EQ(problem.position, row.position);
        EXPECT_STREQ(problem.character, row.character);
    }
    char text[120];
    SendProblem problem = {};
    std::vector<uint8_t> bytes;
    ParseSendText("\x01", 1, true, LineEnd::None, &bytes, &problem);
    FormatSendProblem(problem, text, sizeof text);
    EXPECT_STREQ(text, "«\\x01» at position 1 is not a hex digit");
    ParseSendText("115", 3, true, LineEnd::None, &bytes, &problem);
    FormatSendProblem(problem, text, sizeof text);
    EXPECT_STREQ(text, "the text ends at position 4: the last byte has one hex digit");
}

TEST(SendLine, HistoryKeepsTheNewestDistinctLinesAndEachComesBackFromTheIni)
{
    std::vector<std::string> history;
    for (int i = 0; i < 25; ++i) RememberSentLine(history, "line " + std::to_string(i));
    RememberSentLine(history, "line 10");
    RememberSentLine(history, "");
    ASSERT_EQ(history.size(), size_t{kSentLinesKept});
    EXPECT_EQ(history[0] + "|" + history[1] + "|" + history.back(), "line 10|line 24|line 5");
    EXPECT_EQ(std::count(history.begin(), history.end(), "line 10"), 1);

    // The profile API trims blanks and a pair of quotes and keeps only ANSI.
    std::vector<std::string> lines = {" rate 5 ", "a;b", "\"quoted\"", "'x'", "100%", "%41", "пуск", "\t", "  ",
                                      "=x", "[s]"};
    for (int c = 0; c < 256; ++c) lines.push_back(std::string(2, static_cast<char>(c)));
    for (const std::string& line : lines) {
        const std::string value = EncodeIniValue(line);
        SCOPED_TRACE(value);
        EXPECT_EQ(DecodeIniValue(value), line);
        EXPECT_TRUE(std::all_of(value.begin(), value.end(), [](char c) { return c >= ' ' && c < 0x7F && c != ';'; }));
        EXPECT_TRUE(value.empty() || (!std::strchr(" \"'", value.front()) && !std::strchr(" \"'", value.back())));
    }
    EXPECT_EQ(DecodeIniValue("50% %4 %zz %41"), "50% %4 %zz A");
}

}  // namespace
