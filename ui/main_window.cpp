#include "acquisition.h"
#include "app.h"
#include "resource.h"

HINSTANCE g_instance;
WCHAR g_title[kMaxLoadString];
WCHAR g_className[kMaxLoadString];

namespace {

constexpr int kMainWidth = 1100;
constexpr int kMainHeight = 670;

LRESULT OnCreate(HWND window)
{
    CreateTraceView(window);
    CreateControlBar(window);
    return 0;
}

void ShowInfoDialog(HWND window, int dialogId)
{
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(dialogId), window, InfoDlgProc, 0);
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDC_START: return OnStart(window);
    case IDC_STOP: return OnStop(window);
    case IDM_ABOUT: ShowInfoDialog(window, IDD_ABOUT); return 0;
    case IDM_PROTOCOL_HELP: ShowInfoDialog(window, IDD_PROTOCOL_HELP); return 0;
    case IDM_EXIT: DestroyWindow(window); return 0;
    default: return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
    }
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

// A program ended by logoff or shutdown never sees WM_DESTROY.
LRESULT OnEndSession(WPARAM ending)
{
    if (ending) SaveSettings();
    return 0;
}

LRESULT OnDestroy()
{
    SaveSettings();
    ClosePortIfOpen();
    PostQuitMessage(0);
    return 0;
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_TIMER: return OnTick();
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
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_SMALL));
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
                                  kMainWidth, kMainHeight, nullptr, nullptr, instance, nullptr);
    if (!window) return false;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return true;
}

int RunMessageLoop(HACCEL accelerators)
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (TranslateAcceleratorW(message.hwnd, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
