#include <gtest/gtest.h>

#include <string>

#include "app.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

// Each way out ends the dialog with its result and leaves the owner usable;
// the menu command opens the same dialog as its template.
TEST(InfoDialogs, MenuCommandsOpenTheirDialogAndEveryWayOutGivesItsResult)
{
    const struct {
        int command, dialog;
        const char* way;
        int button;  // pressed; 0: Escape, -1: the close box
        INT_PTR result;
    } cases[] = {{IDM_ABOUT, IDD_ABOUT, "OK", IDOK, IDOK},
                 {IDM_ABOUT, IDD_ABOUT, "Escape", 0, IDCANCEL},
                 {IDM_ABOUT, IDD_ABOUT, "close box", -1, IDCANCEL},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "OK", IDOK, IDOK},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "Cancel", IDCANCEL, IDCANCEL},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "Escape", 0, IDCANCEL},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "close box", -1, IDCANCEL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "dialog " << c.dialog << " closed by " << c.way);
        static int button;
        button = c.button;
        const auto recordAndClose = [](HWND dialog, void* caption) {
            *static_cast<std::wstring*>(caption) = WindowText(dialog);
            if (button > 0) SendMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
            if (button == 0) PostMessageW(GetFocus() ? GetFocus() : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            if (button < 0) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        };
        HWND main = StartApp(nullptr);
        std::wstring direct, command;
        OnNextModal(recordAndClose, &direct);
        EXPECT_EQ(DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.dialog), main, InfoDlgProc, 0),
                  c.result);
        OnNextModal(recordAndClose, &command);
        SendMessageW(main, WM_COMMAND, c.command, 0);  // returns once the dialog is closed
        EXPECT_TRUE(!direct.empty() && command == direct);
        EXPECT_EQ(FindTopLevel(L"#32770", nullptr, GetCurrentProcessId()), nullptr);
        EXPECT_TRUE(IsWindowEnabled(main)) << "the owner is usable again";
        CloseApp(main);
    }
}

}  // namespace
