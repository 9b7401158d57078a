#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include <windowsx.h>

#include "acquisition.h"
#include "app.h"
#include "recording.h"
#include "resource.h"
#include "save_folders.h"
#include "sweep_state.h"

HWND g_traceView;
SweepState g_sweep;

namespace {

// Made once with the view and released with it: a tick's paint is frequent.
HBITMAP g_background;
BITMAP g_tile;
HDC g_tileDc;
HGDIOBJ g_tileDcBitmap;
// The plot at one pixel a column, copied onto the view at its scale.
HBITMAP g_plotBitmap;
HDC g_plotDc;
HGDIOBJ g_plotDcBitmap;
HPEN g_tracePens[kTraceCount + 1];
HPEN g_gapPen;
bool g_frozen;
SweepPicture g_frozenPicture;

constexpr WCHAR kTraceClassName[] = L"ChildWindow";
constexpr int kTileCount = 32;
constexpr int kTileWidth = 32;
constexpr int kPenWidth = 2;
constexpr int kStatusBufferLength = 50;

constexpr COLORREF kTraceColours[kTraceCount + 1] = {
    0, RGB(255, 255, 0), RGB(0, 70, 255), RGB(255, 0, 70)};
constexpr COLORREF kCountColour = RGB(150, 150, 150);
constexpr COLORREF kLampOn = RGB(0, 255, 0);
constexpr COLORREF kLampOff = RGB(70, 70, 70);
// The modem lines as StatusFields keeps them: a bit a line, and one for known.
constexpr uint8_t kLampsKnown = 1 << kLampCount;
constexpr COLORREF kTextBackground = RGB(0, 0, 0);
constexpr const WCHAR* kValueFormats[kTraceCount + 1] = {L"", L"y1: %06d", L"y2: %06d", L"y3: %06d"};

constexpr COLORREF kGapColour = RGB(150, 150, 150);
constexpr int kGridBottom = 513;
constexpr int kMarkerWidth = 8;
constexpr int kPositionMarkerHeight = 6;
constexpr int kFieldLength = 96;
// A cursor's dots: so many rows long, a gap as long between them.
constexpr int kCursorDot = 2;
constexpr int kCursorBrushes[] = {WHITE_BRUSH, GRAY_BRUSH};

// A pen stays selected while the segments of its trace follow one another,
// and the context's own pen returns once the traces are drawn: a screen of
// history is thousands of segments.
struct SegmentPainter {
    HDC dc;
    const HPEN* pens;
    HPEN gapPen;
    HGDIOBJ selected;
    HGDIOBJ original;
};

void UsePen(SegmentPainter* painter, HPEN pen)
{
    if (painter->selected == pen) return;
    HGDIOBJ previous = SelectObject(painter->dc, pen);
    if (!painter->original) painter->original = previous;
    painter->selected = pen;
}

void DrawSegment(void* context, int trace, int x0, int y0, int x1, int y1)
{
    auto* painter = static_cast<SegmentPainter*>(context);
    UsePen(painter, painter->pens[trace]);
    MoveToEx(painter->dc, x0, y0, nullptr);
    LineTo(painter->dc, x1, y1);
}

void DrawGap(void* context, int x)
{
    auto* painter = static_cast<SegmentPainter*>(context);
    UsePen(painter, painter->gapPen);
    MoveToEx(painter->dc, x, 0, nullptr);
    LineTo(painter->dc, x, kGridBottom);
}

void TileBackground(HDC dc, const RECT& area)
{
    if (area.top >= kGridBottom) return;
    for (int i = area.left / kTileWidth; i < kTileCount && kTileWidth * i < area.right; ++i)
        BitBlt(dc, kTileWidth * i, 0, g_tile.bmWidth, g_tile.bmHeight, g_tileDc, 0, 0, SRCCOPY);
}

// The parts of the view to repaint, as rectangles: two spans of columns far
// apart would otherwise make one box over the whole sweep.
std::vector<RECT> UpdateRects(HWND window)
{
    std::vector<RECT> rects;
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (GetUpdateRgn(window, region, FALSE) != NULLREGION) {
        std::vector<char> data(GetRegionData(region, 0, nullptr));
        auto* header = reinterpret_cast<RGNDATA*>(data.data());
        if (!data.empty() && GetRegionData(region, static_cast<DWORD>(data.size()), header)) {
            const RECT* first = reinterpret_cast<const RECT*>(header->Buffer);
            rects.assign(first, first + header->rdh.nCount);
        }
    }
    DeleteObject(region);
    return rects;
}

void DrawTraces(HDC dc, const std::vector<RECT>& rects)
{
    SegmentPainter painter = {dc, g_tracePens, g_gapPen, nullptr, nullptr};
    const PaintCallbacks callbacks = {DrawSegment, DrawGap};
    for (const RECT& rect : rects)
        if (rect.top < kGridRows)
            PaintTraces(ShownPicture(), g_sweep.scope, rect.left, rect.right, callbacks, &painter);
    if (painter.original) SelectObject(dc, painter.original);
}

// The texts right of the values, which change about once a second.
struct StatusFields {
    WCHAR record[MAX_PATH];
    WCHAR link[kFieldLength];
    char scope[kFieldLength * 2];
    bool hasReadout;
    char readout[kTraceCount + 1][kReadoutPart];
    uint8_t lamps;
    bool hasCursors;
    char cursors[kTraceCount + 1][kFigurePart];
    bool hasFigures;
    char figures[kTraceCount + 1][kFigurePart];
    bool operator==(const StatusFields&) const = default;
};
StatusFields g_shownFields;

StatusFields FormatStatusFields()
{
    StatusFields fields = {};
    FormatRecordingField(fields.record, MAX_PATH);
    if (!FormatLinkField(fields.link, kFieldLength) && !FormatReadingField(fields.link, kFieldLength))
        swprintf(fields.link, kFieldLength, L"%ls", SettingsWarningNote());
    fields.hasCursors = FormatCursorReadout(fields.cursors);
    fields.hasReadout = !fields.hasCursors && FormatReadout(ShownPicture(), fields.readout);
    if (!fields.hasReadout && !fields.hasCursors) FormatScopeField(fields.scope, sizeof fields.scope);
    fields.hasFigures = FormatFigureLine(fields.figures);
    const ModemStatus modem = LinkModemStatus();
    if (modem.known) fields.lamps = kLampsKnown | modem.cts | modem.dsr << 1 | modem.dcd << 2 | modem.ri << 3;
    return fields;
}

// A UTF-8 part in its colour: grey for part 0, a trace's own for the rest;
// returns its width.
int DrawPart(HDC dc, int x, int y, const char* text, int part)
{
    WCHAR wide[kFieldLength * 2];
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, kFieldLength * 2) - 1;
    if (length <= 0) return -1;
    SetTextColor(dc, part ? kTraceColours[part] : kCountColour);
    TextOutW(dc, x, y, wide, length);
    return TextWidth(dc, wide);
}

