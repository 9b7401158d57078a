#include <gtest/gtest.h>

#include <string>

#include "app.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

struct Closing {
    void (*close)(HWND dialog);
    std::wstring caption;
    bool seen = false;
};

void RecordAndClose(HWND dialog, void* context)
{
    auto* closing = static_cast<Closing*>(context);
    closing->caption = WindowText(dialog);
    closing->seen = true;
    closing->close(dialog);
}

void PressOk(HWND dialog)
{
    SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
}
void PressCancel(HWND dialog)
{
    SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
}
void PressEscape(HWND dialog)
{
    HWND focus = GetFocus();
    PostMessageW(focus ? focus : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
}
void CloseBox(HWND dialog)
{
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// Each way out ends the dialog with its result and leaves the owner usable;
// the menu command opens the same dialog as its template.
TEST(InfoDialogs, MenuCommandsOpenTheirDialogAndEveryWayOutGivesItsResult)
{
    const struct {
        int command;
        int dialog;
        const char* way;
        void (*close)(HWND);
        INT_PTR result;
    } cases[] = {{IDM_ABOUT, IDD_ABOUT, "OK", PressOk, IDOK},
                 {IDM_ABOUT, IDD_ABOUT, "Escape", PressEscape, IDCANCEL},
                 {IDM_ABOUT, IDD_ABOUT, "close box", CloseBox, IDCANCEL},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "OK", PressOk, IDOK},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "Cancel", PressCancel, IDCANCEL},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "Escape", PressEscape, IDCANCEL},
                 {IDM_PROTOCOL_HELP, IDD_PROTOCOL_HELP, "close box", CloseBox, IDCANCEL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "dialog " << c.dialog << " closed by " << c.way);
        HWND main = StartApp(nullptr);
        Closing direct, command;
        direct.close = command.close = c.close;
        OnNextModal(RecordAndClose, &direct);
        EXPECT_EQ(DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.dialog), main, InfoDlgProc, 0),
                  c.result);
        OnNextModal(RecordAndClose, &command);
        SendMessageW(main, WM_COMMAND, c.command, 0);  // returns once the dialog is closed
        EXPECT_TRUE(direct.seen && command.seen);
        EXPECT_EQ(command.caption, direct.caption);
        EXPECT_EQ(FindTopLevel(L"#32770", nullptr, GetCurrentProcessId()), nullptr);
        EXPECT_TRUE(IsWindowEnabled(main)) << "the owner is usable again";
        CloseApp(main);
    }
}

}  // namespace
