#include <gtest/gtest.h>

#include <cwchar>

#include "acquisition.h"
#include "app.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGrey = RGB(195, 195, 195);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kTrace[4] = {0, RGB(255, 255, 0), RGB(0, 70, 255), RGB(255, 0, 70)};
constexpr COLORREF kCountGrey = RGB(150, 150, 150);

COLORREF GridColour(int x, int y)
{
    if (y == 256) return kWhite;
    if (x % 32 == 31 || (y % 32 == 31 && y != 255)) return kGrey;
    return kBlack;
}

int CountGridMismatches(const Capture& capture, int fromColumn, int toColumn)
{
    int mismatches = 0;
    for (int y = 0; y < 512; ++y)
        for (int x = fromColumn; x < toColumn; ++x) mismatches += capture.At(x, y) != GridColour(x, y);
    return mismatches;
}

void Repaint()
{
    InvalidateRect(g_traceView, nullptr, TRUE);
    UpdateWindow(g_traceView);
    GdiFlush();
}

// One tick of `frames` alike as the timer runs it, then the paint the
// platform delivers before the next one.
void TickWith(int16_t v1, int16_t v2, int16_t v3, int frames = 1)
{
    BeginTick(g_sweep);
    for (int i = 0; i < frames; ++i) ApplyFrame(g_sweep, Frame{{0, v1, v2, v3}}, 0);
    EndTick(g_sweep);
    InvalidateSweep(g_sweep);
    UpdateStatusRow();
    UpdateWindow(g_traceView);
}

int PlotRow(int16_t value)
{
    return 512 - (static_cast<uint16_t>(value ^ 0x8000) >> 7);
}

// Wine shows a window's drawing on screen a moment after it is made.
Capture CaptureView()
{
    PumpMessages(80);
    return CaptureClient(g_traceView);
}

// A 2-pixel pen on a level trace covers the plot row and the one above; the
// repaint rectangle of a level trace ends just above its row.
bool TraceAt(const Capture& view, int x, int row, COLORREF colour)
{
    return view.At(x, row) == colour || view.At(x, row - 1) == colour;
}

class TraceView : public testing::Test {
protected:
    void SetUp() override
    {
        main_ = StartApp(nullptr);
        ASSERT_NE(g_traceView, nullptr);
        SetForegroundWindow(main_);
        PumpMessages(100);
    }
    void TearDown() override { CloseApp(main_); }
    HWND main_ = nullptr;
};

// The grid, and under it the count and the values in their colours, as the
// platform draws those texts at those places.
TEST_F(TraceView, PaintShowsTheGridAndTheStatusLine)
{
    g_sweep.tickCount = 42;
    g_sweep.raw[1] = 258, g_sweep.raw[2] = -1, g_sweep.raw[3] = 32767;
    Repaint();
    const Capture view = CaptureView();
    EXPECT_EQ(CountGridMismatches(view, 0, 1022), 0);
    HDC dc = GetDC(g_traceView);
    const RECT status = {0, 512, 400, 532};
    FillRect(dc, &status, GetSysColorBrush(COLOR_APPWORKSPACE));
    SetBkColor(dc, kBlack);
    const struct {
        int x;
        COLORREF colour;
        const wchar_t* text;
    } texts[] = {{10, kCountGrey, L"Count:0000042"}, {120, kTrace[1], L"y1: 000258"},
                 {200, kTrace[2], L"y2: -00001"}, {280, kTrace[3], L"y3: 032767"}};
    for (const auto& t : texts) {
        SetTextColor(dc, t.colour);
        TextOutW(dc, t.x, 512, t.text, static_cast<int>(wcslen(t.text)));
    }
    ReleaseDC(g_traceView, dc);
    const Capture reference = CaptureView();
    int mismatches = 0;
    for (int y = 512; y < 532; ++y)
        for (int x = 0; x < 400; ++x) mismatches += view.At(x, y) != reference.At(x, y);
    EXPECT_EQ(mismatches, 0);
}

// One frame per tick or all in one tick, the picture is the same.
TEST_F(TraceView, FramesDrawTheThreeTracesWhereTheirValuesPlotHoweverTheyArrive)
{
    const int16_t v1 = 16384, v2 = 0, v3 = -16384;
    const int rows[4] = {0, PlotRow(v1), PlotRow(v2), PlotRow(v3)};
    Capture views[2];
    for (int arrival = 0; arrival < 2; ++arrival) {
        for (int16_t& last : g_sweep.raw) last = 0;
        ResetSweep(g_sweep);
        Repaint();
        for (int tick = 0; tick < (arrival == 0 ? 300 : 1); ++tick) TickWith(v1, v2, v3, arrival == 0 ? 1 : 300);
        views[arrival] = CaptureView();
    }
    int differing = 0;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 1022; ++x) differing += views[0].At(x, y) != views[1].At(x, y);
    EXPECT_EQ(differing, 0);
    const Capture& view = views[0];
    for (int trace = 1; trace <= 3; ++trace) {
        int drawn = 0;
        for (int x = 2; x < 299; ++x) drawn += TraceAt(view, x, rows[trace], kTrace[trace]);
        EXPECT_EQ(drawn, 297) << "trace " << trace << " at row " << rows[trace];
    }
    // The opening join from the last point stays within columns 0..2.
    int strayInk = 0;
    for (int y = 0; y < 512; ++y)
        for (int x = 3; x < 1022; ++x) {
            if (std::abs(y - rows[1]) <= 2 || std::abs(y - rows[2]) <= 2 || std::abs(y - rows[3]) <= 2) continue;
            strayInk += view.At(x, y) != GridColour(x, y);
        }
    EXPECT_EQ(strayInk, 0);
    EXPECT_EQ(CountGridMismatches(view, 302, 1022), 0) << "the sweep has not reached these columns";
}

