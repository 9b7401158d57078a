#include <windows.h>

#include <dbt.h>

#include <string>

#include "acquisition.h"
#include "app.h"
#include "ports.h"
#include "recording.h"
#include "resource.h"
#include "save_folders.h"
#include "system_text.h"

HINSTANCE g_instance;
HWND g_mainWindow;
WCHAR g_title[kMaxLoadString];
WCHAR g_className[kMaxLoadString];

namespace {

// The status row repaints at most 20 times a second, however fast frames come.
constexpr UINT kStatusPeriodMs = 50;
constexpr UINT kDeviceBurstMs = 250;

// The causes a user meets need different actions: close the other program,
// plug the adapter back in, pick another speed.
void ReportStartFailure(HWND window, const StartFailure& failure)
{
    WCHAR port[kPortTextCount];
    swprintf(port, kPortTextCount, L"%hs", failure.portName.c_str());
    std::wstring text = std::wstring(L"Не получилось!!!\n") + port + L": " + SystemMessage(failure.error);
    if (failure.settingsRefused)
        text += L"\nThe driver refused 8N1 at " + std::to_wstring(failure.speed) + L" baud.";
    else if (failure.error == ERROR_ACCESS_DENIED)
        text += L"\nThe port is in use by another program.";
    MessageBoxW(window, text.c_str(), L"Внимание!!!", MB_OK);
}

// A failure of a running recording names its file: it may be an earlier
// recording's, whose writer came back from a stalled disk after a new one started.
void ReportRecordingStopped(HWND window, DWORD error, const WCHAR* fileName = L"")
{
    std::wstring text = L"Запись остановлена: " + SystemMessage(error);
    if (*fileName) text += L"\n" + std::wstring(fileName);
    MessageBoxW(window, text.c_str(), L"Внимание!!!", MB_OK);
}

void ShowModemLines(HWND window)
{
    CheckMenuItem(GetMenu(window), IDM_DTR, g_modemLines.dtr ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(GetMenu(window), IDM_RTS, g_modemLines.rts ? MF_CHECKED : MF_UNCHECKED);
}

void ShowSeparator(HWND window)
{
    CheckMenuItem(GetMenu(window), IDM_SEMICOLON, g_csvSeparator == ';' ? MF_CHECKED : MF_UNCHECKED);
}

void FollowStatus(HWND window)
{
    if (IsRecording() || IsAcquiring())
        SetTimer(window, ID_STATUS_TIMER, kStatusPeriodMs, nullptr);
    else
        KillTimer(window, ID_STATUS_TIMER);
    UpdateStatusRow();
}

void ShowRecordingState(HWND window)
{
    CheckMenuItem(GetMenu(window), IDM_RECORD, IsRecording() ? MF_CHECKED : MF_UNCHECKED);
    FollowStatus(window);
}

// From the acquisition's threads: only posting is safe there.
void PostRecordingFailure()
{
    PostMessageW(g_mainWindow, WM_RECORDING_FAILED, 0, 0);
}

void PostFramesReady()
{
    PostMessageW(g_mainWindow, WM_FRAMES_READY, 0, 0);
}

void PostLinkChanged()
{
    PostMessageW(g_mainWindow, WM_LINK_CHANGED, 0, 0);
}

void ShowIdle(HWND window)
{
    EnableWindow(g_startButton, TRUE);
    EnableWindow(g_stopButton, FALSE);
    EnableSendRow(false);
    FollowStatus(window);
}

LRESULT OnCreate(HWND window)
{
    g_mainWindow = window;
    ChooseSaveFolders(FolderWritable);
    InitSweep(g_sweep);
    AttachHistory();
    CreateTraceView(window);
    CreateControlBar(window);
    CreateScopeBar(window);
    CreateSendRow(window);
    LoadMeasureSetting();
    ShowModemLines(window);
    ShowSeparator(window);
    if (*SettingsWarning()) SetTimer(window, ID_WARNING_TIMER, kSettingsWarningShowMs, nullptr);
    InitLayout(window);
    SetAcquisitionEvents({PostFramesReady, PostLinkChanged, PostRecordingFailure});
    return 0;
}

void ShowInfoDialog(HWND window, int dialogId)
{
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(dialogId), window, InfoDlgProc, 0);
}

// Nothing was started when the port failed, so nothing needs stopping.
LRESULT OnStart(HWND window)
{
    LeaveRecording();
    char portName[kPortTextCount] = "";
    GetWindowTextA(g_portList, portName, kPortTextCount);
    StartFailure failure = {};
    if (!StartAcquisition(portName, ChosenSpeed(), g_modemLines, window, &failure)) {
        ReportStartFailure(window, failure);
        return 0;
    }
    ResetSweep(g_sweep);
    EnableWindow(g_startButton, FALSE);
    EnableWindow(g_stopButton, TRUE);
    EnableSendRow(true);
    InvalidateRect(g_traceView, nullptr, TRUE);
    FollowStatus(window);
    return 0;
}

LRESULT OnStop(HWND window)
{
    StopAcquisition();
    ShowIdle(window);
    return 0;
}

// A run going is stopped first, with the recording, if the user agrees: the
// history is the reader's alone while a file is read.
LRESULT OnOpen(HWND window)
{
    if (IsAcquiring()) {
        if (MessageBoxW(window, L"Остановить приём?", L"Внимание!!!", MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;
        OnStop(window);
        StopRecording();
        ShowRecordingState(window);
    }
    OpenRecording(window, nullptr);
    return 0;
}

LRESULT OnRecord(HWND window)
{
    DWORD error = 0;
    if (IsRecording())
        StopRecording();
    else if (!StartRecording(g_csvSeparator, &error))
        ReportRecordingStopped(window, error);
    ShowRecordingState(window);
    return 0;
}

LRESULT OnModemLine(HWND window, int id)
{
    bool& line = id == IDM_DTR ? g_modemLines.dtr : g_modemLines.rts;
    line = !line;
    ShowModemLines(window);
    SetAcquisitionModemLines(g_modemLines);
    UpdateStatusRow();
    return 0;
}

// Recordings started from now on.
LRESULT OnSemicolon(HWND window)
{
    g_csvSeparator = g_csvSeparator == ';' ? ',' : ';';
    ShowSeparator(window);
    return 0;
}

LRESULT OnPortList(WPARAM wParam)
{
    if (HIWORD(wParam) == CBN_DROPDOWN) RefreshPortList();
    if (HIWORD(wParam) == CBN_SELCHANGE) NotePortChoice();
    return 0;
}

// Every key comes through the accelerator table, from whichever control has
// the focus; this is the one rule for what the focus keeps. An open drop-down
// keeps them all. An edit field keeps Ctrl+C and the caret keys, but the send
// field gives Up, Down and Enter (its lines, and sending) and a number box
// Enter (taking the number). A list keeps the keys that move its choice.
// Paging is for a frozen view, and the Alt keys act only from the window itself.
bool FocusKeepsKey(HWND focus, int command)
{
    if (!focus || focus == g_mainWindow || !IsChild(g_mainWindow, focus)) return false;
    HWND control = GetParent(focus) == g_mainWindow ? focus : GetParent(focus);
    if (SendMessageW(control, CB_GETDROPPEDSTATE, 0, 0)) return true;
    const bool edit = SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL;
    switch (command) {
    case IDM_COPY: return edit;
    case IDM_PAGE_BACK:
    case IDM_PAGE_FORWARD:
    case IDM_PAGE_OLDEST:
    case IDM_PAGE_NEWEST: return edit || !IsFrozen();
    case IDM_OLDER_LINE:
    case IDM_NEWER_LINE: return !IsSendField(focus);
    case IDM_ENTER_FIELD: return !IsSendField(focus) && !IsNumberBox(focus);
    case IDM_ABOUT: return true;
    default: return false;
    }
}

// Set when the focus keeps a key of the table: the loop hands it on unchanged.
bool g_keyKept;

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    constexpr WORD kFromAccelerator = 1;
    if (HIWORD(wParam) == kFromAccelerator && FocusKeepsKey(GetFocus(), LOWORD(wParam))) return g_keyKept = true, 0;
    if (lParam && reinterpret_cast<HWND>(lParam) == g_portList) return OnPortList(wParam);
    if (lParam && reinterpret_cast<HWND>(lParam) == g_speedList) return NoteSpeedChoice(HIWORD(wParam)), 0;
    if (OnScopeCommand(wParam) || OnSendCommand(wParam)) return 0;
    switch (LOWORD(wParam)) {
    case IDC_START: return OnStart(window);
    case IDC_STOP: return OnStop(window);
    case IDM_RECORD: return OnRecord(window);
    case IDM_DTR:
    case IDM_RTS: return OnModemLine(window, LOWORD(wParam));
    case IDM_OPEN: return OnOpen(window);
    case IDM_SEMICOLON: return OnSemicolon(window);
    case IDM_COPY: CopyViewPicture(); return 0;
    case IDM_SAVE_PICTURE: SaveViewPicture(window); return 0;
    case IDM_MEASURE: ToggleMeasurements(); return 0;
    case IDM_COPY_MEASUREMENTS: CopyMeasurements(); return 0;
    case IDM_CLEAR_CURSORS: ClearCursors(); return 0;
    case IDM_PAGE_BACK: MoveHistoryView(-kTenthsAScreen); return 0;
    case IDM_PAGE_FORWARD: MoveHistoryView(kTenthsAScreen); return 0;
    case IDM_PAGE_OLDEST:
    case IDM_PAGE_NEWEST: JumpHistoryView(LOWORD(wParam) == IDM_PAGE_NEWEST); return 0;
    case IDM_ABOUT: ShowInfoDialog(window, IDD_ABOUT); return 0;
    case IDM_PROTOCOL_HELP: ShowInfoDialog(window, IDD_PROTOCOL_HELP); return 0;
    case IDM_EXIT: DestroyWindow(window); return 0;
    default: return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
    }
}

// Whatever the ring holds is drawn at once, in one batch, and painted before
// the next; the link lets a stream gather between hand-overs, so it comes in
// batches with room for input between them.
LRESULT OnFramesReady()
{
    if (TakeAcquiredFrames(g_sweep)) {
        InvalidateSweep(g_sweep);
        UpdateWindow(g_traceView);
    }
    RearmFramesReady();
    return 0;
}

LRESULT OnTimer(HWND window, WPARAM timer)
{
    if (timer == ID_WARNING_TIMER || timer == ID_DEVICES_TIMER) KillTimer(window, timer);
    if (timer == ID_DEVICES_TIMER) RefreshPortList();
    UpdateStatusRow();
    return 0;
}

// An open that outlasted Start's wait and then failed, or a board followed
// to a new name, which becomes the choice.
LRESULT OnLinkChanged(HWND window)
{
    StartFailure failure = {};
    if (TakeLateStartFailure(&failure)) {
        ShowIdle(window);
        ReportStartFailure(window, failure);
    }
    std::string moved;
    if (TakeMovedPort(&moved)) {
        FollowPortChoice(std::wstring(moved.begin(), moved.end()).c_str());
        SaveSettings();
    }
    UpdateStatusRow();
    return 0;
}

LRESULT OnRecordingFailed(HWND window)
{
    RecordingFailure failure = {};
    while (TakeRecordingFailure(&failure)) {
        if (failure.wasCurrent) StopRecording();
        ShowRecordingState(window);
        ReportRecordingStopped(window, failure.error, failure.fileName);
    }
    return 0;
}

const WCHAR* BroadcastPortName(LPARAM lParam)
{
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_PORT) return nullptr;
    return reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header)->dbcp_name;
}

