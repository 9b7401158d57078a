#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "app_session.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

const WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

std::wstring MenuText(HMENU menu, UINT position)
{
    wchar_t text[100] = L"";
    GetMenuStringW(menu, position, text, 100, MF_BYPOSITION);
    return text;
}

// The whole menu as "text=command" lines, popups by their text.
std::wstring DescribeMenu(HMENU menu)
{
    std::wstring description;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        HMENU popup = GetSubMenu(menu, i);
        description += MenuText(menu, i);
        if (popup) description += L"{" + DescribeMenu(popup) + L"}";
        else description += L"=" + std::to_wstring(GetMenuItemID(menu, i)) + L";";
    }
    return description;
}

const wchar_t kExpectedMenu[] = L"&Файл{В&ыход=105;}&Справка{Помощь=32772;&О программе ...=104;}";

TEST(Resources, TextsReadBackThroughThePlatformAsQuoted)
{
    wchar_t text[100];
    ASSERT_GT(LoadStringW(Instance(), IDS_APP_TITLE, text, 100), 0);
    EXPECT_STREQ(text, L"Tarquell");
    ASSERT_GT(LoadStringW(Instance(), IDS_CLASS_NAME, text, 100), 0);
    EXPECT_STREQ(text, L"Tarquell");

    HMENU menu = LoadMenuW(Instance(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(DescribeMenu(menu), kExpectedMenu);
    DestroyMenu(menu);
}

TEST(Resources, AcceleratorsAreAltCharacterKeysForTheAboutBox)
{
    HACCEL table = LoadAcceleratorsW(Instance(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(table, nullptr);
    ACCEL entries[8];
    ASSERT_EQ(CopyAcceleratorTableW(table, entries, 8), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(entries[i].fVirt & ~0x80, FALT) << "a character accelerator, not a virtual key";
        EXPECT_EQ(entries[i].cmd, IDM_ABOUT);
    }
    EXPECT_EQ(entries[0].key, '?');
    EXPECT_EQ(entries[1].key, '/');
}

TEST(Resources, AllButTheManifestAreRussianAndTheManifestOnlyAsksAsInvoker)
{
    const struct {
        const wchar_t* type;
        int id;
    } russian[] = {{RT_MENU, IDR_MAIN_MENU},    {RT_ACCELERATOR, IDR_MAIN_MENU}, {RT_DIALOG, IDD_ABOUT},
                   {RT_DIALOG, IDD_PROTOCOL_HELP}, {RT_BITMAP, IDB_BITMAP2},      {RT_GROUP_ICON, IDI_APP},
                   {RT_GROUP_ICON, IDI_APP_SMALL}, {RT_STRING, IDS_APP_TITLE / 16 + 1}};
    for (const auto& r : russian)
        EXPECT_NE(FindResourceExW(Instance(), r.type, MAKEINTRESOURCEW(r.id), kRussian), nullptr) << r.id;

    HRSRC manifest = FindResourceExW(Instance(), RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglishUs);
    ASSERT_NE(manifest, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(Instance(), manifest)));
    const std::string text(bytes, SizeofResource(Instance(), manifest));
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(text.find("Common-Controls"), std::string::npos);
}

TEST(Resources, IconsAreThirtyTwoPixelsSquare)
{
    for (int id : {IDI_APP, IDI_APP_SMALL}) {
        HICON icon = static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
        ASSERT_NE(icon, nullptr) << id;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, 32);
        EXPECT_EQ(bitmap.bmHeight, 32);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

class MainWindow : public testing::Test {
protected:
    void SetUp() override
    {
        main_ = StartApp(nullptr);
        ASSERT_NE(main_, nullptr);
        accelerators_ = LoadAcceleratorsW(Instance(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    }
    void TearDown() override
    {
        if (IsWindow(main_)) CloseApp(main_);
    }
    HWND main_ = nullptr;
    HACCEL accelerators_ = nullptr;
};

TEST_F(MainWindow, HasItsClassTitleSizeStyleAndMenu)
{
    EXPECT_EQ(ClassName(main_), L"Tarquell");
    EXPECT_EQ(WindowText(main_), L"Tarquell");
    const RECT outer = WindowRect(main_);
    EXPECT_EQ(outer.right - outer.left, 1100);
    EXPECT_EQ(outer.bottom - outer.top, 670);
    EXPECT_EQ(GetWindowLongW(main_, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(GetClassLongPtrW(main_, GCL_STYLE), static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(GetClassLongPtrW(main_, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_ACTIVECAPTION + 1));
    EXPECT_NE(GetClassLongPtrW(main_, GCLP_HICON), 0u);
    EXPECT_NE(GetClassLongPtrW(main_, GCLP_HICONSM), 0u);
    EXPECT_EQ(DescribeMenu(GetMenu(main_)), kExpectedMenu);
}

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

// Real keystrokes: the accelerator's command goes to the window the
// keystroke was for, so from a list nothing opens.
TEST_F(MainWindow, AltSlashAndAltQuestionOpenTheAboutBoxOnlyFromTheMainWindow)
{
    const struct {
        const char* name;
        std::initializer_list<WORD> keys;
        bool fromList;
        bool opens;
    } cases[] = {{"Alt+/", {VK_MENU, VK_OEM_2}, false, true},
                 {"Alt+?", {VK_MENU, VK_SHIFT, VK_OEM_2}, false, true},
                 {"Alt+/ in the port list", {VK_MENU, VK_OEM_2}, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!IsWindow(main_)) SetUp();
        SetForegroundWindow(main_);
        SetFocus(c.fromList ? g_portList : main_);
        PumpMessages(50);
        ModalAnswer answer;
        AnswerNextModal(&answer, IDCANCEL);
        PressKeys(c.keys);
        g_exitWhenIdle = main_;
        SetTimer(nullptr, 0, 300, ExitWhenNoDialog);
        EXPECT_EQ(RunMessageLoop(accelerators_), 0);
        EXPECT_EQ(answer.seen, c.opens);
        if (c.opens) {
            EXPECT_EQ(answer.caption, L"О проекте Orvan");
        }
    }
}

TEST_F(MainWindow, ExitCommandAndCloseBoxEndWithCodeZeroAndSaveTheSettings)
{
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
    } ways[] = {{"Exit", WM_COMMAND, IDM_EXIT}, {"close box", WM_SYSCOMMAND, SC_CLOSE}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        if (!IsWindow(main_)) SetUp();
        PostMessageW(main_, way.message, way.wParam, 0);
        EXPECT_EQ(RunMessageLoop(accelerators_), 0);
        EXPECT_FALSE(IsWindow(main_));
        EXPECT_NE(ReadConfig().find("portspeed=9600"), std::string::npos) << ReadConfig();
    }
}

}  // namespace
