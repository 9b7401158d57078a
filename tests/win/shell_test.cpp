#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "acquisition.h"
#include <commctrl.h>
#include "app.h"
#include "app_session.h"
#include "recording.h"
#include "resource.h"
#include "save_folders.h"
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

HWND g_main;
UINT g_endBy;

// Ends the loop once no dialog is up, after the keystrokes were handled.
void CALLBACK EndWhenNoDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (FindTopLevel(L"#32770", GetCurrentProcessId())) return;
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
    HWND centre = nullptr;
    const struct {
        const char* name;
        std::initializer_list<WORD> keys;
        HWND* focus;
        bool opensAbout, records;
        int gain;
        UINT endBy, copied;  // the clipboard's format afterwards, 0: none
    } cases[] = {{"Alt+/", {VK_MENU, VK_OEM_2}, nullptr, true, false, 1, IDM_EXIT, 0},
                 {"Alt+?", {VK_MENU, VK_SHIFT, VK_OEM_2}, nullptr, true, false, 1, IDM_EXIT, 0},
                 {"Alt+/ in the port list", {VK_MENU, VK_OEM_2}, &g_portList, false, false, 1, IDM_EXIT, 0},
                 {"Ctrl+R in the port list", {VK_CONTROL, 'R'}, &g_portList, false, true, 1, SC_CLOSE, 0},
                 {"two wheel notches over the view, speed list focused", {}, &g_speedList, false, false, 4, SC_CLOSE, 0},
                 {"Ctrl+C in the port list: the picture", {VK_CONTROL, 'C'}, &g_portList, false, false, 1, SC_CLOSE, CF_BITMAP},
                 {"Ctrl+C in a number box: its text", {VK_CONTROL, 'C'}, &centre, false, false, 1, SC_CLOSE, CF_UNICODETEXT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!IsWindow(main_)) SetUp();
        SendMessageW(centre = GetDlgItem(main_, IDC_CENTRE), EM_SETSEL, 0, -1);
        OpenClipboard(main_), EmptyClipboard(), CloseClipboard();
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
        for (UINT format : {CF_BITMAP, CF_UNICODETEXT}) EXPECT_EQ(IsClipboardFormatAvailable(format), format == c.copied);
        EXPECT_NE(ReadText().find("portspeed=9600"), std::string::npos) << "the speed list kept its choice";
    }
}

// A scaling change lays the window out again at the suggested place; on this
// 1280 x 1024 screen a doubled plot would not fit, so 192 DPI stays single.
TEST_F(MainWindow, DpiChangeLaysTheWindowOutAgain)
{
    for (const auto& [dpi, scale] : {std::pair(144u, 1), std::pair(192u, 1), std::pair(96u, 1)}) {
        SCOPED_TRACE(dpi);
        RECT suggested = {0, 10, 700, 500}, window;
        SendMessageW(main_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        GetWindowRect(main_, &window);
        EXPECT_TRUE(window.left == 0 && window.top == 10);
        ExpectLaidOut(main_, g_traceView, dpi, scale);
    }
}

// Up walks back through the lines sent and Down forward to what was typed;
// Enter on a line that does not parse keeps it, its first bad character selected.
TEST(SendRow, UpAndDownWalkTheHistoryAndABadCharacterIsSelected)
{
    HWND main = StartApp("[Send]\r\nline1=rate 1440\r\nline2=%20a%3B\r\nline3=rate 1440\r\nhex=1\r\n");
    ASSERT_NE(main, nullptr);
    EnableSendRow(true);
    HWND field = GetDlgItem(main, IDC_SEND_TEXT);
    COMBOBOXINFO parts = {};
    parts.cbSize = sizeof parts;
    GetComboBoxInfo(field, &parts);
    SetForegroundWindow(main);
    SetFocus(parts.hwndItem);
    SetWindowTextW(field, L"11 5z");
    const struct {
        WORD key;
        const wchar_t* text;
    } steps[] = {{VK_UP, L"rate 1440"}, {VK_UP, L" a;"}, {VK_UP, L" a;"}, {VK_DOWN, L"rate 1440"},
                 {VK_DOWN, L"11 5z"},   {VK_DOWN, L"11 5z"}, {VK_RETURN, L"11 5z"}};
    for (const auto& step : steps) {
        PressKeys({step.key});
        SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR timer, DWORD) { KillTimer(nullptr, timer), PostQuitMessage(0); });
        RunMessageLoop(LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAIN_MENU)));  // its keys
        EXPECT_EQ(WindowText(field), step.text);
    }
    DWORD from = 0, to = 0;
    SendMessageW(parts.hwndItem, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_TRUE(from == 4 && to == 5) << from << ".." << to;
    EXPECT_EQ(SendMessageW(field, CB_GETCOUNT, 0, 0), 2) << "one line kept once, nothing sent";
    HWND balloon = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM found) {
        if (IsWindowVisible(window) && ClassName(window) == TOOLTIPS_CLASSW) *reinterpret_cast<HWND*>(found) = window;
        return TRUE;
    }, reinterpret_cast<LPARAM>(&balloon));
    EXPECT_EQ(WindowText(balloon), L"«z» at position 5 is not a hex digit");
    CloseApp(main);
}

