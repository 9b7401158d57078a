#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    int id;
    DWORD style;  // bits that must be set
    RECT dialogUnits;  // x, y, width, height
};

struct ExpectedDialog {
    const char* name;
    int command;
    const wchar_t* caption;
    std::vector<ExpectedControl> controls;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLine = kChild | WS_GROUP | SS_NOPREFIX | SS_NOTIFY;

const ExpectedDialog kAbout = {
    "about",
    IDM_ABOUT,
    L"О проекте Orvan",
    {{L"Static", nullptr, -1, kChild | SS_ICON, {14, 14, 20, 20}},
     {L"Static", L"Tarquell, версия 1.0", -1, kChild | WS_GROUP | SS_NOPREFIX, {42, 14, 114, 8}},
     {L"Static", nullptr, -1, kChild | WS_GROUP, {42, 26, 114, 8}},
     {L"Button", L"ОК", IDOK, kChild | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, {113, 41, 50, 14}}}};

const ExpectedDialog kHelp = {
    "help",
    IDM_PROTOCOL_HELP,
    L"Помощь",
    {{L"Button", L"ОК", IDOK, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, {25, 115, 50, 14}},
     {L"Button", L"Отмена", IDCANCEL, kChild | WS_TABSTOP, {79, 115, 50, 14}},
     {L"Static", L"Описание протокола:", -1, kLine, {40, 7, 80, 13}},
     {L"Static", L"Байт 0: 0x11", -1, kLine, {21, 19, 47, 11}},
     {L"Static", L"Байт 1: 0x55", -1, kLine, {21, 31, 47, 11}},
     {L"Static", L"Байт 2: Старший байт значения 1", -1, kLine, {21, 43, 124, 10}},
     {L"Static", L"Байт 3: Младший байт значения 1", -1, kLine, {21, 55, 124, 10}},
     {L"Static", L"Байт 4: Старший байт значения 2", -1, kLine, {21, 66, 124, 10}},
     {L"Static", L"Байт 5: Младший байт значения 2", -1, kLine, {20, 77, 124, 10}},
     {L"Static", L"Байт 6: Старший байт значения 3", -1, kLine, {20, 88, 124, 10}},
     {L"Static", L"Байт 7: Младший байт значения 3", -1, kLine, {19, 100, 124, 10}}}};

struct Inspection {
    const ExpectedDialog* dialog;
    std::wstring caption;
    std::vector<HWND> children;
    std::vector<RECT> expectedPixels;
    POINT clientOrigin;
    POINT ownerClientOrigin;
    DWORD style;
    void (*close)(HWND dialog);
};

BOOL CALLBACK CollectChild(HWND child, LPARAM context)
{
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
    return TRUE;
}

void Inspect(HWND dialog, void* context)
{
    auto* inspection = static_cast<Inspection*>(context);
    inspection->caption = WindowText(dialog);
    inspection->style = GetWindowLongW(dialog, GWL_STYLE);
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&inspection->children));
    for (const ExpectedControl& control : inspection->dialog->controls) {
        // Position and size are converted separately, as the dialog manager does.
        RECT position = {control.dialogUnits.left, control.dialogUnits.top, 0, 0};
        RECT size = {0, 0, control.dialogUnits.right, control.dialogUnits.bottom};
        MapDialogRect(dialog, &position);
        MapDialogRect(dialog, &size);
        inspection->expectedPixels.push_back(
            {position.left, position.top, position.left + size.right, position.top + size.bottom});
    }
    inspection->ownerClientOrigin = {0, 0};
    ClientToScreen(GetWindow(dialog, GW_OWNER), &inspection->ownerClientOrigin);
    inspection->clientOrigin = {0, 0};
    ClientToScreen(dialog, &inspection->clientOrigin);
    // Checked here, while the dialog is up; children vanish with it.
    for (size_t i = 0; i < inspection->children.size() && i < inspection->dialog->controls.size(); ++i) {
        HWND child = inspection->children[i];
        const ExpectedControl& control = inspection->dialog->controls[i];
        SCOPED_TRACE(testing::Message() << inspection->dialog->name << " control " << i);
        EXPECT_EQ(ClassName(child), control.className);
        if (control.text) {
            EXPECT_EQ(WindowText(child), control.text);
        }
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), control.id);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)) & control.style, control.style);
        RECT placed = WindowRect(child);
        OffsetRect(&placed, -inspection->clientOrigin.x, -inspection->clientOrigin.y);
        RECT expected = inspection->expectedPixels[i];
        if (ClassName(child) == L"Static" && (control.style & SS_TYPEMASK) == SS_ICON) {  // sized by its icon
            expected.right = expected.left + (placed.right - placed.left);
            expected.bottom = expected.top + (placed.bottom - placed.top);
        }
        EXPECT_TRUE(EqualRect(&placed, &expected))
            << placed.left << "," << placed.top << "," << placed.right << "," << placed.bottom << " vs "
            << expected.left << "," << expected.top << "," << expected.right << "," << expected.bottom;
    }
    inspection->close(dialog);
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

TEST(InfoDialogs, ShowTheirControlsAndCloseByEveryWay)
{
    const struct {
        const ExpectedDialog* dialog;
        const char* way;
        void (*close)(HWND);
    } cases[] = {{&kAbout, "OK", PressOk},      {&kAbout, "Escape", PressEscape}, {&kAbout, "close box", CloseBox},
                 {&kHelp, "OK", PressOk},       {&kHelp, "Cancel", PressCancel},  {&kHelp, "Escape", PressEscape},
                 {&kHelp, "close box", CloseBox}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dialog->name << " closed by " << c.way);
        HWND main = StartApp(nullptr);
        Inspection inspection = {};
        inspection.dialog = c.dialog;
        inspection.close = c.close;
        OnNextModal(Inspect, &inspection);
        SendMessageW(main, WM_COMMAND, c.dialog->command, 0);  // returns once the dialog is closed
        EXPECT_EQ(inspection.caption, c.dialog->caption);
        EXPECT_EQ(inspection.children.size(), c.dialog->controls.size());
        EXPECT_EQ(inspection.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
                  static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
        // No centring: the dialog's client area starts at the owner's.
        EXPECT_EQ(inspection.clientOrigin.x, inspection.ownerClientOrigin.x);
        EXPECT_EQ(inspection.clientOrigin.y, inspection.ownerClientOrigin.y);
        EXPECT_EQ(FindTopLevel(L"#32770", nullptr, GetCurrentProcessId()), nullptr);
        EXPECT_TRUE(IsWindowEnabled(main)) << "the owner is usable again";
        CloseApp(main);
    }
}

}  // namespace
