#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "acquisition.h"
#include "app.h"
#include "system_text.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kTrace[4] = {RGB(150, 150, 150), RGB(255, 255, 0), RGB(0, 70, 255), RGB(255, 0, 70)};

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

// Wine shows a window's drawing on screen a moment after it is made.
Capture CaptureView()
{
    PumpMessages(80);
    return CaptureClient(g_traceView);
}

// A 2-pixel pen on a level trace covers the plot row and the one above; the
// repaint rectangle of a level trace ends just above its row.
bool TraceAt(const Capture& view, int x, int16_t value, int trace)
{
    const int row = ScaleRow(value, 1, 0);
    return view.At(x, row) == kTrace[trace] || view.At(x, row - 1) == kTrace[trace];
}

class TraceView : public testing::Test {
protected:
    void SetUp() override
    {
        main_ = StartApp(nullptr);
        ASSERT_NE(g_traceView, nullptr);
        SetForegroundWindow(main_);
        ResetSweep(g_sweep);
        Repaint();
    }
    void TearDown() override { CloseApp(main_); }
    HWND main_ = nullptr;
};

// One frame per tick or all in one tick, each trace lies on its row over the
// grid and nothing else is drawn; a tick leaves the status row as a full
// repaint draws it.
TEST_F(TraceView, FramesDrawTheTracesAndTheStatusLineHoweverTheyArrive)
{
    const int16_t v[4] = {0, 16384, -1, -16384};
    for (int arrival = 0; arrival < 2; ++arrival) {
        g_sweep.raw[1] = v[1], g_sweep.raw[2] = v[2], g_sweep.raw[3] = v[3], g_sweep.tickCount = 0;
        ResetSweep(g_sweep);
        Repaint();
        for (int tick = 0; tick < (arrival == 0 ? 300 : 1); ++tick) TickWith(v[1], v[2], v[3], arrival == 0 ? 1 : 300);
        const Capture view = CaptureView();
        int drawn = 0, strayInk = 0;
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 1024; ++x) {
                int nearTrace = 0;
                for (int trace = 1; trace <= 3; ++trace) nearTrace += std::abs(y - ScaleRow(v[trace], 1, 0)) <= 2;
                strayInk += !nearTrace && view.At(x, y) != GridColour(x, y);
            }
        for (int x = 0; x < 299; ++x) drawn += TraceAt(view, x, v[1], 1) && TraceAt(view, x, v[2], 2) && TraceAt(view, x, v[3], 3);
        EXPECT_EQ(drawn, 299) << "arrival " << arrival << ": a column without all its traces";
        EXPECT_EQ(strayInk + CountGridMismatches(view, 302, 1024), 0) << "arrival " << arrival << ": stray ink, or beyond the sweep";
    }

    const ViewLayout& at = g_viewLayout;
    int mismatches = 0;
    // A narrower value (a minus for a digit) leaves nothing of the wider one.
    TickWith(16384, 16384, 16384);
    Repaint();
    TickWith(-1, -1, -1);
    const Capture ticked = CaptureView();
    Repaint();
    const Capture repainted = CaptureView();
    for (int y = at.statusTop; y < at.statusTop + at.rowHeight; ++y)
        for (int x = 0; x < ticked.width; ++x) mismatches += ticked.At(x, y) != repainted.At(x, y);
    EXPECT_EQ(mismatches, 0) << "stale pixels after a tick";
}

// A view uncovered by another window shows its traces again, and the mark
// of a gap in the stream with them; a wrap leaves the bare grid.
TEST_F(TraceView, FullRepaintRedrawsTheTracesAndTheGapMarkAndAWrapClearsThem)
{
    for (int tick = 0; tick < 50; ++tick) TickWith(1000, 2000, 3000);
    MarkGap(g_sweep);
    for (int tick = 0; tick < 50; ++tick) TickWith(-1000, -2000, -3000);
    Repaint();
    Capture view = CaptureView();
    for (int x : {10, 40, 60, 90}) {
        const int16_t sign = x < 50 ? 1 : -1;
        EXPECT_TRUE(TraceAt(view, x, 1000 * sign, 1) && TraceAt(view, x, 3000 * sign, 3)) << x;
    }
    int gapMark = 0;
    for (int y = 0; y < 512; y += 8) gapMark += view.At(51, y) == kTrace[0];
    EXPECT_GT(gapMark, 55) << "a grey line down the gap's column";
    EXPECT_EQ(CountGridMismatches(view, 104, 1024), 0);

    for (int tick = 0; tick < 923; ++tick) TickWith(8000, 8000, 8000);
    ASSERT_EQ(g_sweep.picture.cursor, 0);
    EXPECT_EQ(CountGridMismatches(CaptureView(), 0, 1024), 0) << "the wrap clears the view";
    for (int tick = 0; tick < 10; ++tick) TickWith(-8000, 0, 0);
    view = CaptureView();
    EXPECT_TRUE(TraceAt(view, 5, -8000, 1) && CountGridMismatches(view, 12, 1024) == 0);
}

