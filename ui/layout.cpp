// Everything the user sees but the plot follows the window's DPI: the fonts
// are the system's message font at that DPI, the bars are laid out from
// measured text, and the window takes the client size it needs within its
// monitor's work area. The plot keeps whole device pixels per column: one
// below 192 DPI, 2 x 2 from there when the doubled window fits.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app.h"
#include "link_health.h"
#include "resource.h"
#include "scope_settings.h"

ViewLayout g_viewLayout;
HFONT g_statusFont;

namespace {

// Windows before 10 1607 lacks the ...ForDpi calls: the system DPI stands in.
template <typename Function>
Function FromUser32(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}
const auto g_dpiForWindow = FromUser32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
const auto g_metricsForDpi = FromUser32<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
const auto g_parametersForDpi = FromUser32<BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT)>("SystemParametersInfoForDpi");
const auto g_adjustForDpi = FromUser32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");

constexpr UINT kDoublingDpi = 192;
constexpr int kListHeight = 240;
constexpr int kTextLength = 200;
constexpr WCHAR kWidestPort[] = L"COM256";
constexpr WCHAR kWidestNumber[] = L"-32768";
constexpr WCHAR kWidestCount[] = L"Count:00000000";
// A value is a sign and five digits or six digits, whichever is wider.
constexpr WCHAR kNegativeValue[] = L"y3: -00000";
constexpr WCHAR kPositiveValue[] = L"y3: 000000";
constexpr WCHAR kWidestRecord[] = L"tarquell-20261207-153012-99.csv";

// Left to right: the port and the run, then the scope controls, which take a
// second row when one row would not fit the work area.
constexpr int kPortBar[] = {IDC_PORT_LABEL, IDC_PORT_LIST, IDC_SPEED_LABEL, IDC_SPEED_LIST, IDC_START, IDC_STOP};
constexpr int kScopeBar[] = {IDC_TIME_LABEL,  IDC_TIMEBASE,    IDC_VTRACE,      IDC_GAIN_LABEL, IDC_GAIN,
                             IDC_CENTRE_LABEL, IDC_CENTRE,      IDC_TRIG_LABEL,  IDC_TRIG_MODE,  IDC_TRIG_SOURCE,
                             IDC_LEVEL_LABEL,  IDC_TRIG_LEVEL,  IDC_SINGLE,      IDC_FREEZE};
// Right to left from the row's right edge; the field takes what is left, at
// least room for a line like this.
constexpr int kSendRowFixed[] = {IDC_SEND, IDC_SEND_HEX, IDC_SEND_END};
constexpr WCHAR kShortestSendField[] = L"values 1 2 3";

UINT g_dpi = USER_DEFAULT_SCREEN_DPI;
HFONT g_messageFont;

int Scaled(int pixels)
{
    return MulDiv(pixels, static_cast<int>(g_dpi), USER_DEFAULT_SCREEN_DPI);
}

int Metric(int index)
{
    return g_metricsForDpi ? g_metricsForDpi(index, g_dpi) : GetSystemMetrics(index);
}

UINT SystemDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

void CreateFonts()
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!g_parametersForDpi || !g_parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, g_dpi))
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    g_messageFont = CreateFontIndirectW(&metrics.lfMessageFont);
    // Not bold: Wine makes up a bold face wider than it measures.
    g_statusFont = CreateFontIndirectW(&metrics.lfMessageFont);
}

// Controls keep the font they were sent: the new one goes out before the old is deleted.
void ReplaceFonts(HWND mainWindow)
{
    HFONT oldMessage = g_messageFont, oldStatus = g_statusFont;
    CreateFonts();
    for (HWND child = GetWindow(mainWindow, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(g_messageFont), TRUE);
    DeleteObject(oldMessage);
    DeleteObject(oldStatus);
}

int TextHeight(HDC dc)
{
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    return metrics.tmHeight;
}

bool IsClass(HWND window, const WCHAR* name)
{
    WCHAR className[64] = L"";
    GetClassNameW(window, className, 64);
    return _wcsicmp(className, name) == 0;
}

bool IsLabel(int id)
{
    return id >= IDC_PORT_LABEL && id <= IDC_LEVEL_LABEL;
}

// Wide enough for its text, or its longest entry, in the message font.
int ControlWidth(HDC dc, HWND control)
{
    WCHAR text[kTextLength] = L"";
    const int id = GetDlgCtrlID(control);
    if (IsClass(control, L"ComboBox")) {
        int widest = id == IDC_PORT_LIST ? TextWidth(dc, kWidestPort) : 0;
        const int count = static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i)
            if (SendMessageW(control, CB_GETLBTEXTLEN, i, 0) < kTextLength) {
                SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
                widest = std::max(widest, TextWidth(dc, text));
            }
        return widest + Metric(SM_CXVSCROLL) + 2 * Metric(SM_CXEDGE) + Scaled(6);
    }
    if (IsClass(control, L"Edit")) return TextWidth(dc, kWidestNumber) + 2 * Metric(SM_CXEDGE) + Scaled(8);
    GetWindowTextW(control, text, kTextLength);
    if (IsLabel(id)) return TextWidth(dc, text) + Scaled(2);
    if ((GetWindowLongW(control, GWL_STYLE) & (BS_TYPEMASK | BS_PUSHLIKE)) == BS_AUTOCHECKBOX)
        return TextWidth(dc, text) + Metric(SM_CXMENUCHECK) + Scaled(8);
    return std::max(TextWidth(dc, text) + Scaled(16), id == IDC_START || id == IDC_STOP ? Scaled(50) : 0);
}