// The settings line's texts are UTF-8 and may take more than one row; the
// cursors' or the readout's parts go on one row, in their traces' colours.
void DrawScopeLine(HDC dc, const StatusFields& fields)
{
    const ViewLayout& at = g_viewLayout;
    if (!fields.hasReadout && !fields.hasCursors) {
        WCHAR text[kFieldLength * 2];
        RECT line = {at.countX, at.scopeTop, at.rowRight, at.scopeBottom};
        MultiByteToWideChar(CP_UTF8, 0, fields.scope, -1, text, kFieldLength * 2);
        DrawTextW(dc, text, -1, &line, DT_WORDBREAK | DT_NOPREFIX);
        return;
    }
    for (int part = 0, x = at.countX; part <= kTraceCount; ++part) {
        const int width = DrawPart(dc, x, at.scopeTop, fields.hasCursors ? fields.cursors[part] : fields.readout[part], part);
        if (width >= 0) x += width + at.rowHeight;
    }
}

// Each trace's group in a slot of its own, so that the figures stay put as
// they change.
void DrawFigureLine(HDC dc, const StatusFields& fields)
{
    const ViewLayout& at = g_viewLayout;
    for (int trace = 1; fields.hasFigures && trace <= kTraceCount; ++trace) {
        const int slot = trace - 1;
        DrawPart(dc, at.countX + slot % at.figuresPerRow * at.figureWidth,
                 at.measureTop + slot / at.figuresPerRow * at.rowHeight, fields.figures[trace], trace);
    }
}

