// The history behind the sweep as the view shows it: screens paged back
// through while frozen, the values under the mouse, and the strip that shows
// where the screen stands. A recording read back fills it (file_read.cpp).
#include <cstdio>

#include "app.h"
#include "history.h"

namespace {

constexpr COLORREF kTrackColour = RGB(70, 70, 70);
constexpr COLORREF kThumbColour = RGB(200, 200, 200);

// The window thread's, except while a recording is being read: then the
// reader thread's alone (file_read.cpp).
History g_history;

// Window thread only.
bool g_paged;
int64_t g_viewEnd;
SweepPicture g_pagePicture;
int64_t g_builtEnd = -1;
int32_t g_builtPerColumn;
int g_readoutX = -1;

int32_t PerColumn()
{
    return g_sweep.scope.framesPerColumn;
}

void ShowPage(int64_t end)
{
    g_paged = true;
    g_viewEnd = end;
    if (g_traceView) InvalidateRect(g_traceView, nullptr, TRUE);
    UpdateStatusRow();
}

}  // namespace

void AttachHistory()
{
    g_sweep.history = &g_history;
}

const History* ShownHistory()
{
    return IsReadingFile() ? nullptr : &g_history;
}

void OnFreezeChanged()
{
    g_paged = false;
    g_builtEnd = -1;
}

const SweepPicture* PagedPicture()
{
    if (!g_paged || IsReadingFile()) return nullptr;
    if (g_builtEnd != g_viewEnd || g_builtPerColumn != PerColumn()) {
        g_viewEnd = MoveHistoryEnd(g_history, g_viewEnd, 0, PerColumn());
        BuildHistoryScreen(g_history, g_viewEnd, PerColumn(), g_pagePicture);
        g_builtEnd = g_viewEnd;
        g_builtPerColumn = PerColumn();
    }
    return &g_pagePicture;
}

// A move from the frozen sweep starts at the newest frames.
void MoveHistoryView(int64_t screenTenths)
{
    if (!IsFrozen() || IsReadingFile()) return;
    const int64_t from = g_paged ? g_viewEnd : g_history.total;
    ShowPage(MoveHistoryEnd(g_history, from, screenTenths * kSweepWidth * PerColumn() / kTenthsAScreen, PerColumn()));
}

void JumpHistoryView(bool newest)
{
    if (IsFrozen() && !IsReadingFile()) ShowPage(MoveHistoryEnd(g_history, newest ? g_history.total : 0, 0, PerColumn()));
}

void TrackReadout(HWND view, int x)
{
    if (g_readoutX < 0) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, view, 0};
        TrackMouseEvent(&track);
    }
    g_readoutX = x;
    UpdateStatusRow();
}

void ClearReadout()
{
    g_readoutX = -1;
    UpdateStatusRow();
}

bool FormatReadout(const SweepPicture& picture, char (*parts)[kReadoutPart])
{
    if (g_readoutX < 0 || g_readoutX > picture.cursor || IsReadingFile() || !picture.column[g_readoutX].frames) return false;
    FormatColumnReadout(g_history, picture.column[g_readoutX], parts);
    return true;
}

int FormatHistoryField(char* text, int size)
{
    if (!g_paged || IsReadingFile() || !IsFrozen()) return 0;
    return FormatHistoryPosition(g_history, g_viewEnd, g_history.total - 1, text, size);
}

// The track is the history; the thumb, the screen the view shows.
void DrawHistoryThumb(HDC dc, int top, int bottom, int width)
{
    if (!IsFrozen() || IsReadingFile() || g_history.total == 0) return;
    const int64_t oldest = OldestHistoryFrame(g_history), span = g_history.total - oldest;
    const int64_t end = g_paged ? g_viewEnd : g_history.total;
    const int64_t start = HistoryScreenStart(g_history, end, PerColumn());
    RECT track = {0, top, width, bottom};
    HBRUSH trackBrush = CreateSolidBrush(kTrackColour);
    FillRect(dc, &track, trackBrush);
    DeleteObject(trackBrush);
    RECT thumb = {static_cast<int>((start - oldest) * width / span), top, static_cast<int>((end - oldest) * width / span),
                  bottom};
    if (thumb.right <= thumb.left) thumb.right = thumb.left + 1;
    HBRUSH thumbBrush = CreateSolidBrush(kThumbColour);
    FillRect(dc, &thumb, thumbBrush);
    DeleteObject(thumbBrush);
}
