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

namespace {

// Made once with the view and released with it: a tick's paint is frequent.
HBITMAP g_background;
BITMAP g_tile;
HDC g_tileDc;
HGDIOBJ g_tileDcBitmap;
HPEN g_tracePens[kTraceCount + 1];
HPEN g_gapPen;
bool g_frozen;
SweepPicture g_frozenPicture;

constexpr WCHAR kTraceClassName[] = L"ChildWindow";
constexpr int kViewX = 30;
constexpr int kViewY = 32;
constexpr int kViewWidth = 1024;
constexpr int kViewHeight = 554;
constexpr int kTileCount = 32;
constexpr int kTileWidth = 32;
constexpr int kPenWidth = 2;
constexpr int kStatusRow = 512;
constexpr int kStatusBufferLength = 50;

constexpr COLORREF kTraceColours[kTraceCount + 1] = {
    0, RGB(255, 255, 0), RGB(0, 70, 255), RGB(255, 0, 70)};
constexpr COLORREF kCountColour = RGB(150, 150, 150);
constexpr COLORREF kTextBackground = RGB(0, 0, 0);
constexpr int kValueX[kTraceCount + 1] = {0, 120, 200, 280};
constexpr const WCHAR* kValueFormats[kTraceCount + 1] = {L"", L"y1: %06d", L"y2: %06d", L"y3: %06d"};
constexpr int kCountX = 10;

constexpr COLORREF kGapColour = RGB(150, 150, 150);
constexpr int kGridBottom = 513;
constexpr int kStatusTop = 511;
constexpr int kStatusBottom = 530;
constexpr int kScopeLineRow = 531;
constexpr int kScopeLineBottom = 548;
constexpr int kThumbBottom = 552;
constexpr int kPositionMarkerHeight = 6;
constexpr int kMarkerWidth = 8;
constexpr int kLinkX = 420;
constexpr int kRecordRight = 1020;
constexpr int kFieldGap = 16;
constexpr int kFieldLength = 96;

const SweepPicture& ShownPicture()
{
    if (const SweepPicture* paged = PagedPicture()) return *paged;
    return g_frozen ? g_frozenPicture : g_sweep.picture;
}

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
    bool operator==(const StatusFields&) const = default;
};
StatusFields g_shownFields;

StatusFields FormatStatusFields()
{
    StatusFields fields = {};
    FormatRecordingField(fields.record, MAX_PATH);
    if (!FormatLinkField(fields.link, kFieldLength) && !FormatReadingField(fields.link, kFieldLength))
        swprintf(fields.link, kFieldLength, L"%ls", SettingsWarningNote());
    fields.hasReadout = FormatReadout(ShownPicture(), fields.readout);
    if (!fields.hasReadout) FormatScopeField(fields.scope, sizeof fields.scope);
    return fields;
}

// The settings line's texts are UTF-8; the readout's parts go in their
// traces' colours.
void DrawScopeLine(HDC dc, const StatusFields& fields)
{
    WCHAR text[kFieldLength * 2];
    int x = kCountX;
    for (int part = 0; part <= (fields.hasReadout ? kTraceCount : 0); ++part) {
        const char* utf8 = fields.hasReadout ? fields.readout[part] : fields.scope;
        const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, kFieldLength * 2) - 1;
        if (length <= 0) continue;
        SetTextColor(dc, part ? kTraceColours[part] : kCountColour);
        TextOutW(dc, x, kScopeLineRow, text, length);
        SIZE size = {};
        GetTextExtentPoint32W(dc, text, length, &size);
        x += size.cx + kFieldGap;
    }
}

// The link field gives way to the recording field, so the two never overlap.
void DrawStatusFields(HDC dc, const StatusFields& fields)
{
    SetBkColor(dc, kTextBackground);
    SetTextColor(dc, kCountColour);
    const int recordLength = static_cast<int>(wcslen(fields.record));
    SIZE recordSize = {};
    GetTextExtentPoint32W(dc, fields.record, recordLength, &recordSize);
    const int recordLeft = kRecordRight - recordSize.cx;
    if (recordLength) TextOutW(dc, recordLeft, kStatusRow, fields.record, recordLength);
    const RECT clip = {kLinkX, kStatusTop, recordLength ? recordLeft - kFieldGap : kRecordRight, kStatusBottom};
    ExtTextOutW(dc, kLinkX, kStatusRow, ETO_CLIPPED, &clip, fields.link, static_cast<UINT>(wcslen(fields.link)),
                nullptr);
    DrawScopeLine(dc, fields);
    g_shownFields = fields;
}