// Lit, dim, or a dash each where the driver cannot tell.
void DrawLamps(HDC dc, uint8_t lamps)
{
    const ViewLayout& at = g_viewLayout;
    const RECT lampsRow = {at.lampX[0], at.statusTop, at.rowRight, at.statusTop + at.rowHeight};
    FillRect(dc, &lampsRow, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    for (int lamp = 0; lamp < kLampCount; ++lamp) {
        const WCHAR* text = lamps & kLampsKnown ? kLampNames[lamp] : kUnknownLamp;
        SetTextColor(dc, !(lamps & kLampsKnown) ? kCountColour : lamps & (1 << lamp) ? kLampOn : kLampOff);
        RECT slot = {at.lampX[lamp], at.statusTop, at.lampX[lamp] + at.lampWidth, at.statusTop + at.rowHeight};
        DrawTextW(dc, text, -1, &slot, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
}

// The link field gives way to the recording field, so the two never overlap.
void DrawStatusFields(HDC dc, const StatusFields& fields)
{
    const ViewLayout& at = g_viewLayout;
    SetBkColor(dc, kTextBackground);
    SetTextColor(dc, kCountColour);
    const int recordLength = static_cast<int>(wcslen(fields.record));
    SIZE recordSize = {};
    GetTextExtentPoint32W(dc, fields.record, recordLength, &recordSize);
    const int recordLeft = at.recordRight - recordSize.cx;
    if (recordLength) TextOutW(dc, recordLeft, at.linkTop, fields.record, recordLength);
    const RECT clip = {at.linkX, at.linkTop, recordLength ? recordLeft - at.rowHeight : at.recordRight,
                       at.linkTop + at.rowHeight};
    ExtTextOutW(dc, at.linkX, at.linkTop, ETO_CLIPPED, &clip, fields.link, static_cast<UINT>(wcslen(fields.link)),
                nullptr);
    DrawScopeLine(dc, fields);
    DrawLamps(dc, fields.lamps);
    DrawFigureLine(dc, fields);
    g_shownFields = fields;
}

// Each field drawn opaque to the next one's left edge: a new text covers the last.
void DrawCountAndValues(HDC dc)
{
    const ViewLayout& at = g_viewLayout;
    WCHAR text[kStatusBufferLength];
    SetBkColor(dc, kTextBackground);
    SetTextColor(dc, kCountColour);
    int length = swprintf(text, kStatusBufferLength, L"Count:%07ld", static_cast<long>(g_sweep.tickCount));
    RECT field = {at.countX, at.statusTop, at.valueX[1], at.statusTop + at.rowHeight};
    ExtTextOutW(dc, at.countX, at.statusTop, ETO_OPAQUE, &field, text, length, nullptr);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        SetTextColor(dc, kTraceColours[trace]);
        length = swprintf(text, kStatusBufferLength, kValueFormats[trace], static_cast<int>(g_sweep.raw[trace]));
        field.left = at.valueX[trace];
        field.right = trace < kTraceCount ? at.valueX[trace + 1] : at.valuesRight;
        ExtTextOutW(dc, field.left, at.statusTop, ETO_OPAQUE, &field, text, length, nullptr);
    }
}

// Where the trigger level stands on its source's scale.
void DrawLevelMarker(HDC dc)
{
    const ScopeSettings& scope = g_sweep.scope;
    if (scope.mode == TriggerMode::Off) return;
    const int row = ScaleRow(scope.level, scope.gain[scope.source], scope.centre[scope.source]);
    HPEN pen = CreatePen(PS_SOLID, 3, kTraceColours[scope.source]);
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, 0, row, nullptr);
    LineTo(dc, kMarkerWidth, row);
    SelectObject(dc, previous);
    DeleteObject(pen);
}

// Where the trigger frame lands, at the top edge.
void DrawPositionMarker(HDC dc)
{
    const ScopeSettings& scope = g_sweep.scope;
    if (scope.mode == TriggerMode::Off) return;
    HPEN pen = CreatePen(PS_SOLID, 1, kTraceColours[scope.source]);
    HGDIOBJ previous = SelectObject(dc, pen);
    for (int row = 0; row < kPositionMarkerHeight; ++row) {
        const int half = (kPositionMarkerHeight - row) / 2;
        MoveToEx(dc, scope.triggerPosition - half, row, nullptr);
        LineTo(dc, scope.triggerPosition + half + 1, row);
    }
    SelectObject(dc, previous);
    DeleteObject(pen);
}

// Dotted lines down the plot's columns, over the traces: A white, B grey.
void DrawCursors(HDC dc, const RECT& columns, int scale)
{
    for (int cursor = 0; cursor < 2; ++cursor) {
        const int x = CursorColumn(cursor);
        if (x < columns.left || x >= columns.right) continue;
        const HBRUSH brush = static_cast<HBRUSH>(GetStockObject(kCursorBrushes[cursor]));
        for (int y = 0; y < kGridRows; y += 2 * kCursorDot) {
            const RECT dot = {x * scale, y * scale, (x + 1) * scale, (y + kCursorDot) * scale};
            FillRect(dc, &dot, brush);
        }
    }
}

// The plot's columns and rows under a rectangle of the view.
RECT PlotArea(const RECT& view, int scale)
{
    return {view.left / scale, view.top / scale, std::min<LONG>((view.right + scale - 1) / scale, kSweepWidth),
            std::min<LONG>((view.bottom + scale - 1) / scale, kGridRows)};
}

// The plot is drawn a pixel a column and copied whole-pixel onto the view,
// so that it stays crisp at any scale; the status rows are drawn at the
// screen's own. `rects` are the view's parts to draw, in its pixels.
void DrawView(HDC dc, const RECT& viewArea, std::vector<RECT> rects)
{
    const ViewLayout& at = g_viewLayout;
    for (RECT& rect : rects) rect = PlotArea(rect, at.scale);
    const RECT area = PlotArea(viewArea, at.scale);
    if (area.left < area.right && area.top < area.bottom) {
        TileBackground(g_plotDc, area);
        DrawTraces(g_plotDc, rects);
        if (area.left < kMarkerWidth) DrawLevelMarker(g_plotDc);
        if (area.top < kPositionMarkerHeight) DrawPositionMarker(g_plotDc);
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, area.left * at.scale, area.top * at.scale, (area.right - area.left) * at.scale,
                   (area.bottom - area.top) * at.scale, g_plotDc, area.left, area.top, area.right - area.left,
                   area.bottom - area.top, SRCCOPY);
        DrawCursors(dc, area, at.scale);
    }
    if (viewArea.bottom > at.statusTop) {
        HGDIOBJ previousFont = SelectObject(dc, g_statusFont);
        DrawCountAndValues(dc);
        DrawStatusFields(dc, FormatStatusFields());
        SelectObject(dc, previousFont);
    }
    if (viewArea.bottom > at.thumbTop) DrawHistoryThumb(dc, at.thumbTop, at.thumbBottom, at.plotWidth);
}