int WindowHeight(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

// A list shows its edit's height, centred in the row, and drops down below;
// a label its text's height; the rest fill the row.
void PlaceControl(HDC dc, HWND control, int x, int top, int width, int height)
{
    const bool list = IsClass(control, L"ComboBox");
    const int shown = IsLabel(GetDlgCtrlID(control)) ? TextHeight(dc) : list ? WindowHeight(control) : height;
    SetWindowPos(control, nullptr, x, top + (height - shown) / 2, width, shown + (list ? Scaled(kListHeight) : 0),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool StartsGroup(HWND control)
{
    return IsLabel(GetDlgCtrlID(control)) || IsClass(control, L"Button");
}

// Lays the controls out from (left, top) in rows `height` high, a label close
// to what it names; a label or a button whose group would pass `right` starts
// a new row. Moves them only if `place`; returns the widest row's right edge.
template <size_t count>
int Flow(HWND mainWindow, HDC dc, const int (&ids)[count], int left, int top, int right, int height, bool place,
         int* rows)
{
    HWND controls[count];
    int widths[count];
    for (size_t i = 0; i < count; ++i)
        widths[i] = ControlWidth(dc, controls[i] = GetDlgItem(mainWindow, ids[i]));
    int x = left, widest = left;
    *rows = 1;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            int group = widths[i];
            for (size_t j = i + 1; j < count && !StartsGroup(controls[j]); ++j) group += Scaled(4) + widths[j];
            const int gap = Scaled(IsLabel(ids[i - 1]) ? 3 : IsLabel(ids[i]) ? 8 : 4);
            if (StartsGroup(controls[i]) && x + gap + group > right) {
                x = left;
                top += height + Scaled(4);
                ++*rows;
            } else {
                x += gap;
            }
        }
        if (place) PlaceControl(dc, controls[i], x, top, widths[i], height);
        x += widths[i];
        widest = std::max(widest, x);
    }
    return widest;
}

int SendRowWidth(HWND mainWindow, HDC dc)
{
    int width = TextWidth(dc, kShortestSendField) + Metric(SM_CXVSCROLL);
    for (int id : kSendRowFixed) width += Scaled(8) + ControlWidth(dc, GetDlgItem(mainWindow, id));
    return width;
}

void PlaceSendRow(HWND mainWindow, HDC dc, int left, int top, int right, int height)
{
    int x = right;
    for (int id : kSendRowFixed) {
        HWND control = GetDlgItem(mainWindow, id);
        const int width = ControlWidth(dc, control);
        x -= width;
        PlaceControl(dc, control, x, top, width, height);
        x -= Scaled(8);
    }
    PlaceControl(dc, GetDlgItem(mainWindow, IDC_SEND_TEXT), left, top, x - left, height);
}

// The longest texts the status rows hold, from the formatters themselves.
void WidestStatusTexts(char* link, char* scopeLine, int size)
{
    LinkHealth health = {};
    health.skippedBytes = 99999999;
    health.overruns = health.framingErrors = 99999;
    FormatLinkHealth(health, 60000, link, size);
    ScopeSettings scope = DefaultScope();
    scope.framesPerColumn = kTimebases[kTimebaseCount - 1];
    for (int trace = 1; trace <= kTraceCount; ++trace) scope.gain[trace] = kMaxGain, scope.centre[trace] = INT16_MIN;
    scope.mode = TriggerMode::Single;
    scope.level = INT16_MIN;
    // A frozen view in the history shows where it stands in front of the settings.
    const int position = std::snprintf(scopeLine, size, "history −9999.9 s (frame 4,194,304) | ");
    FormatScopeLine(scope, TriggerPhase::Waiting, 3, true, scopeLine + position, size - position);
}

// The widest group of the measurement line, from its formatter.
int WidestFigureGroup(HDC dc)
{
    Figures figures = {};
    figures.frames = 1;
    for (int trace = 1; trace <= kTraceCount; ++trace) figures.trace[trace] = {INT16_MIN, INT16_MAX, INT16_MIN, 32768, 0.1};
    char parts[kTraceCount + 1][kFigurePart];
    FormatFigureParts(figures, parts);
    int widest = 0;
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        WCHAR text[kFigurePart];
        MultiByteToWideChar(CP_UTF8, 0, parts[trace], -1, text, kFigurePart);
        widest = std::max(widest, TextWidth(dc, text));
    }
    return widest;
}

