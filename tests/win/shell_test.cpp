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
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto key = keys.end(); key != keys.begin();) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *--key;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND g_exitWhenIdle;

// Ends the loop once no dialog is up, after the keystrokes were handled.
void CALLBACK ExitWhenNoDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (FindTopLevel(L"#32770", nullptr, GetCurrentProcessId())) return;
    KillTimer(nullptr, timer);
    PostMessageW(g_exitWhenIdle, WM_COMMAND, IDM_EXIT, 0);
}

// Keystrokes and wheel turns through the program's own loop: Alt keys act
// only where they are pressed, the others from any control, and a wheel over
// the view belongs to the view, never to a focused list.
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
    } cases[] = {{"Alt+/", {VK_MENU, VK_OEM_2}, nullptr, true, false, 1},
                 {"Alt+?", {VK_MENU, VK_SHIFT, VK_OEM_2}, nullptr, true, false, 1},
                 {"Alt+/ in the port list", {VK_MENU, VK_OEM_2}, &g_portList, false, false, 1},
                 {"Ctrl+R in the port list", {VK_CONTROL, 'R'}, &g_portList, false, true, 1},
                 {"two wheel notches over the view, speed list focused", {}, &g_speedList, false, false, 4}};
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
        g_exitWhenIdle = main_;
        SetTimer(nullptr, 0, 300, ExitWhenNoDialog);
        EXPECT_EQ(RunMessageLoop(accelerators_), 0);
        EXPECT_EQ(answer.seen, c.opensAbout);
        if (c.opensAbout) {
            EXPECT_EQ(answer.caption, about.caption) << "not the box the About command opens";
        }
        WIN32_FIND_DATAW found;
        HANDLE recording = FindFirstFileW(L"tarquell-*.csv", &found);
        EXPECT_EQ(recording != INVALID_HANDLE_VALUE, c.records);
        if (recording != INVALID_HANDLE_VALUE) FindClose(recording);
        EXPECT_EQ(g_sweep.scope.gain[1], c.gain);
        EXPECT_NE(ReadText().find("portspeed=9600"), std::string::npos) << "the speed list kept its choice";
    }
}

// A cancelled logoff writes nothing.
TEST_F(MainWindow, ExitCloseBoxAndLogoffSaveTheSettings)
{
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
        bool ends, saves;
    } ways[] = {{"cancelled logoff", WM_ENDSESSION, FALSE, false, false},
                {"logoff", WM_ENDSESSION, TRUE, false, true},
                {"Exit", WM_COMMAND, IDM_EXIT, true, true},
                {"close box", WM_SYSCOMMAND, SC_CLOSE, true, true}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        if (!IsWindow(main_)) SetUp();
        DeleteFileW(L"config.ini");
        if (way.ends) {
            PostMessageW(main_, way.message, way.wParam, 0);
            EXPECT_EQ(RunMessageLoop(accelerators_), 0);
            EXPECT_FALSE(IsWindow(main_));
        } else {
            SendMessageW(main_, way.message, way.wParam, 0);
        }
        EXPECT_EQ(ReadText().find("portspeed=9600") != std::string::npos, way.saves) << ReadText();
    }
}

}  // namespace