std::wstring Setting(const wchar_t* key)
{
    wchar_t value[100] = L"";
    GetPrivateProfileStringW(L"General", key, L"<missing>", value, 100, L"./config.ini");
    return value;
}

// Picks the entry, or types the text where there is none and leaves the box.
void Select(HWND list, const wchar_t* text)
{
    const LRESULT entry = SendMessageW(list, CB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(text));
    SendMessageW(list, CB_SETCURSEL, entry, 0);
    if (entry == CB_ERR && SetWindowTextW(list, text))
        SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(0, CBN_KILLFOCUS), reinterpret_cast<LPARAM>(list));
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    return text.replace(text.find(from), from.size(), to);
}

// True unless this system writes read-only files anyway (Wine run as root).
bool ReadOnlyEnforced()
{
    HANDLE file = CreateFileW(L"config.ini", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    return false;
}

// Folders cannot be made unwritable here, so the probe refuses them: the
// working directory, or every folder.
enum class Kind { File, ReadOnly, Directory, WorkingDirRefused, AllRefused };
bool RefuseWorkingDir(const WCHAR* folder, DWORD* error)
{
    return *folder ? FolderWritable(folder, error) : (*error = ERROR_ACCESS_DENIED, false);
}

// Whatever config.ini holds, the program starts with the saved choices as the
// platform's lookup finds them (the test prefix maps COM1, COM5 and COM12,
// listed by number) and exits with code 0; it saves the lists' choices where it can,
// leaves the rest of the file as it was, and what it saved comes back.
TEST(SettingsFile, EveryKindOfFileStartsExitsAndSavesAsExpected)
{
    const std::string standard = "[General]\r\nportname=COM5\r\nportspeed=115200\r\n";
    const std::string rtsOnly = standard + "rts=1\r\n";
    // Every key as the program writes it, so that a round trip leaves the file as it was.
    std::deque<std::string> scopes;
    const auto scopeIn = [&](const char* mode, const char* edge, const char* timebase = "1") -> const std::string& {
        return scopes.emplace_back(standard + "[Scope]\r\ntimebase=" + timebase +
                                      "\r\ngain1=1\r\ncentre1=0\r\ngain2=1\r\ncentre2=0\r\ngain3=1\r\ncentre3=0\r\n"
                                      "trig_mode=" + mode + "\r\ntrig_source=1\r\ntrig_edge=" + edge +
                                      "\r\ntrig_level=0\r\ntrig_position=128\r\n");
    };
    const std::string sends = standard + "[Send]\r\nline1=%20rate 5%3B%20\r\nline2=%22go%22\r\nline_end=crlf\r\nhex=1\r\n";
    const std::string absent = "[General]\r\nportname=COM9\r\nportspeed=300\r\n";
    const std::string scope = "[Scope]\r\ntimebase=7\r\ngain1=3\r\ngain2=16\r\ncentre1=99999\r\ncentre3=-2048\r\n"
                              "trig_mode=foo\r\ntrig_source=4\r\ntrig_edge=fall\r\ntrig_level=12x\r\ntrig_position=2000\r\n";
    const std::string longValues = Replace(Replace(standard, "COM5", "COM5" + std::string(150, '7')), "115200",
                                           "115200" + std::string(150, '7'));
    const std::string others = "[Other]\r\nkeep=this\r\n[General]\r\nportname=COM1\r\nportspeed=9600\r\nextra=1\r\n";
    std::string megabyte = standard + "[Bulk]\r\n";
    for (int i = 0; megabyte.size() < (1u << 20); ++i)
        megabyte += "entry" + std::to_string(i) + "=" + std::string(64, static_cast<char>('a' + i % 26)) + "\r\n";
    std::string garbage;  // no zero byte: StartApp writes a C string
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>(1 + (i * 7919 + i / 255) % 255);

    const struct {
        const char* name;
        const char* config;  // null: no file
        Kind kind;
        const wchar_t *shownPort, *shownSpeed;  // at start (null: not checked)
        const wchar_t *port, *speed;            // picked before closing (null: keep)
        std::string after;  // the file after exit; empty: only the two keys are checked
        UINT command = 0;   // before closing
    } rows[] = {
        {"missing", nullptr, Kind::File, L"COM1", L"9600", nullptr, L"115200",
         "[General]\r\nportname=COM1\r\nportspeed=115200\r\n"},
        {"saved values", standard.c_str(), Kind::File, L"COM5", L"115200", nullptr, nullptr, standard},
        // An exact entry wins over a longer one that the prefix lookup would
        // reach first (it starts after index 0).
        {"exact, at index 0", "[General]\nportname=COM1\nportspeed=1200\n", Kind::File, L"COM1", L"1200", nullptr, nullptr, ""},
        {"any case", "[General]\nportname=com5\nportspeed=57600\n", Kind::File, L"COM5", L"57600", nullptr, nullptr, ""},
        {"leading zeros", "[General]\nportname=COM5\nportspeed=0000115200\n", Kind::File, L"COM5", L"115200", nullptr, nullptr, ""},
        // The second entry: COM2 where the machine has a serial port of its own.
        {"prefix, from after index 0", "[General]\nportname=COM\nportspeed=12\n", Kind::File, nullptr, L"9600", nullptr, nullptr, ""},
        {"other sections and keys", others.c_str(), Kind::File, L"COM1", L"9600", L"COM5", L"57600",
         Replace(Replace(others, "COM1", "COM5"), "9600", "57600")},
        {"binary garbage", garbage.c_str(), Kind::File, nullptr, nullptr, nullptr, nullptr, ""},
        {"one megabyte", megabyte.c_str(), Kind::File, nullptr, nullptr, nullptr, L"57600",
         Replace(megabyte, "115200", "57600")},
        // Too long to match an entry: the port list has no selection to save, the speed falls back.
        {"values over 100 characters", longValues.c_str(), Kind::File, L"", L"9600", nullptr, nullptr,
         Replace(longValues, "115200" + std::string(150, '7'), "9600")},
        // A list without a selection keeps its key; a speed in range stands though unlisted.
        {"saved port and speed absent, a port picked", absent.c_str(), Kind::File, L"", L"300", L"COM5", nullptr,
         Replace(absent, "COM9", "COM5")},
        {"RTS alone raised", rtsOnly.c_str(), Kind::File, nullptr, nullptr, nullptr, nullptr, rtsOnly},
        {"typed speed in range", standard.c_str(), Kind::File, nullptr, nullptr, nullptr, L"250000",
         Replace(standard, "115200", "250000")},
        {"typed 0", standard.c_str(), Kind::File, nullptr, nullptr, nullptr, L"0", standard},
        {"typed 99999999", standard.c_str(), Kind::File, nullptr, nullptr, nullptr, L"99999999", standard},
        {"trigger single", scopeIn("single", "fall").c_str(), Kind::File, nullptr, nullptr, nullptr, nullptr,
         scopeIn("single", "fall")},
        {"scope reset to the defaults", scopeIn("normal", "fall", "200").c_str(), Kind::File, nullptr, nullptr, nullptr,
         nullptr, scopeIn("off", "rise"), IDM_SCOPE_RESET},
        // Lines kept as the profile API would trim them come back whole.
        {"send history and choices", sends.c_str(), Kind::File, nullptr, nullptr, nullptr, nullptr, sends},
        {"longest speed text", standard.c_str(), Kind::File, nullptr, nullptr, nullptr, L"12582912",
         Replace(standard, "115200", "12582912")},
        // Unlisted choices take the default; numbers beyond the range are clamped.
        {"scope settings out of range", scope.c_str(), Kind::File, nullptr, nullptr, nullptr, nullptr,
         "[Scope]\r\ntimebase=1\r\ngain1=1\r\ngain2=16\r\ncentre1=32767\r\ncentre3=-2048\r\ntrig_mode=off\r\n"
         "trig_source=1\r\ntrig_edge=fall\r\ntrig_level=0\r\ntrig_position=1023\r\ncentre2=0\r\ngain3=1\r\n"
         "[General]\r\nportname=COM1\r\nportspeed=9600\r\n"},
        {"read-only file", standard.c_str(), Kind::ReadOnly, nullptr, nullptr, nullptr, L"57600",
         Replace(standard, "115200", "57600")},
        {"config.ini a directory", nullptr, Kind::Directory, nullptr, nullptr, nullptr, L"57600", ""},
        {"working directory unwritable", standard.c_str(), Kind::WorkingDirRefused, nullptr, nullptr, nullptr, L"57600",
         "[General]\r\nportname=COM1\r\nportspeed=57600\r\n"},
        {"nothing writable", standard.c_str(), Kind::AllRefused, nullptr, nullptr, nullptr, L"57600", ""},
    };
    const std::wstring ownFile = _wgetenv(L"LOCALAPPDATA") + std::wstring(L"\\Tarquell\\config.ini");
    const std::wstring documents = _wgetenv(L"USERPROFILE") + std::wstring(L"\\Documents\\Tarquell\\");
    DeleteFileW(ownFile.c_str());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HWND main = StartApp(row.config);
        ASSERT_NE(main, nullptr);
        EXPECT_TRUE((!row.shownPort || WindowText(g_portList) == row.shownPort) &&
                    (!row.shownSpeed || WindowText(g_speedList) == row.shownSpeed)) << "shown at start";
        if (row.kind == Kind::Directory) {
            ASSERT_TRUE(CreateDirectoryW(L"config.ini", nullptr));
            LoadSettings();
        }
        if (row.kind == Kind::ReadOnly) ASSERT_TRUE(SetFileAttributesW(L"config.ini", FILE_ATTRIBUTE_READONLY));
        WCHAR recording[MAX_PATH] = L"";
        if (row.kind >= Kind::WorkingDirRefused) {
            ChooseSaveFolders(row.kind == Kind::AllRefused ? +[](const WCHAR*, DWORD* e) { return *e = 5, false; }
                                                           : RefuseWorkingDir);
            LoadSettings();
            EXPECT_EQ(std::wstring(SettingsWarning()).substr(0, 30), row.kind == Kind::AllRefused ? L"settings will not be saved: Ac" : L"");
            SendMessageW(main, WM_COMMAND, IDM_RECORD, 0);
            FormatRecordingField(recording, MAX_PATH);
        }
        const bool unwritable = row.kind >= Kind::Directory || (row.kind == Kind::ReadOnly && ReadOnlyEnforced());
        if (row.command) SendMessageW(main, WM_COMMAND, row.command, 0);
        if (row.port) Select(g_portList, row.port);
        if (row.speed) Select(g_speedList, row.speed);
        const std::wstring port = WindowText(g_portList), speed = WindowText(g_speedList);
        EXPECT_EQ(CloseApp(main), 0);
        const DWORD attributes = GetFileAttributesW(L"config.ini");
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(std::pair((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_READONLY) != 0),
                  std::pair(row.kind == Kind::Directory, row.kind == Kind::ReadOnly));
        SetFileAttributesW(L"config.ini", FILE_ATTRIBUTE_NORMAL);
        if (row.kind == Kind::Directory) continue;
        if (row.kind == Kind::WorkingDirRefused) {
            EXPECT_EQ(ReadText(ownFile.c_str()), row.after);
            EXPECT_EQ(std::wstring(recording).find(documents + L"tarquell-"), 0u) << "shown with its folder";
            EXPECT_EQ(ReadText(recording), "frame,time_ms,y1,y2,y3\r\n");
            DeleteFileW(ownFile.c_str()), DeleteFileW(recording);
        }
        const std::string saved = ReadText();
        if (unwritable) {
            EXPECT_EQ(saved, row.config) << "a file that cannot be written changed";
            continue;
        }
        if (!row.after.empty()) EXPECT_EQ(saved, row.after);
        else EXPECT_EQ(Setting(L"portname") + L"|" + Setting(L"portspeed"), port + L"|" + speed);
        HWND again = StartApp(saved.c_str());
        EXPECT_EQ(WindowText(g_portList) + L"|" + WindowText(g_speedList), port + L"|" + speed) << "after a restart";
        CloseApp(again);
    }
}

}  // namespace
