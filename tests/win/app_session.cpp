#include "app_session.h"

#include <cstdio>

#include "app.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

ModalAnswer* g_answer;
UINT_PTR g_modalTimer;
int g_answerButton;

void EnterScratchDirectory()
{
    static int counter;
    wchar_t temp[MAX_PATH], dir[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // Process ids repeat across runs: a directory left by an earlier one is skipped.
    do swprintf(dir, MAX_PATH, L"%lstarquell-test-%lu-%d", temp, GetCurrentProcessId(), ++counter);
    while (!CreateDirectoryW(dir, nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    SetCurrentDirectoryW(dir);
}

BOOL CALLBACK FirstStaticText(HWND child, LPARAM context)
{
    if (ClassName(child) != L"Static" || WindowText(child).empty()) return TRUE;
    *reinterpret_cast<std::wstring*>(context) = WindowText(child);
    return FALSE;
}

void CALLBACK Answer(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND modal = FindTopLevel(L"#32770", GetCurrentProcessId());
    if (!modal || !g_answer) return;
    KillTimer(nullptr, timer);
    g_modalTimer = 0;
    ModalAnswer* answer = g_answer;
    g_answer = nullptr;
    answer->caption = WindowText(modal);
    EnumChildWindows(modal, FirstStaticText, reinterpret_cast<LPARAM>(&answer->text));
    answer->seen = true;
    PostMessageW(modal, WM_COMMAND, MAKEWPARAM(g_answerButton, BN_CLICKED), 0);
}

}  // namespace

HWND StartApp(const char* config)
{
    EnterScratchDirectory();
    if (config) WriteText(L"config.ini", config);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    LoadStringW(instance, IDS_APP_TITLE, g_title, kMaxLoadString);
    LoadStringW(instance, IDS_CLASS_NAME, g_className, kMaxLoadString);
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, SW_SHOW)) return nullptr;
    PumpMessages(50);
    return g_mainWindow;
}

int CloseApp(HWND mainWindow)
{
    DestroyWindow(mainWindow);
    MSG message;
    int exitCode = -1;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message == WM_QUIT) exitCode = static_cast<int>(message.wParam);
    return exitCode;
}

void AnswerNextModal(ModalAnswer* answer, int buttonId)
{
    g_answer = answer;
    g_answerButton = buttonId;
    // One timer watches for the box, however often an answer is rearmed.
    if (!g_modalTimer) g_modalTimer = SetTimer(nullptr, 0, 20, Answer);
}