// Gain redraws from the stored columns; Freeze holds the picture while the
// frames, the status row and the values run on.
TEST_F(TraceView, ScopeControlsGainFreezeAndTrigger)
{
    for (int tick = 0; tick < 100; ++tick) TickWith(100, -100, 0);
    HWND gain = GetDlgItem(main_, IDC_GAIN);
    SendMessageW(gain, CB_SETCURSEL, 8, 0);
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_GAIN, CBN_SELCHANGE), reinterpret_cast<LPARAM>(gain));
    UpdateWindow(g_traceView);
    Capture view = CaptureView();
    EXPECT_TRUE(TraceAt(view, 50, 100 * 256, 1) && TraceAt(view, 50, -100 * 256, 2)) << "+-100 at x256";

    SendMessageW(main_, WM_COMMAND, IDM_FREEZE, 0);
    for (int tick = 0; tick < 50; ++tick) TickWith(-100, 100, 0);
    Repaint();
    view = CaptureView();
    EXPECT_TRUE(!TraceAt(view, 120, -100 * 256, 1) && TraceAt(view, 50, 100 * 256, 1) && g_sweep.raw[1] == -100)
        << "values run on";
    SendMessageW(main_, WM_COMMAND, IDM_FREEZE, 0);
    Repaint();
    EXPECT_TRUE(TraceAt(CaptureView(), 120, -100 * 256, 1)) << "the live sweep went on meanwhile";
    HWND timebase = GetDlgItem(main_, IDC_TIMEBASE);
    SendMessageW(timebase, CB_SETCURSEL, 2, 0);
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_TIMEBASE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(timebase));
    EXPECT_EQ(CountGridMismatches(CaptureView(), 0, 1024), 0) << "no column of the old timebase";

    // Source entries alternate rise and fall; Single again re-arms a capture.
    HWND source = GetDlgItem(main_, IDC_TRIG_SOURCE);
    SendMessageW(source, CB_SETCURSEL, 3, 0);
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_TRIG_SOURCE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(source));
    SendMessageW(main_, WM_COMMAND, IDC_SINGLE, 0);
    g_sweep.phase = TriggerPhase::Stopped;
    SendMessageW(main_, WM_COMMAND, IDC_SINGLE, 0);
    EXPECT_TRUE(g_sweep.scope.source == 2 && g_sweep.scope.edge == TriggerEdge::Fall && g_sweep.phase == TriggerPhase::Waiting);
    Repaint();
    EXPECT_TRUE(TraceAt(CaptureView(), 4, g_sweep.scope.level, 2)) << "the level marker, over y3, after a full repaint";

    // A timebase picked in the control re-arms the trigger; at 10 frames a
    // column, the trigger frame's column and 4 more hold 50 frames.
    for (int16_t v : {1000, -1000}) TickWith(0, v, 0);
    ASSERT_EQ(g_sweep.phase, TriggerPhase::Sweeping);
    SendMessageW(timebase, CB_SETCURSEL, 3, 0);
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_TIMEBASE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(timebase));
    EXPECT_EQ(g_sweep.phase, TriggerPhase::Waiting);
    for (int16_t v : {1000, -1000}) TickWith(0, v, 0);
    TickWith(0, -1000, 0, 49);
    EXPECT_EQ(g_sweep.picture.cursor, kDefaultTriggerPosition + 4);
    HWND level = GetDlgItem(main_, IDC_TRIG_LEVEL);
    SetWindowTextW(level, L"500");
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDC_TRIG_LEVEL, EN_KILLFOCUS), reinterpret_cast<LPARAM>(level));
    EXPECT_TRUE(g_sweep.scope.level == 500 && g_sweep.phase == TriggerPhase::Waiting) << "a new level re-arms";
}