// A paint covers only what changed: the rest is left alone.
void PaintTraceView(HWND window)
{
    const std::vector<RECT> rects = UpdateRects(window);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    DrawView(dc, paint.rcPaint, rects);
    EndPaint(window, &paint);
}

// Whole notches only, so that a trackpad's small steps add up first.
LRESULT OnMouseWheel(WPARAM wParam)
{
    static int pending;
    pending += GET_WHEEL_DELTA_WPARAM(wParam);
    const int notches = pending / WHEEL_DELTA;
    pending %= WHEEL_DELTA;
    if (!notches) return 0;
    if (GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT)
        MoveHistoryView(-notches);
    else
        StepGain(notches);
    return 0;
}

// The view's pixels to the plot's columns, at whatever scale.
int ColumnAt(LPARAM lParam)
{
    return GET_X_LPARAM(lParam) / g_viewLayout.scale;
}

// Shift places cursor A with the left button and B with the right, and
// drags it while held. A click takes the focus from a number box or a list.
LRESULT OnButtonDown(HWND window, WPARAM wParam, LPARAM lParam, int cursor)
{
    SetFocus(window);
    if (wParam & MK_SHIFT) {
        SetCapture(window);
        PressCursor(cursor, ColumnAt(lParam));
    } else if (cursor == 0 && (wParam & MK_CONTROL)) {
        SetTriggerPosition(ColumnAt(lParam));
    }
    return 0;
}

