#include <gtest/gtest.h>

#include <string>

#include "app.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

std::wstring ListText(HWND list)
{
    return WindowText(list);
}

int Selection(HWND list)
{
    return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

std::wstring Setting(const wchar_t* key)
{
    wchar_t value[100] = L"";
    GetPrivateProfileStringW(L"General", key, L"<missing>", value, 100, L"./config.ini");
    return value;
}

// The test prefix maps COM1, COM12 and COM5 (sorted in that order); the
// machine's own serial devices may add COM2 and more after them.
TEST(ControlBar, SelectsTheSavedPortAndSpeedAsThePlatformLooksThemUp)
{
    const struct {
        const char* name;
        const char* config;
        const wchar_t* port;
        const wchar_t* speed;
        int speedIndex;
    } cases[] = {
        {"no file: defaults", nullptr, L"COM1", L"9600", 3},
        {"saved values", "[General]\nportname=COM5\nportspeed=115200\n", L"COM5", L"115200", 10},
        // An exact entry wins over a longer one that the prefix lookup would
        // reach first (it starts after index 0).
        {"exact, at index 0", "[General]\nportname=COM1\nportspeed=1200\n", L"COM1", L"1200", 0},
        {"any case", "[General]\nportname=com5\nportspeed=57600\n", L"COM5", L"57600", 9},
        {"prefix, from after index 0", "[General]\nportname=COM\nportspeed=12\n", L"COM12", L"128000", 11},
        {"absent port", "[General]\nportname=COM9\nportspeed=9600\n", L"", L"9600", 3},
        {"absent speed", "[General]\nportname=COM5\nportspeed=300\n", L"COM5", L"", -1},
        {"empty file", "", L"COM1", L"9600", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND main = StartApp(c.config);
        EXPECT_EQ(ListText(g_portList), c.port);
        EXPECT_EQ(ListText(g_speedList), c.speed);
        EXPECT_EQ(Selection(g_speedList), c.speedIndex);
        EXPECT_EQ(SendMessageW(g_speedList, CB_GETCOUNT, 0, 0), 17);
        CloseApp(main);
    }
}

TEST(ControlBar, ControlsStandWhereTheyShouldWithTheirStyles)
{
    HWND main = StartApp(nullptr);
    const struct {
        const wchar_t* className;
        const wchar_t* text;
        DWORD style;   // bits that must be set
        DWORD absent;  // bits that must be clear
        RECT placement;  // x, y, width, height in the main window's client area
        int id;
    } controls[] = {
        {L"Static", L"Com Port", WS_CHILD | WS_VISIBLE, WS_DISABLED, {10, 8, 70, 15}, 0},
        {L"Static", L"Speed", WS_CHILD | WS_VISIBLE, WS_DISABLED, {165, 8, 50, 15}, 0},
        {L"Button", L"Start", WS_CHILD | WS_VISIBLE, WS_DISABLED | 0xF, {323, 5, 80, 20}, IDC_START},
        {L"Button", L"Stop", WS_CHILD | WS_VISIBLE | WS_DISABLED, 0xF, {430, 5, 80, 20}, IDC_STOP},
        {L"ComboBox", nullptr, WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, WS_DISABLED, {83, 3, 75, 0}, 0},
        {L"ComboBox", nullptr, WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, WS_DISABLED, {218, 3, 90, 0}, 0},
    };
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    HWND child = GetWindow(main, GW_CHILD);
    // The trace view comes first; the bar's controls follow in creation order.
    ASSERT_EQ(ClassName(child), L"ChildWindow");
    for (const auto& control : controls) {
        child = GetWindow(child, GW_HWNDNEXT);
        ASSERT_NE(child, nullptr);
        SCOPED_TRACE(Narrow(control.className) + " " + (control.text ? Narrow(control.text) : "list"));
        EXPECT_EQ(ClassName(child), control.className);
        if (control.text) {
            EXPECT_EQ(WindowText(child), control.text);
        }
        const DWORD style = GetWindowLongW(child, GWL_STYLE);
        EXPECT_EQ(style & control.style, control.style);
        EXPECT_EQ(style & control.absent, 0u);
        EXPECT_EQ(GetDlgCtrlID(child), control.id);
        const RECT placed = WindowRect(child);
        EXPECT_EQ(placed.left - origin.x, control.placement.left);
        EXPECT_EQ(placed.top - origin.y, control.placement.top);
        EXPECT_EQ(placed.right - placed.left, control.placement.right);
        if (control.placement.bottom) {
            EXPECT_EQ(placed.bottom - placed.top, control.placement.bottom);
        }
    }
    EXPECT_EQ(GetWindow(child, GW_HWNDNEXT), nullptr);

    // The port list sorts what it is given; the speed list keeps its order.
    SendMessageW(g_portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"AAA"));
    EXPECT_EQ(SendMessageW(g_portList, CB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(L"AAA")), 0);
    SendMessageW(g_speedList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"1"));
    EXPECT_EQ(SendMessageW(g_speedList, CB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(L"1")), 17);
    CloseApp(main);
}

TEST(SettingsFile, ExitWritesBothKeysAndKeepsTheRestOfTheFile)
{
    HWND main = StartApp("[Other]\r\nkeep=this\r\n[General]\r\nportname=COM1\r\nportspeed=9600\r\nextra=1\r\n");
    SendMessageW(g_portList, CB_SETCURSEL, SendMessageW(g_portList, CB_FINDSTRINGEXACT, -1, (LPARAM)L"COM5"), 0);
    SendMessageW(g_speedList, CB_SETCURSEL, 9, 0);
    EXPECT_EQ(CloseApp(main), 0);
    EXPECT_EQ(Setting(L"portname"), L"COM5");
    EXPECT_EQ(Setting(L"portspeed"), L"57600");
    EXPECT_EQ(ReadConfig(), "[Other]\r\nkeep=this\r\n[General]\r\nportname=COM5\r\nportspeed=57600\r\nextra=1\r\n");
}

TEST(SettingsFile, NewFileHasTheDocumentedLayout)
{
    HWND main = StartApp(nullptr);
    SendMessageW(g_speedList, CB_SETCURSEL, 10, 0);
    CloseApp(main);
    EXPECT_EQ(ReadConfig(), "[General]\r\nportname=COM1\r\nportspeed=115200\r\n");
}

// A port unplugged for one run must not lose the user's choice.
TEST(SettingsFile, ListWithoutSelectionKeepsTheStoredKey)
{
    HWND main = StartApp("[General]\r\nportname=COM9\r\nportspeed=300\r\n");
    ASSERT_EQ(Selection(g_portList), CB_ERR);
    ASSERT_EQ(Selection(g_speedList), CB_ERR);
    CloseApp(main);
    EXPECT_EQ(Setting(L"portname"), L"COM9");
    EXPECT_EQ(Setting(L"portspeed"), L"300");

    main = StartApp("[General]\r\nportname=COM9\r\nportspeed=9600\r\n");
    // The user picks another port.
    SendMessageW(g_portList, CB_SETCURSEL, SendMessageW(g_portList, CB_FINDSTRINGEXACT, -1, (LPARAM)L"COM5"), 0);
    CloseApp(main);
    EXPECT_EQ(Setting(L"portname"), L"COM5");
}

}  // namespace
