#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "app.h"
#include "ports.h"
#include "resource.h"
#include "save_folders.h"

HWND g_startButton;
HWND g_stopButton;
HWND g_portList;
HWND g_speedList;
ModemLines g_modemLines;
char g_csvSeparator = ',';

namespace {

constexpr WCHAR kSection[] = L"General";
constexpr WCHAR kPortKey[] = L"portname";
constexpr WCHAR kSpeedKey[] = L"portspeed";
constexpr WCHAR kDtrKey[] = L"dtr";
constexpr WCHAR kRtsKey[] = L"rts";
constexpr WCHAR kSeparatorKey[] = L"csv_separator";
constexpr WCHAR kDefaultPort[] = L"COM1";
constexpr DWORD kDefaultSpeed = 9600;
constexpr int kSettingLength = 100;
constexpr WCHAR kDescriptionGap[] = L"  ";

// The port the user chose, kept while its adapter is away so that it is
// selected again when it returns.
std::wstring g_chosenPort;
// The port list's descriptions, by entry, and where they start in the drop-down.
std::vector<std::wstring> g_portDescriptions;
int g_descriptionLeft;
// The last good speed, shown again when the box holds anything else.
DWORD g_speed = kDefaultSpeed;

HWND CreateChild(HWND parent, const WCHAR* className, const WCHAR* text, DWORD style, int x, int y,
                 int width, int height, int id, HINSTANCE instance)
{
    return CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void AddPort(const WCHAR* name, const WCHAR* description, void*)
{
    SendMessageW(g_portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    g_portDescriptions.push_back(description);
}

HGDIOBJ ListFont(HWND list)
{
    const LRESULT font = SendMessageW(list, WM_GETFONT, 0, 0);
    return font ? reinterpret_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT);
}

// Room on either side of an entry's text.
int ItemMargin(HDC dc)
{
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    return metrics.tmAveCharWidth / 2;
}

int ItemHeight(HDC dc)
{
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    return metrics.tmHeight + metrics.tmExternalLeading;
}

// The descriptions line up after the longest name; the drop-down is wide
// enough for the longest of them.
void FillPortList()
{
    SendMessageW(g_portList, CB_RESETCONTENT, 0, 0);
    g_portDescriptions.clear();
    ListPortDescriptions(AddPort, nullptr);
    HDC dc = GetDC(g_portList);
    HGDIOBJ previousFont = SelectObject(dc, ListFont(g_portList));
    int nameWidth = 0, descriptionWidth = 0;
    WCHAR name[kPortTextCount];
    for (size_t i = 0; i < g_portDescriptions.size(); ++i) {
        if (SendMessageW(g_portList, CB_GETLBTEXTLEN, i, 0) >= kPortTextCount) continue;
        SendMessageW(g_portList, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        nameWidth = std::max(nameWidth, TextWidth(dc, (name + std::wstring(kDescriptionGap)).c_str()));
        descriptionWidth = std::max(descriptionWidth, TextWidth(dc, g_portDescriptions[i].c_str()));
    }
    const int margin = ItemMargin(dc);
    // Measured again for a font set since the list was made.
    for (WPARAM part : {static_cast<WPARAM>(-1), WPARAM(0)})
        SendMessageW(g_portList, CB_SETITEMHEIGHT, part, ItemHeight(dc));
    SelectObject(dc, previousFont);
    ReleaseDC(g_portList, dc);
    g_descriptionLeft = margin + nameWidth;
    RECT box = {};
    GetWindowRect(g_portList, &box);
    const int width = g_descriptionLeft + descriptionWidth + margin + GetSystemMetrics(SM_CXVSCROLL);
    SendMessageW(g_portList, CB_SETDROPPEDWIDTH, std::max<LONG>(width, box.right - box.left), 0);
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

// Shows the speed, as the list's entry where it has one.
void ShowSpeed(DWORD speed)
{
    g_speed = speed;
    WCHAR text[kSpeedTextCount];
    swprintf(text, kSpeedTextCount, L"%lu", static_cast<unsigned long>(speed));
    const LRESULT entry = FindExactEntry(g_speedList, text);
    SendMessageW(g_speedList, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
    if (entry == CB_ERR) SetWindowTextW(g_speedList, text);
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
    GetPrivateProfileStringW(kSection, key, fallback, value, kSettingLength, SettingsFile());
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(FindSavedEntry(list, value)), 0);
    if (list == g_portList) g_chosenPort = SendMessageW(list, CB_GETCURSEL, 0, 0) == CB_ERR ? value : ListText(list);
}

// A list without a selection (its saved entry is absent this run, or there is
// no list at all) keeps the stored key, so the choice returns with the adapter.
void SaveSelectedEntry(HWND list, const WCHAR* key)
{
    if (!IsWindow(list) || SendMessageW(list, CB_GETCURSEL, 0, 0) == CB_ERR) return;
    WritePrivateProfileStringW(kSection, key, ListText(list).c_str(), SettingsFile());
}

void SaveModemLine(const WCHAR* key, bool on)
{
    SaveSettingUnlessDefault(kSection, key, on ? L"1" : L"0", !on);
}

}  // namespace

void SaveSettingUnlessDefault(const WCHAR* section, const WCHAR* key, const WCHAR* value, bool isDefault)
{
    WCHAR existing[kSettingLength] = L"";
    if (isDefault && !GetPrivateProfileStringW(section, key, L"", existing, kSettingLength, SettingsFile())) return;
    WritePrivateProfileStringW(section, key, value, SettingsFile());
}

void CreateControlBar(HWND mainWindow)
{
    const DWORD visibleChild = WS_CHILD | WS_VISIBLE;
    CreateChild(mainWindow, L"static", L"Com Port", visibleChild, 0, 0, 0, 0, IDC_PORT_LABEL, nullptr);
    CreateChild(mainWindow, L"static", L"Speed", visibleChild, 0, 0, 0, 0, IDC_SPEED_LABEL, nullptr);
    g_startButton = CreateChild(mainWindow, L"button", L"Start", visibleChild, 0, 0, 0, 0, IDC_START, g_instance);
    g_stopButton = CreateChild(mainWindow, L"button", L"Stop", visibleChild, 0, 0, 0, 0, IDC_STOP, g_instance);
    EnableWindow(g_stopButton, FALSE);

    // Entries are bare names, sorted by number as they are listed; the
    // descriptions are only drawn beside them.
    g_portList = CreateChild(mainWindow, L"combobox", L"ListCom01",
                             visibleChild | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, 0, 0,
                             0, 0, IDC_PORT_LIST, g_instance);
    FillPortList();
    SendMessageW(g_portList, CB_SETCURSEL, 0, 0);

    g_speedList = CreateChild(mainWindow, L"combobox", L"ListCom02", visibleChild | WS_VSCROLL | CBS_DROPDOWN, 0, 0,
                              0, 0, IDC_SPEED_LIST, g_instance);
    for (const char* speed : BaudRateList)
        SendMessageA(g_speedList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(speed));
    SendMessageW(g_speedList, CB_SETCURSEL, 0, 0);

    LoadSettings();
}

// Ports come and go with their adapters; the list follows, keeping the choice.
void RefreshPortList()
{
    FillPortList();
    SendMessageW(g_portList, CB_SETCURSEL, static_cast<WPARAM>(FindExactEntry(g_portList, g_chosenPort.c_str())), 0);
}

void FollowPortChoice(const WCHAR* name)
{
    g_chosenPort = name;
    RefreshPortList();
}

void NotePortChoice()
{
    if (SendMessageW(g_portList, CB_GETCURSEL, 0, 0) != CB_ERR) g_chosenPort = ListText(g_portList);
}

// A saved speed the list lacks is used all the same while it is in range.
void LoadSettings()
{
    SelectSavedEntry(g_portList, kPortKey, kDefaultPort);
    WCHAR value[kSettingLength];
    GetPrivateProfileStringW(kSection, kSpeedKey, L"", value, kSettingLength, SettingsFile());
    const DWORD speed = ParseSpeed(value);
    ShowSpeed(speed ? speed : kDefaultSpeed);
    g_modemLines.dtr = GetPrivateProfileIntW(kSection, kDtrKey, 0, SettingsFile()) == 1;
    g_modemLines.rts = GetPrivateProfileIntW(kSection, kRtsKey, 0, SettingsFile()) == 1;
    GetPrivateProfileStringW(kSection, kSeparatorKey, L",", value, kSettingLength, SettingsFile());
    g_csvSeparator = wcscmp(value, L";") == 0 ? ';' : ',';
}

void SaveSettings()
{
    SaveSelectedEntry(g_portList, kPortKey);
    SaveModemLine(kDtrKey, g_modemLines.dtr);
    SaveModemLine(kRtsKey, g_modemLines.rts);
    SaveSettingUnlessDefault(kSection, kSeparatorKey, g_csvSeparator == ';' ? L";" : L",", g_csvSeparator == ',');
    if (!IsWindow(g_speedList)) return;
    WCHAR text[kSpeedTextCount];
    swprintf(text, kSpeedTextCount, L"%lu", static_cast<unsigned long>(ChosenSpeed()));
    WritePrivateProfileStringW(kSection, kSpeedKey, text, SettingsFile());
}

// A typed speed counts once it is a whole number in range; anything else
// gives way to the last good one, so Start never sees it.
DWORD ChosenSpeed()
{
    const DWORD typed = ParseSpeed(ListText(g_speedList).c_str());
    ShowSpeed(typed ? typed : g_speed);
    return g_speed;
}

void NoteSpeedChoice(WORD notification)
{
    if (notification == CBN_KILLFOCUS) ChosenSpeed();
}

bool MeasurePortItem(MEASUREITEMSTRUCT* item)
{
    if (item->CtlType != ODT_COMBOBOX || item->CtlID != IDC_PORT_LIST) return false;
    HWND list = GetDlgItem(g_mainWindow, IDC_PORT_LIST);
    HDC dc = GetDC(list);
    HGDIOBJ previousFont = SelectObject(dc, ListFont(list));
    item->itemHeight = static_cast<UINT>(ItemHeight(dc));
    SelectObject(dc, previousFont);
    ReleaseDC(list, dc);
    return true;
}

// The box shows the name alone; the drop-down the description beside it.
bool DrawPortItem(const DRAWITEMSTRUCT* item)
{
    if (item->CtlType != ODT_COMBOBOX || item->CtlID != IDC_PORT_LIST) return false;
    const bool selected = item->itemState & ODS_SELECTED;
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    WCHAR name[kPortTextCount] = L"";
    if (item->itemID != static_cast<UINT>(-1) &&
        SendMessageW(item->hwndItem, CB_GETLBTEXTLEN, item->itemID, 0) < kPortTextCount)
        SendMessageW(item->hwndItem, CB_GETLBTEXT, item->itemID, reinterpret_cast<LPARAM>(name));
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text = item->rcItem;
    text.left += ItemMargin(item->hDC);
    DrawTextW(item->hDC, name, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (!(item->itemState & ODS_COMBOBOXEDIT) && item->itemID < g_portDescriptions.size()) {
        text.left = item->rcItem.left + g_descriptionLeft;
        if (!selected) SetTextColor(item->hDC, GetSysColor(COLOR_GRAYTEXT));
        DrawTextW(item->hDC, g_portDescriptions[item->itemID].c_str(), -1, &text,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if (item->itemState & ODS_FOCUS) DrawFocusRect(item->hDC, &item->rcItem);
    return true;
}
