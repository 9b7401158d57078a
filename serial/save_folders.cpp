#include "save_folders.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

#include "port_io.h"
#include "system_text.h"

namespace {

constexpr WCHAR kWorkingSettings[] = L"./config.ini";

// The window's thread only: it chooses them, reads settings and creates
// recordings.
std::wstring g_settingsFile = kWorkingSettings;
std::wstring g_recordingsFolder;
std::wstring g_warning;
DWORD g_chosenAtMs;

// The user's known folder with Tarquell\ added, created; empty when the system has none.
std::wstring OwnFolder(const KNOWNFOLDERID& id)
{
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path)))
        folder = std::wstring(path) + L"\\Tarquell\\";
    CoTaskMemFree(path);
    if (!folder.empty()) CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

}  // namespace

bool FolderWritable(const WCHAR* folder, DWORD* error)
{
    WCHAR probe[MAX_PATH + 64];
    swprintf(probe, MAX_PATH + 64, L"%lstarquell-probe-%lu.tmp", folder, GetCurrentProcessId());
    HANDLE file = CreateFileW(probe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    CloseHandle(file);
    return true;
}

void ChooseSaveFolders(bool (*writable)(const WCHAR* folder, DWORD* error))
{
    g_settingsFile = kWorkingSettings;
    g_recordingsFolder.clear();
    g_warning.clear();
    g_chosenAtMs = PortClockMs();
    DWORD error = 0;
    if (writable(L"", &error)) return;
    const std::wstring own = OwnFolder(FOLDERID_LocalAppData);
    if (own.empty() || !writable(own.c_str(), &error)) {
        g_warning = L"settings will not be saved: " + SystemMessage(error);
        return;
    }
    g_settingsFile = own + L"config.ini";
    g_recordingsFolder = OwnFolder(FOLDERID_Documents);
}

const WCHAR* SettingsFile()
{
    return g_settingsFile.c_str();
}

const WCHAR* RecordingsFolder()
{
    return g_recordingsFolder.c_str();
}

void FormatSaveName(WCHAR* text, int size)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    swprintf(text, size, L"tarquell-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
}

const WCHAR* SettingsWarning()
{
    return g_warning.c_str();
}

const WCHAR* SettingsWarningNote()
{
    return PortClockMs() - g_chosenAtMs < kSettingsWarningShowMs ? g_warning.c_str() : L"";
}
