#include <windows.h>

#include <dbt.h>

#include <string>

#include "acquisition.h"
#include "app.h"
#include "ports.h"
#include "recording.h"
#include "resource.h"
#include "save_folders.h"

HINSTANCE g_instance;
HWND g_mainWindow;
WCHAR g_title[kMaxLoadString];
WCHAR g_className[kMaxLoadString];

namespace {

// The status row repaints at most 20 times a second, however fast frames come.
constexpr UINT kStatusPeriodMs = 50;
constexpr int kErrorTextLength = 512;

}  // namespace

std::wstring SystemMessage(DWORD error)
{
    WCHAR text[kErrorTextLength] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                   kErrorTextLength, nullptr);
    std::wstring message = text;
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) message.pop_back();
    return message;
}

namespace {

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

void ReportRecordingStopped(HWND window, DWORD error)
{
    MessageBoxW(window, (L"Запись остановлена: " + SystemMessage(error)).c_str(), L"Внимание!!!", MB_OK);
}

void ShowModemLines(HWND window)
{
    CheckMenuItem(GetMenu(window), IDM_DTR, g_modemLines.dtr ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(GetMenu(window), IDM_RTS, g_modemLines.rts ? MF_CHECKED : MF_UNCHECKED);
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
void PostRecordingFailure(DWORD error)
{
    PostMessageW(g_mainWindow, WM_RECORDING_FAILED, error, 0);
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
    ShowModemLines(window);
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
    if (!StartAcquisition(portName, ChosenSpeed(), g_modemLines, &failure)) {
        ReportStartFailure(window, failure);
        return 0;
    }
    EnableWindow(g_startButton, FALSE);
    EnableWindow(g_stopButton, TRUE);
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

// A run going is stopped first, with the recording, if the user agrees.
LRESULT OnOpen(HWND window)
{
    if (IsPortOpen() || IsPortLost()) {
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
    else if (!StartRecording(&error))
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

LRESULT OnPortList(WPARAM wParam)
{
    if (HIWORD(wParam) == CBN_DROPDOWN) RefreshPortList();
    if (HIWORD(wParam) == CBN_SELCHANGE) NotePortChoice();
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (lParam && reinterpret_cast<HWND>(lParam) == g_portList) return OnPortList(wParam);
    if (lParam && reinterpret_cast<HWND>(lParam) == g_speedList) return NoteSpeedChoice(HIWORD(wParam)), 0;
    if (OnScopeCommand(wParam)) return 0;
    switch (LOWORD(wParam)) {
    case IDC_START: return OnStart(window);
    case IDC_STOP: return OnStop(window);
    case IDM_RECORD: return OnRecord(window);
    case IDM_DTR:
    case IDM_RTS: return OnModemLine(window, LOWORD(wParam));
    case IDM_OPEN: return OnOpen(window);
    case IDM_COPY: CopyViewPicture(); return 0;
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
    if (TakeAcquiredFrames()) {
        InvalidateSweep(g_sweep);
        UpdateWindow(g_traceView);
    }
    RearmFramesReady();
    return 0;
}

LRESULT OnTimer(HWND window, WPARAM timer)
{
    if (timer == ID_WARNING_TIMER) KillTimer(window, timer);
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

LRESULT OnRecordingFailed(HWND window, DWORD error)
{
    StopRecording();
    ShowRecordingState(window);
    ReportRecordingStopped(window, error);
    return 0;
}

const WCHAR* BroadcastPortName(LPARAM lParam)
{
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_PORT) return nullptr;
    return reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header)->dbcp_name;
}

// A removal naming the open port is a loss at once, before any read fails;
// any other change is worth a try at once: the lost board may be back, under
// its own name or another.
LRESULT OnDeviceChange(HWND window, WPARAM wParam, LPARAM lParam)
{
    RefreshPortList();
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
    case WM_RECORDING_FAILED: return OnRecordingFailed(window, static_cast<DWORD>(wParam));
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

// Alt keys act only where they were pressed, so that a list keeps its own;
// the other keys (recording, scope) work from every control of the window.
HWND AcceleratorTarget(const MSG& message)
{
    if (message.hwnd != g_mainWindow && IsChild(g_mainWindow, message.hwnd) && !(GetKeyState(VK_MENU) & 0x8000))
        return g_mainWindow;
    return message.hwnd;
}

int RunMessageLoop(HACCEL accelerators)
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (RouteScopeInput(message) || RouteHistoryInput(message)) continue;
        if (TranslateAcceleratorW(AcceleratorTarget(message), accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