LRESULT OnMouseMove(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (wParam & MK_SHIFT) DragCursor(ColumnAt(lParam));
    TrackReadout(window, ColumnAt(lParam));
    return 0;
}

LRESULT OnDoubleClick(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (wParam & MK_SHIFT) return OnButtonDown(window, wParam, lParam, 0);
    ToggleFreeze();
    return 0;
}

LRESULT OnCreate()
{
    g_background = static_cast<HBITMAP>(
        LoadImageW(g_instance, MAKEINTRESOURCEW(IDB_BITMAP2), IMAGE_BITMAP, 0, 0, LR_COPYFROMRESOURCE));
    GetObjectW(g_background, sizeof g_tile, &g_tile);
    g_tileDc = CreateCompatibleDC(nullptr);
    g_tileDcBitmap = SelectObject(g_tileDc, g_background);
    for (int trace = 1; trace <= kTraceCount; ++trace)
        g_tracePens[trace] = CreatePen(PS_SOLID, kPenWidth, kTraceColours[trace]);
    g_gapPen = CreatePen(PS_SOLID, 1, kGapColour);
    HDC screen = GetDC(nullptr);
    g_plotBitmap = CreateCompatibleBitmap(screen, kSweepWidth, kGridRows);
    ReleaseDC(nullptr, screen);
    g_plotDc = CreateCompatibleDC(nullptr);
    g_plotDcBitmap = SelectObject(g_plotDc, g_plotBitmap);
    return 0;
}

LRESULT OnEraseBackground(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_APPWORKSPACE));
    return 0;
}

LRESULT OnDestroy(HWND window)
{
    g_traceView = nullptr;
    for (int trace = 1; trace <= kTraceCount; ++trace) DeleteObject(g_tracePens[trace]);
    DeleteObject(g_gapPen);
    SelectObject(g_plotDc, g_plotDcBitmap);
    DeleteDC(g_plotDc);
    DeleteObject(g_plotBitmap);
    SelectObject(g_tileDc, g_tileDcBitmap);
    DeleteDC(g_tileDc);
    DeleteObject(g_background);
    g_background = nullptr;
    return DefWindowProcW(window, WM_DESTROY, 0, 0);
}

}  // namespace

// The port, the trigger and the recording run on; only the picture holds.
void SetFrozen(bool frozen)
{
    if (frozen && !g_frozen) {
        g_frozenPicture = g_sweep.picture;
        PinCursors(g_frozenPicture);
    }
    g_frozen = frozen;
    OnFreezeChanged();
    if (g_traceView) InvalidateRect(g_traceView, nullptr, TRUE);
}

bool IsFrozen()
{
    return g_frozen;
}

const SweepPicture& ShownPicture()
{
    if (const SweepPicture* paged = PagedPicture()) return *paged;
    return g_frozen ? g_frozenPicture : g_sweep.picture;
}

void InvalidateSweep(const SweepState& state)
{
    if (!g_traceView || g_frozen) return;
    if (state.changedAll) {
        InvalidateRect(g_traceView, nullptr, TRUE);
        return;
    }
    if (state.changedRight < state.changedLeft) return;
    const int scale = g_viewLayout.scale;
    const RECT columns = {(state.changedLeft - kPenWidth) * scale, 0, (state.changedRight + kPenWidth + 1) * scale,
                          kGridRows * scale};
    InvalidateRect(g_traceView, &columns, FALSE);
}