TEST_F(TraceView, SweepWrapsToABareGridAndStartsAgainFromTheLeft)
{
    ResetSweep(g_sweep);
    Repaint();
    for (int tick = 0; tick < 1023; ++tick) TickWith(8000, 8000, 8000);
    ASSERT_EQ(g_sweep.picture.cursor, 0);
    Capture view = CaptureView();
    EXPECT_EQ(CountGridMismatches(view, 0, 1022), 0) << "the wrap clears the view";
    for (int tick = 0; tick < 10; ++tick) TickWith(-8000, 0, 0);
    view = CaptureView();
    EXPECT_TRUE(TraceAt(view, 5, PlotRow(-8000), kTrace[1]));
    EXPECT_EQ(CountGridMismatches(view, 12, 1022), 0);
}

// A view uncovered by another window shows its traces again, and the mark
// of a gap in the stream with them.
TEST_F(TraceView, FullRepaintRedrawsTheTracesAndTheGapMark)
{
    ResetSweep(g_sweep);
    for (int tick = 0; tick < 50; ++tick) TickWith(1000, 2000, 3000);
    MarkGap(g_sweep);
    for (int tick = 0; tick < 50; ++tick) TickWith(-1000, -2000, -3000);
    Repaint();
    const Capture view = CaptureView();
    for (int x : {10, 40, 60, 90}) {
        const int16_t v = x < 50 ? 1000 : -1000;
        EXPECT_TRUE(TraceAt(view, x, PlotRow(v), kTrace[1])) << x;
        EXPECT_TRUE(TraceAt(view, x, PlotRow(static_cast<int16_t>(3 * v)), kTrace[3])) << x;
    }
    int gapMark = 0;
    for (int y = 0; y < 512; y += 8) gapMark += view.At(51, y) == RGB(150, 150, 150);
    EXPECT_GT(gapMark, 55) << "a grey line down the gap's column";
    EXPECT_EQ(CountGridMismatches(view, 104, 1022), 0);
}

// Gain redraws from the stored columns; Freeze holds the picture while the
// frames, the status row and the values run on.
TEST_F(TraceView, GainAndFreezeRedrawFromTheStoredColumns)
{
    ResetSweep(g_sweep);
    for (int tick = 0; tick < 100; ++tick) TickWith(100, -100, 0);
    SendMessageW(GetDlgItem(main_, IDC_GAIN), CB_SETCURSEL, 8, 0);
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_GAIN, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(main_, IDC_GAIN)));
    UpdateWindow(g_traceView);
    Capture view = CaptureView();
    EXPECT_TRUE(TraceAt(view, 50, 56, kTrace[1])) << "+100 at x256";
    EXPECT_TRUE(TraceAt(view, 50, 456, kTrace[2])) << "-100 at x256";

    SendMessageW(main_, WM_COMMAND, IDM_FREEZE, 0);
    for (int tick = 0; tick < 50; ++tick) TickWith(-100, 100, 0);
    Repaint();
    view = CaptureView();
    EXPECT_TRUE(TraceAt(view, 120, 456, kTrace[1]) == false && TraceAt(view, 50, 56, kTrace[1]));
    EXPECT_EQ(g_sweep.raw[1], -100) << "values run on";
    SendMessageW(main_, WM_COMMAND, IDM_FREEZE, 0);
    Repaint();
    EXPECT_TRUE(TraceAt(CaptureView(), 120, 456, kTrace[1])) << "the live sweep went on meanwhile";
}

// No paint, and no view, leaves a GDI object behind.
TEST_F(TraceView, PaintsAndViewsLeaveNoGdiObjects)
{
    ResetSweep(g_sweep);
    Repaint();
    TickWith(0, 0, 0);
    // Wine's GetGuiResources reports 0, so a leak shows instead as GDI handle
    // slots that the next objects cannot reuse.
    auto highestFreshSlot = [] {
        HPEN pens[64];
        WORD highest = 0;
        for (HPEN& pen : pens) {
            pen = CreatePen(PS_SOLID, 1, 0);
            highest = std::max<WORD>(highest, LOWORD(reinterpret_cast<ULONG_PTR>(pen)));
        }
        for (HPEN pen : pens) DeleteObject(pen);
        return highest;
    };
    const WORD slotBefore = highestFreshSlot();
    for (int paint = 0; paint < 1000; ++paint) {
        if (paint % 2) TickWith(static_cast<int16_t>(paint * 30), 0, 0);
        else Repaint();
    }
    // The view's own pens and tile context go with it.
    for (int view = 0; view < 50; ++view) {
        DestroyWindow(g_traceView);
        CreateTraceView(main_);
    }
    EXPECT_LE(highestFreshSlot(), slotBefore + 8);
}

}  // namespace
