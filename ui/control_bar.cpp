#include <string>

#include "app.h"
#include "ports.h"
#include "resource.h"

HWND g_startButton;
HWND g_stopButton;
HWND g_portList;
HWND g_speedList;

namespace {

constexpr WCHAR kSettingsFile[] = L"./config.ini";
constexpr WCHAR kSection[] = L"General";
constexpr WCHAR kPortKey[] = L"portname";
constexpr WCHAR kSpeedKey[] = L"portspeed";
constexpr WCHAR kDefaultPort[] = L"COM1";
constexpr WCHAR kDefaultSpeed[] = L"9600";
constexpr int kSettingLength = 100;

// The port the user chose, kept while its adapter is away so that it is
// selected again when it returns.
std::wstring g_chosenPort;

HWND CreateChild(HWND parent, const WCHAR* className, const WCHAR* text, DWORD style, int x, int y,
                 int width, int height, int id, HINSTANCE instance)
{
    return CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void AddPortName(const WCHAR* name, void*)
{
    SendMessageW(g_portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
}

std::wstring ListText(HWND list)
{
    WCHAR text[kSettingLength] = L"";
    GetWindowTextW(list, text, kSettingLength);
    return text;
}

LRESULT FindExactEntry(HWND list, const WCHAR* value)
{
    return SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(value));
}

// The platform's prefix lookup starts after the first entry, so on its own it
// answers a saved "COM1" with COM10 and the next exit overwrites the choice:
// an exact entry wins first.
LRESULT FindSavedEntry(HWND list, const WCHAR* value)
{
    const LRESULT exact = FindExactEntry(list, value);
    if (exact != CB_ERR) return exact;
    return SendMessageW(list, CB_FINDSTRING, 0, reinterpret_cast<LPARAM>(value));
}

void SelectSavedEntry(HWND list, const WCHAR* key, const WCHAR* fallback)
{
    WCHAR value[kSettingLength];
    GetPrivateProfileStringW(kSection, key, fallback, value, kSettingLength, kSettingsFile);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(FindSavedEntry(list, value)), 0);
    if (list == g_portList) g_chosenPort = SendMessageW(list, CB_GETCURSEL, 0, 0) == CB_ERR ? value : ListText(list);
}

// A list without a selection (its saved entry is absent this run, or there is
// no list at all) keeps the stored key, so the choice returns with the adapter.
void SaveSelectedEntry(HWND list, const WCHAR* key)
{
    if (!IsWindow(list) || SendMessageW(list, CB_GETCURSEL, 0, 0) == CB_ERR) return;
    WritePrivateProfileStringW(kSection, key, ListText(list).c_str(), kSettingsFile);
}

}  // namespace

void CreateControlBar(HWND mainWindow)
{
    const DWORD visibleChild = WS_CHILD | WS_VISIBLE;
    CreateChild(mainWindow, L"static", L"Com Port", visibleChild, 0, 0, 0, 0, IDC_PORT_LABEL, nullptr);
    CreateChild(mainWindow, L"static", L"Speed", visibleChild, 0, 0, 0, 0, IDC_SPEED_LABEL, nullptr);
    g_startButton = CreateChild(mainWindow, L"button", L"Start", visibleChild, 0, 0, 0, 0, IDC_START, g_instance);
    g_stopButton = CreateChild(mainWindow, L"button", L"Stop", visibleChild, 0, 0, 0, 0, IDC_STOP, g_instance);
    EnableWindow(g_stopButton, FALSE);

    g_portList = CreateChild(mainWindow, L"combobox", L"ListCom01", visibleChild | CBS_SORT | CBS_DROPDOWNLIST,
                             0, 0, 0, 0, IDC_PORT_LIST, g_instance);
    ListPorts(AddPortName, nullptr);
    SendMessageW(g_portList, CB_SETCURSEL, 0, 0);

    g_speedList = CreateChild(mainWindow, L"combobox", L"ListCom02",
                              visibleChild | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0, 0, 0, IDC_SPEED_LIST, g_instance);
    for (const char* speed : BaudRateList)
        SendMessageA(g_speedList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(speed));
    SendMessageW(g_speedList, CB_SETCURSEL, 0, 0);

    LoadSettings();
}

// Ports come and go with their adapters; the list follows, keeping the choice.
void RefreshPortList()
{
    SendMessageW(g_portList, CB_RESETCONTENT, 0, 0);
    ListPorts(AddPortName, nullptr);
    SendMessageW(g_portList, CB_SETCURSEL, static_cast<WPARAM>(FindExactEntry(g_portList, g_chosenPort.c_str())), 0);
}

void NotePortChoice()
{
    if (SendMessageW(g_portList, CB_GETCURSEL, 0, 0) != CB_ERR) g_chosenPort = ListText(g_portList);
}

void LoadSettings()
{
    SelectSavedEntry(g_portList, kPortKey, kDefaultPort);
    SelectSavedEntry(g_speedList, kSpeedKey, kDefaultSpeed);
}

void SaveSettings()
{
    SaveSelectedEntry(g_portList, kPortKey);
    SaveSelectedEntry(g_speedList, kSpeedKey);
}