// 1024 frames at 8000 and then 1024 at -8000, 16 a tick, a tick a
// millisecond a frame: frozen, PgUp shows the first screen, and the values
// under the mouse read there; a cursor moves with its frame while paging and
// keeps its column live; the copy is the picture on screen.
TEST_F(TraceView, FrozenHistoryPagesReadsOutAndCopies)
{
    ClearHistory(*g_sweep.history);
    ResetSweep(g_sweep);
    Frame frames[16];
    for (int frame = 0; frame < 2048; frame += 16) {
        for (Frame& f : frames) f = {{0, static_cast<int16_t>(frame < 1024 ? 8000 : -8000), 0, 0}};
        AppendHistory(*g_sweep.history, frames, 16, static_cast<uint32_t>(frame));
        for (const Frame& f : frames) ApplyFrame(g_sweep, f, 0);
    }
    SendMessageW(main_, WM_COMMAND, IDM_FREEZE, 0);
    SendMessageW(main_, WM_COMMAND, IDM_PAGE_BACK, 0);
    Repaint();
    EXPECT_TRUE(TraceAt(CaptureView(), 500, 8000, 1) && !TraceAt(CaptureView(), 500, -8000, 1)) << "the first screen";
    char parts[4][kReadoutPart];
    SendMessageW(g_traceView, WM_MOUSEMOVE, 0, MAKELPARAM(500, 100));
    ASSERT_TRUE(FormatReadout(*PagedPicture(), parts));
    EXPECT_EQ(std::string(parts[0]) + "|" + parts[1], "frame 500  0.496 s|y1 8000");
    g_viewLayout.scale = 2;  // from 200 %, a column is two pixels wide
    SendMessageW(g_traceView, WM_MOUSEMOVE, 0, MAKELPARAM(1001, 200));
    g_viewLayout.scale = 1;
    EXPECT_TRUE(FormatReadout(*PagedPicture(), parts) && std::string(parts[0]) == "frame 500  0.496 s") << parts[0];
    SendMessageW(g_traceView, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(FormatReadout(*PagedPicture(), parts));
    g_viewLayout.scale = 2;
    SendMessageW(g_traceView, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(1001, 200));
    SendMessageW(g_traceView, WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(1001, 200));
    g_viewLayout.scale = 1;
    EXPECT_EQ(CursorColumn(0), 500);
    char position[64];
    SendMessageW(g_traceView, WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, -WHEEL_DELTA), 0), FormatHistoryField(position, 64);
    EXPECT_NE(std::string(position).find("(frame 1,125)"), std::string::npos) << position;
    EXPECT_EQ(CursorColumn(0), 500 - 102) << "a tenth of a screen on";
    SendMessageW(main_, WM_COMMAND, IDM_PAGE_NEWEST, 0);
    Repaint();
    const Capture view = CaptureView();
    EXPECT_TRUE(TraceAt(view, 500, -8000, 1)) << "the newest screen";

    // The picture is the one the e2e case saves as a PNG and compares with the screen.
    SendMessageW(main_, WM_COMMAND, IDM_COPY, 0);
    ASSERT_TRUE(OpenClipboard(main_));
    BITMAP copy = {};
    GetObjectW(GetClipboardData(CF_BITMAP), sizeof copy, &copy);
    CloseClipboard();
    EXPECT_TRUE(copy.bmWidth == view.width && copy.bmHeight == g_viewLayout.scopeBottom) << "the view's grid and status rows";
    EXPECT_EQ(CursorColumn(0), -1) << "frame 500 is off the newest screen";
    SendMessageW(main_, WM_COMMAND, IDM_FREEZE, 0);
    EXPECT_EQ(CursorColumn(0), 500) << "live, at its column";
    SendMessageW(main_, WM_COMMAND, IDM_CLEAR_CURSORS, 0);
    EXPECT_EQ(CursorColumn(0), -1);
}

// The box names a file that cannot be opened and gives the system's reason.
TEST_F(TraceView, AFileThatCannotBeOpenedIsNamedWithTheReason)
{
    ModalAnswer answer;
    AnswerNextModal(&answer, IDOK);
    OpenRecording(main_, L"missing.csv");
    EXPECT_EQ(answer.text, L"Не получилось открыть файл.\n«missing.csv»: " + SystemMessage(ERROR_FILE_NOT_FOUND));
}

// No paint, and no view, leaves a GDI object behind.
TEST_F(TraceView, PaintsAndViewsLeaveNoGdiObjects)
{
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
