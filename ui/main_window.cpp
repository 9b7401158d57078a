#include "acquisition.h"
#include "app.h"
#include "ports.h"
#include "recording.h"
#include "resource.h"

HINSTANCE g_instance;
HWND g_mainWindow;
WCHAR g_title[kMaxLoadString];
WCHAR g_className[kMaxLoadString];

namespace {

constexpr UINT kSweepPeriodMs = 1;
constexpr UINT kStatusPeriodMs = 500;
constexpr int kErrorTextLength = 512;

void ReportOpenFailure(HWND window)
{
    MessageBoxW(window, L"Не получилось!!!", L"Внимание!!!", MB_OK);
}

void ReportRecordingStopped(HWND window, DWORD error)
{
    WCHAR text[kErrorTextLength] = L"Запись остановлена: ";
    const size_t prefix = wcslen(text);
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text + prefix,
                   static_cast<DWORD>(kErrorTextLength - prefix), nullptr);
    MessageBoxW(window, text, L"Внимание!!!", MB_OK);
}

void ShowRecordingState(HWND window)
{
    CheckMenuItem(GetMenu(window), IDM_RECORD, IsRecording() ? MF_CHECKED : MF_UNCHECKED);
    if (IsRecording())
        SetTimer(window, ID_STATUS_TIMER, kStatusPeriodMs, nullptr);
    else
        KillTimer(window, ID_STATUS_TIMER);
    UpdateStatusRow();
}

// The tick runs inside the timer message: the box waits for the loop.
void PostRecordingFailure(DWORD error)
{
    PostMessageW(g_mainWindow, WM_RECORDING_FAILED, error, 0);
}

LRESULT OnCreate(HWND window)
{
    g_mainWindow = window;
    InitSweep(g_sweep);
    CreateTraceView(window);
    CreateControlBar(window);
    CreateScopeBar(window);
    InitLayout(window);
    SetAcquisitionEvents({InvalidateSweep, UpdateStatusRow, PostRecordingFailure});
    return 0;
}

void ShowInfoDialog(HWND window, int dialogId)
{
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(dialogId), window, InfoDlgProc, 0);
}

LRESULT OnStart(HWND window)
{
    EnableWindow(g_startButton, FALSE);
    EnableWindow(g_stopButton, TRUE);
    char portName[kPortTextCount] = "";
    GetWindowTextA(g_portList, portName, kPortTextCount);
    char speedText[kSpeedTextCount] = "";
    GetWindowTextA(g_speedList, speedText, kSpeedTextCount);
    if (!StartAcquisition(portName, static_cast<DWORD>(ParseSpeed(speedText)))) {
        ReportOpenFailure(window);
        return 0;
    }
    InvalidateRect(g_traceView, nullptr, TRUE);
    SetTimer(window, ID_SWEEP_TIMER, kSweepPeriodMs, nullptr);
    return 0;
}

LRESULT OnStop(HWND window)
{
    KillTimer(window, ID_SWEEP_TIMER);
    StopAcquisition();
    EnableWindow(g_startButton, TRUE);
    EnableWindow(g_stopButton, FALSE);
    UpdateStatusRow();
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

LRESULT OnPortList(WPARAM wParam)
{
    if (HIWORD(wParam) == CBN_DROPDOWN) RefreshPortList();
    if (HIWORD(wParam) == CBN_SELCHANGE) NotePortChoice();
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (lParam && reinterpret_cast<HWND>(lParam) == g_portList) return OnPortList(wParam);
    if (OnScopeCommand(wParam)) return 0;
    switch (LOWORD(wParam)) {
    case IDC_START: return OnStart(window);
    case IDC_STOP: return OnStop(window);
    case IDM_RECORD: return OnRecord(window);
    case IDM_ABOUT: ShowInfoDialog(window, IDD_ABOUT); return 0;
    case IDM_PROTOCOL_HELP: ShowInfoDialog(window, IDD_PROTOCOL_HELP); return 0;
    case IDM_EXIT: DestroyWindow(window); return 0;
    default: return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
    }
}

LRESULT OnTimer(WPARAM timer)
{
    if (timer == ID_SWEEP_TIMER) AcquisitionTick();
    if (timer == ID_STATUS_TIMER) UpdateStatusRow();
    return 0;
}

LRESULT OnRecordingFailed(HWND window, DWORD error)
{
    ShowRecordingState(window);
    ReportRecordingStopped(window, error);
    return 0;
}

LRESULT OnDeviceChange(HWND window, WPARAM wParam, LPARAM lParam)
{
    RefreshPortList();
    RetryLostPortNow();
    return DefWindowProcW(window, WM_DEVICECHANGE, wParam, lParam);
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

void SaveSettingsAndRecording()
{
    SaveSettings();
    SaveScopeSettings();
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
    case WM_TIMER: return OnTimer(wParam);
    case WM_RECORDING_FAILED: return OnRecordingFailed(window, static_cast<DWORD>(wParam));
    case WM_DEVICECHANGE: return OnDeviceChange(window, wParam, lParam);
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
        if (RouteScopeInput(message)) continue;
        if (TranslateAcceleratorW(AcceleratorTarget(message), accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
