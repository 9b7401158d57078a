// The measurement line under the settings line, the two cursors over the
// plot with their readout, and both copied as text for a report.
#include <algorithm>

#include "acquisition.h"
#include "app.h"
#include "resource.h"
#include "save_folders.h"

namespace {

constexpr WCHAR kSection[] = L"Scope";
constexpr WCHAR kMeasureKey[] = L"measure";
// Live, the line follows the frames at most five times a second.
constexpr DWORD kLiveRefreshMs = 200;
constexpr int kTableSize = 1024;
constexpr int kCursorCount = 2;

// The frames the line measures.
struct Span {
    int64_t first, end;
    int32_t perColumn;
    bool live;
    bool operator==(const Span&) const = default;
};

// While live a cursor keeps its column; frozen, it keeps its frame, so that
// paging moves it with the frames.
struct Cursor {
    bool set;
    int column;
    int64_t frame;
};

// Window thread only.
bool g_measuring;
Figures g_figures;
Span g_measured = {-1, -1, 0, false};
DWORD g_measuredAtMs;
Cursor g_cursors[kCursorCount];
int g_dragged = -1;

int32_t PerColumn()
{
    return g_sweep.scope.framesPerColumn;
}

int64_t FrameAt(const SweepPicture& picture, int column)
{
    if (column < 0 || column > picture.cursor || !picture.column[column].frames) return -1;
    return picture.column[column].firstFrame;
}

// Live, the newest screen's worth; frozen, the frames behind the columns, as
// far as the history still holds them.
Span ShownSpan(const History& history)
{
    const int64_t oldest = OldestHistoryFrame(history);
    if (!IsFrozen())
        return {std::max(oldest, history.total - int64_t{kSweepWidth} * PerColumn()), history.total, PerColumn(), true};
    const SweepPicture& picture = ShownPicture();
    int first = 0;
    while (first < picture.cursor && !picture.column[first].frames) ++first;
    const Column& last = picture.column[picture.cursor];
    if (!picture.column[first].frames) return {0, 0, PerColumn(), false};
    return {std::max(oldest, picture.column[first].firstFrame), std::min(history.total, last.firstFrame + last.frames),
            PerColumn(), false};
}

// Measured again at once when the view changed, and while live when the
// last figures are old enough.
const Figures* Refreshed(bool now)
{
    const History* history = ShownHistory();
    if (!history) return nullptr;
    const Span span = ShownSpan(*history);
    const bool following = span.live && g_measured.live && span.perColumn == g_measured.perColumn;
    if (!(span == g_measured) && (now || !following || GetTickCount() - g_measuredAtMs >= kLiveRefreshMs)) {
        g_figures = MeasureFrames(*history, span.first, span.end);
        g_measured = span;
        g_measuredAtMs = GetTickCount();
    }
    return &g_figures;
}

// The frame under a cursor, while the history holds it; else -1.
int64_t CursorFrame(int cursor)
{
    const Cursor& c = g_cursors[cursor];
    const History* history = ShownHistory();
    if (!c.set || !history) return -1;
    const int64_t frame = IsFrozen() ? c.frame : FrameAt(ShownPicture(), c.column);
    return frame >= OldestHistoryFrame(*history) && frame < history->total ? frame : -1;
}

void InvalidateColumn(int column)
{
    if (!g_traceView || column < 0) return;
    const int scale = g_viewLayout.scale;
    const RECT rect = {column * scale, 0, (column + 1) * scale, g_viewLayout.plotHeight};
    InvalidateRect(g_traceView, &rect, FALSE);
}

void PutCursor(int cursor, int column)
{
    InvalidateColumn(CursorColumn(cursor));
    column = std::clamp(column, 0, kSweepWidth - 1);
    g_cursors[cursor] = {true, column, FrameAt(ShownPicture(), column)};
    InvalidateColumn(column);
    UpdateStatusRow();
}

}  // namespace

void LoadMeasureSetting()
{
    g_measuring = GetPrivateProfileIntW(kSection, kMeasureKey, 0, SettingsFile()) == 1;
    CheckMenuItem(GetMenu(g_mainWindow), IDM_MEASURE, g_measuring ? MF_CHECKED : MF_UNCHECKED);
}

void SaveMeasureSetting()
{
    SaveSettingUnlessDefault(kSection, kMeasureKey, g_measuring ? L"1" : L"0", !g_measuring);
}

bool MeasurementsShown()
{
    return g_measuring;
}

// The line takes rows of its own: the window grows or shrinks to suit.
void ToggleMeasurements()
{
    g_measuring = !g_measuring;
    CheckMenuItem(GetMenu(g_mainWindow), IDM_MEASURE, g_measuring ? MF_CHECKED : MF_UNCHECKED);
    LayOut(g_mainWindow, nullptr);
}

bool FormatFigureLine(char (*parts)[kFigurePart])
{
    const Figures* figures = g_measuring ? Refreshed(false) : nullptr;
    if (!figures || !figures->frames) return false;
    FormatFigureParts(*figures, parts);
    return true;
}

bool FormatCursorReadout(char (*parts)[kFigurePart])
{
    const int64_t a = CursorFrame(0), b = CursorFrame(1);
    if (a < 0 && b < 0) return false;
    FormatCursorParts(*ShownHistory(), a, b, parts);
    return true;
}

// As Unicode text, which every spreadsheet takes.
void CopyMeasurements()
{
    const Figures* figures = Refreshed(true);
    if (!figures) return;
    char text[kTableSize];
    const int length = FormatFiguresTable(*figures, *ShownHistory(), CursorFrame(0), CursorFrame(1), text, kTableSize) + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, length * sizeof(WCHAR));
    if (!memory) return;
    MultiByteToWideChar(CP_UTF8, 0, text, length, static_cast<WCHAR*>(GlobalLock(memory)), length);
    GlobalUnlock(memory);
    if (!HandToClipboard(CF_UNICODETEXT, memory)) GlobalFree(memory);
}

int CursorColumn(int cursor)
{
    const Cursor& c = g_cursors[cursor];
    if (!c.set || !IsFrozen()) return c.set ? c.column : -1;
    const SweepPicture& picture = ShownPicture();
    for (int x = 0; x <= picture.cursor; ++x) {
        const Column& column = picture.column[x];
        if (column.frames && c.frame >= column.firstFrame && c.frame < column.firstFrame + column.frames) return x;
    }
    return -1;
}

void PressCursor(int cursor, int column)
{
    g_dragged = cursor;
    PutCursor(cursor, column);
}

void DragCursor(int column)
{
    if (g_dragged >= 0) PutCursor(g_dragged, column);
}

void ReleaseCursor()
{
    g_dragged = -1;
}

void ClearCursors()
{
    for (int cursor = 0; cursor < kCursorCount; ++cursor) {
        InvalidateColumn(CursorColumn(cursor));
        g_cursors[cursor].set = false;
    }
    UpdateStatusRow();
}

void PinCursors(const SweepPicture& picture)
{
    for (Cursor& cursor : g_cursors) cursor.frame = FrameAt(picture, cursor.column);
}

void OnHistoryReplaced()
{
    ClearCursors();
    g_measured = {-1, -1, 0, false};
}
