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

// The test prefix maps COM1, COM12 and COM5 (sorted in that order); the
// machine's own serial devices may add COM2 and more after them.
TEST(ControlBar, SelectsTheSavedPortAndSpeedAsThePlatformLooksThemUp)
{
    const struct {
        const char* name;
        const char* config;
        const wchar_t* port;
        const wchar_t* speed;
    } cases[] = {
        {"no file: defaults", nullptr, L"COM1", L"9600"},
        {"saved values", "[General]\nportname=COM5\nportspeed=115200\n", L"COM5", L"115200"},
        // An exact entry wins over a longer one that the prefix lookup would
        // reach first (it starts after index 0).
        {"exact, at index 0", "[General]\nportname=COM1\nportspeed=1200\n", L"COM1", L"1200"},
        {"any case", "[General]\nportname=com5\nportspeed=57600\n", L"COM5", L"57600"},
        {"prefix, from after index 0", "[General]\nportname=COM\nportspeed=12\n", L"COM12", L"128000"},
        {"absent port", "[General]\nportname=COM9\nportspeed=9600\n", L"", L"9600"},
        {"absent speed", "[General]\nportname=COM5\nportspeed=300\n", L"COM5", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND main = StartApp(c.config);
        EXPECT_EQ(WindowText(g_portList), c.port);
        EXPECT_EQ(WindowText(g_speedList), c.speed);
        CloseApp(main);
    }
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

// Whatever config.ini holds, the program starts and exits with code 0; it
// saves the lists' choices where it can and leaves the rest of the file as it
// was, and what it saved comes back on the next start.
TEST(SettingsFile, EveryKindOfFileStartsExitsAndSavesAsExpected)
{
    const std::string empty, standard = "[General]\r\nportname=COM5\r\nportspeed=115200\r\n";
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
        const std::string* config;  // null: no file
        Kind kind;
        const wchar_t* port;  // picked before closing (null: keep)
        const wchar_t* speed;
        std::string after;  // the file after exit; empty: only the two keys are checked
    } rows[] = {
        {"missing", nullptr, Kind::File, nullptr, L"115200", "[General]\r\nportname=COM1\r\nportspeed=115200\r\n"},
        {"empty", &empty, Kind::File, nullptr, nullptr, "[General]\r\nportname=COM1\r\nportspeed=9600\r\n"},
        {"other sections and keys", &others, Kind::File, L"COM5", L"57600",
         Replace(Replace(others, "COM1", "COM5"), "9600", "57600")},
        {"binary garbage", &garbage, Kind::File, nullptr, nullptr, ""},
        {"one megabyte", &megabyte, Kind::File, nullptr, L"57600", Replace(megabyte, "115200", "57600")},
        // Too long to match an entry: neither list has a selection to save.
        {"values over 100 characters", &longValues, Kind::File, nullptr, nullptr, longValues},
        // A list without a selection keeps its key.
        {"saved port and speed absent, a port picked", &absent, Kind::File, L"COM5", nullptr,
         Replace(absent, "COM9", "COM5")},
        {"longest speed text", &standard, Kind::File, nullptr, L"12582912", Replace(standard, "115200", "12582912")},
        // Unlisted choices take the default; numbers beyond the range are clamped.
        {"scope settings out of range", &scope, Kind::File, nullptr, nullptr,
         "[Scope]\r\ntimebase=1\r\ngain1=1\r\ngain2=16\r\ncentre1=32767\r\ncentre3=-2048\r\ntrig_mode=off\r\n"
         "trig_source=1\r\ntrig_edge=fall\r\ntrig_level=0\r\ncentre2=0\r\ngain3=1\r\n"
         "[General]\r\nportname=COM1\r\nportspeed=9600\r\n"},
        {"read-only file", &standard, Kind::ReadOnly, nullptr, L"57600", Replace(standard, "115200", "57600")},
        {"config.ini a directory", nullptr, Kind::Directory, nullptr, L"57600", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HWND main = StartApp(row.config ? row.config->c_str() : nullptr);
        ASSERT_NE(main, nullptr);
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
        if (row.kind == Kind::Directory) {
            EXPECT_TRUE(RemoveDirectoryW(L"config.ini"));  // scratch directories repeat with process ids
            continue;
        }
        const std::string saved = ReadText();
        if (unwritable) {
            EXPECT_EQ(saved, *row.config) << "a file that cannot be written changed";
            continue;
        }
        if (!row.after.empty()) {
            EXPECT_EQ(saved, row.after);
        } else {
            EXPECT_EQ(Setting(L"portname"), port);
            EXPECT_EQ(Setting(L"portspeed"), speed);
        }
        HWND again = StartApp(saved.c_str());
        EXPECT_EQ(WindowText(g_portList), port) << "after a restart";
        EXPECT_EQ(WindowText(g_speedList), speed) << "after a restart";
        CloseApp(again);
    }
}

}  // namespace