// The count and values are repainted when frames came, opaque and of fixed
// width; the other fields only when their texts change, so their old texts go.
void UpdateStatusRow()
{
    static int32_t shownTicks;
    if (!g_traceView) return;
    const ViewLayout& at = g_viewLayout;
    const RECT values = {at.countX, at.statusTop, at.valuesRight, at.statusTop + at.rowHeight};
    if (g_sweep.tickCount != shownTicks) InvalidateRect(g_traceView, &values, FALSE);
    shownTicks = g_sweep.tickCount;
    const RECT thumb = {0, at.thumbTop, at.plotWidth, at.thumbBottom};
    if (g_frozen) InvalidateRect(g_traceView, &thumb, FALSE);
    if (FormatStatusFields() == g_shownFields) return;
    const RECT fields = {at.linkX, at.linkTop, at.recordRight, at.linkTop + at.rowHeight};
    const RECT scopeLine = {at.countX, at.scopeTop, at.rowRight, at.scopeBottom};
    const RECT lamps = {at.lampX[0], at.statusTop, at.rowRight, at.statusTop + at.rowHeight};
    const RECT figureLine = {at.countX, at.measureTop, at.rowRight, at.measureBottom};
    InvalidateRect(g_traceView, &fields, TRUE);
    InvalidateRect(g_traceView, &lamps, TRUE);
    InvalidateRect(g_traceView, &scopeLine, TRUE);
    InvalidateRect(g_traceView, &figureLine, TRUE);
    InvalidateRect(g_traceView, &thumb, TRUE);
}

// The grid with its traces and cursors, and the status rows down to the
// measurement line.
HBITMAP RenderViewPicture()
{
    if (!g_traceView) return nullptr;
    const RECT area = {0, 0, g_viewLayout.plotWidth, g_viewLayout.measureBottom};
    HDC viewDc = GetDC(g_traceView);
    HDC dc = CreateCompatibleDC(viewDc);
    HBITMAP bitmap = CreateCompatibleBitmap(viewDc, area.right, area.bottom);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    FillRect(dc, &area, GetSysColorBrush(COLOR_APPWORKSPACE));
    DrawView(dc, area, {area});
    SelectObject(dc, previous);
    DeleteDC(dc);
    ReleaseDC(g_traceView, viewDc);
    return bitmap;
}

void CopyViewPicture()
{
    HBITMAP bitmap = RenderViewPicture();
    if (bitmap && !HandToClipboard(CF_BITMAP, bitmap)) DeleteObject(bitmap);
}

bool HandToClipboard(UINT format, HANDLE data)
{
    if (!OpenClipboard(g_mainWindow)) return false;
    const bool handedOver = EmptyClipboard() && SetClipboardData(format, data);
    CloseClipboard();
    return handedOver;
}

LRESULT CALLBACK TraceWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate();
    case WM_ERASEBKGND: return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_PAINT: PaintTraceView(window); return 0;
    case WM_MOUSEWHEEL: return OnMouseWheel(wParam);
    case WM_LBUTTONDOWN: return OnButtonDown(window, wParam, lParam, 0);
    case WM_RBUTTONDOWN: return OnButtonDown(window, wParam, lParam, 1);
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: ReleaseCapture(); return 0;
    case WM_CAPTURECHANGED: ReleaseCursor(); return 0;
    case WM_MOUSEMOVE: return OnMouseMove(window, wParam, lParam);
    case WM_MOUSELEAVE: ClearReadout(); return 0;
    case WM_LBUTTONDBLCLK: return OnDoubleClick(window, wParam, lParam);
    case WM_DESTROY: return OnDestroy(window);
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

ATOM RegisterTraceClass(const WCHAR* className, WNDPROC procedure)
{
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = g_instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    return RegisterClassW(&windowClass);
}

void CreateTraceView(HWND mainWindow)
{
    RegisterTraceClass(kTraceClassName, TraceWndProc);
    g_traceView = CreateWindowExW(0, kTraceClassName, L"Дочернее окно", WS_CHILD | WS_BORDER, 0, 0, 0, 0,
                                  mainWindow, nullptr, g_instance, nullptr);
    ShowWindow(g_traceView, SW_SHOW);
}
