#include <gtest/gtest.h>

#include <string>

#include "app.h"
#include "app_session.h"
#include "win_test_util.h"

namespace {

std::wstring Setting(const wchar_t* key)
{
    wchar_t value[100] = L"";
    GetPrivateProfileStringW(L"General", key, L"<missing>", value, 100, L"./config.ini");
    return value;
}

void Select(HWND list, const wchar_t* text)
{
    SendMessageW(list, CB_SETCURSEL, SendMessageW(list, CB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(text)), 0);
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

enum class Kind { File, ReadOnly, Directory };

// Whatever config.ini holds, the program starts with the saved choices as the
// platform's lookup finds them (the test prefix maps COM1, COM12 and COM5,
// sorted so) and exits with code 0; it saves the lists' choices where it can,
// leaves the rest of the file as it was, and what it saved comes back.
TEST(SettingsFile, EveryKindOfFileStartsExitsAndSavesAsExpected)
{
    const std::string standard = "[General]\r\nportname=COM5\r\nportspeed=115200\r\n";
    const std::string absent = "[General]\r\nportname=COM9\r\nportspeed=300\r\n";
    const std::string scope = "[Scope]\r\ntimebase=7\r\ngain1=3\r\ngain2=16\r\ncentre1=99999\r\ncentre3=-2048\r\n"
                              "trig_mode=foo\r\ntrig_source=4\r\ntrig_edge=fall\r\ntrig_level=12x\r\n";
    const std::string longValues = Replace(Replace(standard, "COM5", "COM5" + std::string(150, '7')), "115200",
                                           "115200" + std::string(150, '7'));
    const std::string others = "[Other]\r\nkeep=this\r\n[General]\r\nportname=COM1\r\nportspeed=9600\r\nextra=1\r\n";
    std::string megabyte = standard + "[Bulk]\r\n";
    for (int i = 0; megabyte.size() < (1u << 20); ++i)
        megabyte += "entry" + std::to_string(i) + "=" + std::string(64, static_cast<char>('a' + i % 26)) + "\r\n";
    std::string garbage(4096, '\0');  // no zero byte: StartApp writes a C string
    for (size_t i = 0, state = 12345; i < garbage.size(); ++i, state = state * 1103515245u + 12345u)
        garbage[i] = static_cast<char>(1 + (state >> 16) % 255);

    const struct {
        const char* name;
        const char* config;  // null: no file
        Kind kind;
        const wchar_t *shownPort, *shownSpeed;  // at start (null: not checked)
        const wchar_t *port, *speed;            // picked before closing (null: keep)
        std::string after;  // the file after exit; empty: only the two keys are checked
    } rows[] = {
        {"missing", nullptr, Kind::File, L"COM1", L"9600", nullptr, L"115200",
         "[General]\r\nportname=COM1\r\nportspeed=115200\r\n"},
        {"empty", "", Kind::File, L"COM1", L"9600", nullptr, nullptr, "[General]\r\nportname=COM1\r\nportspeed=9600\r\n"},
        {"saved values", standard.c_str(), Kind::File, L"COM5", L"115200", nullptr, nullptr, standard},
        // An exact entry wins over a longer one that the prefix lookup would
        // reach first (it starts after index 0).
        {"exact, at index 0", "[General]\nportname=COM1\nportspeed=1200\n", Kind::File, L"COM1", L"1200", nullptr, nullptr, ""},
        {"any case", "[General]\nportname=com5\nportspeed=57600\n", Kind::File, L"COM5", L"57600", nullptr, nullptr, ""},
        {"prefix, from after index 0", "[General]\nportname=COM\nportspeed=12\n", Kind::File, L"COM12", L"128000", nullptr, nullptr, ""},
        {"other sections and keys", others.c_str(), Kind::File, L"COM1", L"9600", L"COM5", L"57600",
         Replace(Replace(others, "COM1", "COM5"), "9600", "57600")},
        {"binary garbage", garbage.c_str(), Kind::File, nullptr, nullptr, nullptr, nullptr, ""},
        {"one megabyte", megabyte.c_str(), Kind::File, nullptr, nullptr, nullptr, L"57600",
         Replace(megabyte, "115200", "57600")},
        // Too long to match an entry: neither list has a selection to save.
        {"values over 100 characters", longValues.c_str(), Kind::File, L"", L"", nullptr, nullptr, longValues},
        // A list without a selection keeps its key.
        {"saved port and speed absent, a port picked", absent.c_str(), Kind::File, L"", L"", L"COM5", nullptr,
         Replace(absent, "COM9", "COM5")},
        {"longest speed text", standard.c_str(), Kind::File, nullptr, nullptr, nullptr, L"12582912",
         Replace(standard, "115200", "12582912")},
        // Unlisted choices take the default; numbers beyond the range are clamped.
        {"scope settings out of range", scope.c_str(), Kind::File, nullptr, nullptr, nullptr, nullptr,
         "[Scope]\r\ntimebase=1\r\ngain1=1\r\ngain2=16\r\ncentre1=32767\r\ncentre3=-2048\r\ntrig_mode=off\r\n"
         "trig_source=1\r\ntrig_edge=fall\r\ntrig_level=0\r\ncentre2=0\r\ngain3=1\r\n"
         "[General]\r\nportname=COM1\r\nportspeed=9600\r\n"},
        {"read-only file", standard.c_str(), Kind::ReadOnly, nullptr, nullptr, nullptr, L"57600",
         Replace(standard, "115200", "57600")},
        {"config.ini a directory", nullptr, Kind::Directory, nullptr, nullptr, nullptr, L"57600", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HWND main = StartApp(row.config);
        ASSERT_NE(main, nullptr);
        EXPECT_TRUE(!row.shownPort || WindowText(g_portList) == row.shownPort) << Narrow(WindowText(g_portList));
        EXPECT_TRUE(!row.shownSpeed || WindowText(g_speedList) == row.shownSpeed) << Narrow(WindowText(g_speedList));
        if (row.kind == Kind::Directory) {
            ASSERT_TRUE(CreateDirectoryW(L"config.ini", nullptr));
            LoadSettings();
        }
        if (row.kind == Kind::ReadOnly) {
            ASSERT_TRUE(SetFileAttributesW(L"config.ini", FILE_ATTRIBUTE_READONLY));
        }
        const bool unwritable = row.kind == Kind::Directory || (row.kind == Kind::ReadOnly && ReadOnlyEnforced());
        if (row.port) Select(g_portList, row.port);
        if (row.speed) Select(g_speedList, row.speed);
        const std::wstring port = WindowText(g_portList), speed = WindowText(g_speedList);
        EXPECT_EQ(CloseApp(main), 0);
        const DWORD attributes = GetFileAttributesW(L"config.ini");
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, row.kind == Kind::Directory);
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, row.kind == Kind::ReadOnly);
        SetFileAttributesW(L"config.ini", FILE_ATTRIBUTE_NORMAL);
        if (row.kind == Kind::Directory) continue;
        const std::string saved = ReadText();
        if (unwritable) {
            EXPECT_EQ(saved, row.config) << "a file that cannot be written changed";
            continue;
        }
        if (!row.after.empty()) {
            EXPECT_EQ(saved, row.after);
        } else {
            EXPECT_EQ(Setting(L"portname"), port);
            EXPECT_EQ(Setting(L"portspeed"), speed);
        }
        HWND again = StartApp(saved.c_str());
        EXPECT_EQ(WindowText(g_portList) + L"|" + WindowText(g_speedList), port + L"|" + speed) << "after a restart";
        CloseApp(again);
    }
}

}  // namespace