// The plot, then the status rows: the count and the values, the modem lines
// at the row's right end; the link and the recording between them when they
// fit, else on the next row; the scope line on as many rows as its longest
// text takes; the measurement line's groups, when it is shown, as many to a
// row as fit.
ViewLayout ViewFor(int scale)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, g_statusFont);
    ViewLayout view = {};
    view.scale = scale;
    view.plotWidth = view.width = kSweepWidth * scale;
    view.plotHeight = view.statusTop = kGridRows * scale;
    view.rowHeight = TextHeight(dc);
    const int pad = Scaled(10), gap = Scaled(8);
    view.countX = pad;
    int x = pad + TextWidth(dc, kWidestCount);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        view.valueX[trace] = x + gap;
        x = view.valueX[trace] + std::max(TextWidth(dc, kNegativeValue), TextWidth(dc, kPositiveValue));
    }
    view.valuesRight = x;
    view.rowRight = view.plotWidth - pad;
    for (const WCHAR* name : kLampNames) view.lampWidth = std::max(view.lampWidth, TextWidth(dc, name));
    view.lampWidth = std::max(view.lampWidth, TextWidth(dc, kUnknownLamp));
    const int lampGap = Scaled(6);
    for (int lamp = 0; lamp < kLampCount; ++lamp)
        view.lampX[lamp] = view.rowRight - (kLampCount - lamp) * view.lampWidth - (kLampCount - 1 - lamp) * lampGap;
    char link[kTextLength], scopeLine[kTextLength];
    WidestStatusTexts(link, scopeLine, kTextLength);
    SIZE linkSize = {};
    GetTextExtentPoint32A(dc, link, static_cast<int>(strlen(link)), &linkSize);
    const bool shareRow = x + 3 * gap + linkSize.cx + TextWidth(dc, kWidestRecord) <= view.lampX[0];
    view.recordRight = shareRow ? view.lampX[0] - gap : view.rowRight;
    view.linkX = shareRow ? x + gap : pad;
    view.linkTop = view.statusTop + (shareRow ? 0 : view.rowHeight);
    view.scopeTop = view.linkTop + view.rowHeight;
    RECT scopeRect = {view.countX, view.scopeTop, view.rowRight, view.scopeTop};
    WCHAR wideScopeLine[kTextLength];
    MultiByteToWideChar(CP_UTF8, 0, scopeLine, -1, wideScopeLine, kTextLength);
    DrawTextW(dc, wideScopeLine, -1, &scopeRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    view.scopeBottom = std::max<LONG>(scopeRect.bottom, view.scopeTop + view.rowHeight);
    view.measureTop = view.measureBottom = view.scopeBottom;
    if (MeasurementsShown()) {
        view.figureWidth = WidestFigureGroup(dc) + 2 * gap;
        view.figuresPerRow = std::clamp((view.rowRight - view.countX + 2 * gap) / view.figureWidth, 1, kTraceCount);
        view.measureBottom += (kTraceCount + view.figuresPerRow - 1) / view.figuresPerRow * view.rowHeight;
    }
    view.thumbTop = view.measureBottom + Scaled(1);
    view.thumbBottom = view.thumbTop + Scaled(4);
    view.height = view.thumbBottom + Scaled(1);
    SelectObject(dc, previous);
    DeleteDC(dc);
    return view;
}