// Whether Windows speaks of the open port's own device.
bool IsAboutOpenPort(LPARAM lParam)
{
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    return header && header->dbch_devicetype == DBT_DEVTYP_HANDLE &&
           IsOpenPortNotification(reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header)->dbch_hdevnotify);
}

// The open handle would block a disable, a driver update or a safe removal:
// it is closed before the answer, and taken again only if Windows gives up.
LRESULT OnOpenPortQuery(WPARAM wParam)
{
    if (wParam == DBT_DEVICEQUERYREMOVE) ReleasePortForRemoval();
    if (wParam == DBT_DEVICEQUERYREMOVEFAILED) RetakePortAfterRemovalFailed();
    UpdateStatusRow();
    return TRUE;
}

// A removal naming the open port is a loss at once, before any read fails;
// any other change is worth a try at once: the lost board may be back, under
// its own name or another. A plug sends several changes: the list is read
// again once they stop coming.
LRESULT OnDeviceChange(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (IsAboutOpenPort(lParam)) return OnOpenPortQuery(wParam);
    SetTimer(window, ID_DEVICES_TIMER, kDeviceBurstMs, nullptr);
    const WCHAR* port = BroadcastPortName(lParam);
    if (port && wParam == DBT_DEVICEREMOVECOMPLETE)
        NotePortRemoved(port);
    else
        RetryLostPortNow();
    UpdateStatusRow();
    return DefWindowProcW(window, WM_DEVICECHANGE, wParam, lParam);
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

// Where neither place can be written, the user was told and nothing is tried.
void SaveSettingsAndRecording()
{
    if (!*SettingsWarning()) {
        SaveSettings();
        SaveScopeSettings();
        SaveSendSettings();
        SaveMeasureSetting();
    }
    StopRecording();
}

// A program ended by logoff or shutdown never sees WM_DESTROY.
LRESULT OnEndSession(WPARAM ending)
{
    if (ending) SaveSettingsAndRecording();
    return 0;
}

LRESULT OnDestroy()
{
    EndReading();
    SaveSettingsAndRecording();
    StopAcquisition();
    ReleaseLayout();
    PostQuitMessage(0);
    return 0;
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_TIMER: return OnTimer(window, wParam);
    case WM_FRAMES_READY: return OnFramesReady();
    case WM_LINK_CHANGED: return OnLinkChanged(window);
    case WM_RECORDING_FAILED: return OnRecordingFailed(window);
    case WM_READING_PROGRESS: OnReadingProgress(wParam, static_cast<int>(lParam)); return 0;
    case WM_READING_DONE: OnReadingDone(window, wParam); return 0;
    case WM_DEVICECHANGE: return OnDeviceChange(window, wParam, lParam);
    case WM_MEASUREITEM: return MeasurePortItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
    case WM_DRAWITEM: return DrawPortItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_DPICHANGED: return OnDpiChanged(window, wParam, lParam);
    case WM_PAINT: return OnPaint(window);
    case WM_ENDSESSION: return OnEndSession(wParam);
    case WM_DESTROY: return OnDestroy();
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

ATOM RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_SMALL), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_ACTIVECAPTION + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAIN_MENU);
    windowClass.lpszClassName = g_className;
    return RegisterClassExW(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance, int showCommand)
{
    g_instance = instance;
    HWND window = CreateWindowExW(0, g_className, g_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!window) return false;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return true;
}

namespace {

// The wheel goes to the focus, which for the speed list would quietly change
// the saved speed: over the view it is the view's.
bool SendWheelToView(const MSG& message)
{
    RECT view;
    if (message.message != WM_MOUSEWHEEL || !g_traceView || !GetWindowRect(g_traceView, &view) ||
        !PtInRect(&view, message.pt))
        return false;
    SendMessageW(g_traceView, message.message, message.wParam, message.lParam);
    return true;
}

}  // namespace

int RunMessageLoop(HACCEL accelerators)
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (SendWheelToView(message)) continue;
        g_keyKept = false;
        if (TranslateAcceleratorW(g_mainWindow, accelerators, &message) && !g_keyKept) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
