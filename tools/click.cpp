// Presses a button of the running Tarquell window from outside, for scripts
// that run the program without anyone at the keyboard.
// Usage: tarquell-click.exe Start|Stop
#include <windows.h>

#include <cwchar>

#include "resource.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 || (wcscmp(argv[1], L"Start") != 0 && wcscmp(argv[1], L"Stop") != 0)) return 2;
    const WPARAM command = wcscmp(argv[1], L"Start") == 0 ? IDC_START : IDC_STOP;
    for (int attempt = 0; attempt < 200; ++attempt) {
        HWND window = FindWindowW(L"Tarquell", L"Tarquell");
        if (window) {
            PostMessageW(window, WM_COMMAND, command, 0);
            return 0;
        }
        Sleep(50);
    }
    return 1;
}