// The size of a window (the main one has a menu) around a client of this size.
SIZE WindowSize(HWND window, int clientWidth, int clientHeight)
{
    RECT rect = {0, 0, clientWidth, clientHeight};
    const DWORD style = GetWindowLongW(window, GWL_STYLE), exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    const BOOL menu = GetMenu(window) != nullptr && !(style & WS_CHILD);
    if (!g_adjustForDpi || !g_adjustForDpi(&rect, style, menu, exStyle, g_dpi))
        AdjustWindowRectEx(&rect, style, menu, exStyle);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

int TextWidth(HDC dc, const WCHAR* text)
{
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    return size.cx;
}

void InitLayout(HWND mainWindow)
{
    g_dpi = g_dpiForWindow ? g_dpiForWindow(mainWindow) : SystemDpi();
    ReplaceFonts(mainWindow);
    LayOut(mainWindow, nullptr);
}

void LayOut(HWND mainWindow, const RECT* suggested)
{
    RECT place = {};
    if (suggested) place = *suggested;
    else GetWindowRect(mainWindow, &place);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromRect(&place, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const SIZE frame = WindowSize(mainWindow, 0, 0);

    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, g_messageFont);
    int rowHeight = TextHeight(dc) + Scaled(8);
    for (int id : {IDC_PORT_LIST, IDC_SPEED_LIST, IDC_TIMEBASE, IDC_SEND_TEXT, IDC_SEND_END})
        rowHeight = std::max(rowHeight, WindowHeight(GetDlgItem(mainWindow, id)));
    const int margin = Scaled(10), top = Scaled(4), viewLeft = Scaled(30);
    // The scope bar goes beside the port bar when the work area is wide
    // enough for both, else under it, in as many rows as it takes.
    const int right = work.right - work.left - frame.cx - margin;
    int portRows = 1, scopeRows = 1;
    const int portRight = Flow(mainWindow, dc, kPortBar, margin, top, right, rowHeight, false, &portRows);
    const int scopeWidth = Flow(mainWindow, dc, kScopeBar, 0, 0, INT_MAX, rowHeight, false, &scopeRows);
    const bool beside = portRows == 1 && portRight + Scaled(8) + scopeWidth <= right;
    const int scopeLeft = beside ? portRight + Scaled(8) : margin;
    const int scopeTop = beside ? top : top + portRows * (rowHeight + Scaled(4));
    const int scopeRight = Flow(mainWindow, dc, kScopeBar, scopeLeft, scopeTop, right, rowHeight, false, &scopeRows);
    const int barWidth = std::max(portRight, scopeRight) + margin;
    const int viewTop = scopeTop + scopeRows * (rowHeight + Scaled(4)) + Scaled(2);

    const int border = WindowSize(g_traceView, 0, 0).cx;
    ViewLayout view = {};
    int clientWidth = 0, clientHeight = 0, viewBottom = 0;
    bool sendBeside = false;
    SIZE size = {};
    const auto fits = [&] {
        size = WindowSize(mainWindow, clientWidth, clientHeight);
        return size.cx <= work.right - work.left && size.cy <= work.bottom - work.top;
    };
    // The send row goes under the view; where the window would then be too
    // tall for the work area, right of the port bar if the scope bar left room.
    for (int scale = g_dpi >= kDoublingDpi ? 2 : 1; scale >= 1; --scale) {
        view = ViewFor(scale);
        clientWidth = std::max(barWidth, 2 * viewLeft + view.width + border);
        viewBottom = viewTop + view.height + border;
        clientHeight = viewBottom + Scaled(6) + rowHeight + margin;
        sendBeside = false;
        if (fits()) break;
        sendBeside = !beside && portRows == 1 &&
                     portRight + Scaled(8) + SendRowWidth(mainWindow, dc) <= clientWidth - margin;
        if (sendBeside) clientHeight = viewBottom + margin;
        if (sendBeside && fits()) break;
    }

    Flow(mainWindow, dc, kPortBar, margin, top, right, rowHeight, true, &portRows);
    Flow(mainWindow, dc, kScopeBar, scopeLeft, scopeTop, right, rowHeight, true, &scopeRows);
    const int viewX = (clientWidth - view.width - border) / 2;
    if (sendBeside)
        PlaceSendRow(mainWindow, dc, portRight + Scaled(8), top, clientWidth - margin, rowHeight);
    else
        PlaceSendRow(mainWindow, dc, viewX, viewBottom + Scaled(6), viewX + view.width + border, rowHeight);
    SelectObject(dc, previous);
    DeleteDC(dc);
    g_viewLayout = view;
    SetWindowPos(g_traceView, nullptr, viewX, viewTop, view.width + border, view.height + border,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    const int x = std::max<LONG>(work.left, std::min<int>(place.left, work.right - size.cx));
    const int y = std::max<LONG>(work.top, std::min<int>(place.top, work.bottom - size.cy));
    SetWindowPos(mainWindow, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(mainWindow, nullptr, TRUE);
    InvalidateRect(g_traceView, nullptr, TRUE);
}

// A move to a monitor of another scaling, or a change of the scaling itself:
// the suggested rectangle keeps the window on the monitor that asked.
LRESULT OnDpiChanged(HWND mainWindow, WPARAM wParam, LPARAM lParam)
{
    g_dpi = LOWORD(wParam);
    ReplaceFonts(mainWindow);
    LayOut(mainWindow, reinterpret_cast<const RECT*>(lParam));
    return 0;
}

void ReleaseLayout()
{
    DeleteObject(g_messageFont);
    DeleteObject(g_statusFont);
    g_messageFont = g_statusFont = nullptr;
}