// Fixed widths, drawn opaque: each new text covers the last.
void DrawCountAndValues(HDC dc)
{
    WCHAR text[kStatusBufferLength];
    SetBkColor(dc, kTextBackground);
    SetTextColor(dc, kCountColour);
    int length = swprintf(text, kStatusBufferLength, L"Count:%07ld", static_cast<long>(g_sweep.tickCount));
    TextOutW(dc, kCountX, kStatusRow, text, length);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        SetTextColor(dc, kTraceColours[trace]);
        length = swprintf(text, kStatusBufferLength, kValueFormats[trace], static_cast<int>(g_sweep.raw[trace]));
        TextOutW(dc, kValueX[trace], kStatusRow, text, length);
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

void DrawView(HDC dc, const RECT& area, const std::vector<RECT>& rects)
{
    TileBackground(dc, area);
    DrawTraces(dc, rects);
    if (area.left < kMarkerWidth) DrawLevelMarker(dc);
    if (area.top < kPositionMarkerHeight) DrawPositionMarker(dc);
    if (area.bottom > kStatusRow) {
        DrawCountAndValues(dc);
        DrawStatusFields(dc, FormatStatusFields());
    }
    if (area.bottom > kScopeLineBottom) DrawHistoryThumb(dc, kScopeLineBottom, kThumbBottom, area.right);
}

// A paint of half the view or more (a new sweep, a screen of history) is
// thousands of segments: they are drawn off screen, where the platform draws
// them itself rather than one request at a time, and shown at once.
void DrawViewOffScreen(HDC dc, const RECT& area, const std::vector<RECT>& rects)
{
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetViewportOrgEx(memory, -area.left, -area.top, nullptr);
    FillRect(memory, &area, GetSysColorBrush(COLOR_APPWORKSPACE));
    DrawView(memory, area, rects);
    BitBlt(dc, area.left, area.top, width, height, memory, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

// A tick's paint covers only its columns: the rest is left alone.
void PaintTraceView(HWND window)
{
    const std::vector<RECT> rects = UpdateRects(window);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    paint.rcPaint.right = paint.rcPaint.right < client.right ? paint.rcPaint.right : client.right;
    if (paint.rcPaint.right - paint.rcPaint.left > kViewWidth / 2 && paint.rcPaint.bottom > paint.rcPaint.top)
        DrawViewOffScreen(dc, paint.rcPaint, rects);
    else
        DrawView(dc, paint.rcPaint, rects);
    EndPaint(window, &paint);
}

LRESULT OnMouseWheel(WPARAM wParam)
{
    if (GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT)
        ScrollHistory(GET_WHEEL_DELTA_WPARAM(wParam));
    else
        StepGain(GET_WHEEL_DELTA_WPARAM(wParam));
    return 0;
}

LRESULT OnButtonDown(WPARAM wParam, LPARAM lParam)
{
    if (wParam & MK_CONTROL) SetTriggerPosition(GET_X_LPARAM(lParam));
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
    if (frozen && !g_frozen) g_frozenPicture = g_sweep.picture;
    g_frozen = frozen;
    OnFreezeChanged();
    if (g_traceView) InvalidateRect(g_traceView, nullptr, TRUE);
}

bool IsFrozen()
{
    return g_frozen;
}

void InvalidateSweep(const SweepState& state)
{
    if (!g_traceView || g_frozen) return;
    if (state.changedAll) {
        InvalidateRect(g_traceView, nullptr, TRUE);
        return;
    }
    if (state.changedRight < state.changedLeft) return;
    const RECT columns = {state.changedLeft - kPenWidth, 0, state.changedRight + kPenWidth + 1, kGridRows};
    InvalidateRect(g_traceView, &columns, FALSE);
}

// The count and values are repainted when frames came, opaque and of fixed
// width; the other fields only when their texts change, so their old texts go.
void UpdateStatusRow()
{
    static int32_t shownTicks;
    if (!g_traceView) return;
    const RECT values = {kCountX, kStatusRow, kLinkX, kStatusBottom};
    if (g_sweep.tickCount != shownTicks) InvalidateRect(g_traceView, &values, FALSE);
    shownTicks = g_sweep.tickCount;
    const RECT thumb = {0, kScopeLineBottom, kViewWidth, kThumbBottom};
    if (g_frozen) InvalidateRect(g_traceView, &thumb, FALSE);
    if (FormatStatusFields() == g_shownFields) return;
    const RECT fields = {kLinkX, kStatusRow, kRecordRight, kStatusBottom};
    const RECT scopeLine = {kCountX, kScopeLineRow, kRecordRight, kScopeLineBottom};
    InvalidateRect(g_traceView, &fields, TRUE);
    InvalidateRect(g_traceView, &scopeLine, TRUE);
    InvalidateRect(g_traceView, &thumb, TRUE);
}

// The grid with its traces and the status rows, drawn afresh for the clipboard.
void CopyViewPicture()
{
    if (!g_traceView) return;
    RECT area;
    GetClientRect(g_traceView, &area);
    area.bottom = kScopeLineBottom;
    HDC viewDc = GetDC(g_traceView);
    HDC dc = CreateCompatibleDC(viewDc);
    HBITMAP bitmap = CreateCompatibleBitmap(viewDc, area.right, area.bottom);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    FillRect(dc, &area, GetSysColorBrush(COLOR_APPWORKSPACE));
    DrawView(dc, area, {area});
    SelectObject(dc, previous);
    DeleteDC(dc);
    ReleaseDC(g_traceView, viewDc);
    bool handedOver = false;
    if (OpenClipboard(g_mainWindow)) {
        handedOver = EmptyClipboard() && SetClipboardData(CF_BITMAP, bitmap);
        CloseClipboard();
    }
    if (!handedOver) DeleteObject(bitmap);
}

LRESULT CALLBACK TraceWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate();
    case WM_ERASEBKGND: return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_PAINT: PaintTraceView(window); return 0;
    case WM_MOUSEWHEEL: return OnMouseWheel(wParam);
    case WM_LBUTTONDOWN: return OnButtonDown(wParam, lParam);
    case WM_MOUSEMOVE: TrackReadout(window, GET_X_LPARAM(lParam)); return 0;
    case WM_MOUSELEAVE: ClearReadout(); return 0;
    case WM_LBUTTONDBLCLK: ToggleFreeze(); return 0;
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
    g_traceView = CreateWindowExW(0, kTraceClassName, L"Дочернее окно", WS_CHILD | WS_BORDER, kViewX, kViewY,
                                  kViewWidth, kViewHeight, mainWindow, nullptr, g_instance, nullptr);
    ShowWindow(g_traceView, SW_SHOW);
}
