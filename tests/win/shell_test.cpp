#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquisition.h"
#include "app.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

class MainWindow : public testing::Test {
protected:
    void SetUp() override
    {
        main_ = StartApp(nullptr);
        ASSERT_NE(main_, nullptr);
        accelerators_ = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    }
    void TearDown() override
    {
        if (IsWindow(main_)) CloseApp(main_);
    }
    HWND main_ = nullptr;
    HACCEL accelerators_ = nullptr;
};

void PressKeys(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs(2 * keys.size());
    size_t down = 0, up = inputs.size();
    for (WORD key : keys) {
        inputs[down].type = inputs[--up].type = INPUT_KEYBOARD;
        inputs[down++].ki.wVk = inputs[up].ki.wVk = key;
        inputs[up].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND g_main;
UINT g_endBy;

// Ends the loop once no dialog is up, after the keystrokes were handled.
void CALLBACK EndWhenNoDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (FindTopLevel(L"#32770", nullptr, GetCurrentProcessId())) return;
    KillTimer(nullptr, timer);
    if (g_endBy == SC_CLOSE) PostMessageW(g_main, WM_SYSCOMMAND, SC_CLOSE, 0);
    else PostMessageW(g_main, WM_COMMAND, IDM_EXIT, 0);
}

// Keystrokes and wheel turns through the program's own loop: Alt keys act
// only where they are pressed, the others from any control, and a wheel over
// the view belongs to the view, never to a focused list. Exit and the close
// box end the loop with code 0 and save the settings.
TEST_F(MainWindow, RealInputReachesWhatItShould)
{
    ModalAnswer about;
    AnswerNextModal(&about, IDCANCEL);
    SendMessageW(main_, WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_TRUE(about.seen);
    const struct {
        const char* name;
        std::initializer_list<WORD> keys;
        HWND* focus;
        bool opensAbout, records;
        int gain;
        UINT endBy;
    } cases[] = {{"Alt+/", {VK_MENU, VK_OEM_2}, nullptr, true, false, 1, IDM_EXIT},
                 {"Alt+?", {VK_MENU, VK_SHIFT, VK_OEM_2}, nullptr, true, false, 1, IDM_EXIT},
                 {"Alt+/ in the port list", {VK_MENU, VK_OEM_2}, &g_portList, false, false, 1, IDM_EXIT},
                 {"Ctrl+R in the port list", {VK_CONTROL, 'R'}, &g_portList, false, true, 1, SC_CLOSE},
                 {"two wheel notches over the view, speed list focused", {}, &g_speedList, false, false, 4, SC_CLOSE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!IsWindow(main_)) SetUp();
        SetForegroundWindow(main_);
        SetFocus(c.focus ? *c.focus : main_);
        RECT view;
        GetWindowRect(g_traceView, &view);
        SetCursorPos((view.left + view.right) / 2, (view.top + view.bottom) / 2);
        PumpMessages(50);
        ModalAnswer answer;
        AnswerNextModal(&answer, IDCANCEL);
        PressKeys(c.keys);
        // Windows gives the wheel to the focus (Wine to the window under the
        // cursor), so it is posted there, with the cursor over the view.
        if (c.gain > 1) PostMessageW(*c.focus, WM_MOUSEWHEEL, MAKEWPARAM(0, 2 * WHEEL_DELTA), 0);
        g_main = main_, g_endBy = c.endBy;
        SetTimer(nullptr, 0, 300, EndWhenNoDialog);
        EXPECT_EQ(RunMessageLoop(accelerators_), 0);
        EXPECT_FALSE(IsWindow(main_));
        EXPECT_EQ(answer.seen, c.opensAbout);
        EXPECT_TRUE(!c.opensAbout || answer.caption == about.caption) << "not the box the About command opens";
        WIN32_FIND_DATAW found;
        HANDLE recording = FindFirstFileW(L"tarquell-*.csv", &found);
        EXPECT_EQ(recording != INVALID_HANDLE_VALUE, c.records);
        if (recording != INVALID_HANDLE_VALUE) FindClose(recording);
        EXPECT_EQ(g_sweep.scope.gain[1], c.gain);
        EXPECT_NE(ReadText().find("portspeed=9600"), std::string::npos) << "the speed list kept its choice";
    }
}

TEST_F(MainWindow, LogoffSavesTheSettingsUnlessCancelled)
{
    SendMessageW(main_, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(ReadText(), "") << "a cancelled logoff writes nothing";
    SendMessageW(main_, WM_ENDSESSION, TRUE, 0);
    EXPECT_NE(ReadText().find("portspeed=9600"), std::string::npos);
}

}  // namespace
