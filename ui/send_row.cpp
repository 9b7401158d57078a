// The send row under the status rows: a line typed (or recalled from its
// history) becomes bytes for the port, as text with escapes and a line end
// or as hex pairs. The link writes them; its field tells how that went.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "acquisition.h"
#include "app.h"
#include "resource.h"
#include "save_folders.h"
#include "send_line.h"

#include <commctrl.h>

namespace {

constexpr WCHAR kSection[] = L"Send";
constexpr int kFieldLimit = 1000;
// A kept line's %XX form: up to three UTF-8 bytes a character, three letters a byte.
constexpr int kValueLength = 9 * kFieldLimit + 1;
constexpr int kKeyLength = 16;
constexpr UINT kProblemShowMs = 10000;
const WCHAR* const kLineEndChoices[kLineEndCount] = {L"нет", L"LF", L"CR", L"CR+LF"};

HWND g_field;  // the combobox; its edit takes the keys
HWND g_fieldEdit;
HWND g_lineEndList;
HWND g_hexBox;
HWND g_sendButton;
// Where the edit has no balloon of its own (Wine's), one of ours, tracked under it.
HWND g_problemTip;
TOOLINFOW g_problemTool;
bool g_running;
// The lines sent, newest first, in UTF-8.
std::vector<std::string> g_sentLines;
// How far Up has walked into them; -1 is the line being typed, kept meanwhile.
int g_walked = -1;
std::wstring g_typedLine;

std::string Utf8(const std::wstring& text)
{
    std::string bytes(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                        static_cast<int>(bytes.size()), nullptr, nullptr);
    return bytes;
}

std::wstring Wide(const std::string& bytes)
{
    std::wstring text(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                        static_cast<int>(text.size()));
    return text;
}

std::wstring FieldText()
{
    std::wstring text(kFieldLimit + 1, L'\0');
    text.resize(GetWindowTextW(g_field, text.data(), kFieldLimit + 1));
    return text;
}

bool HexChosen()
{
    return SendMessageW(g_hexBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

LineEnd ChosenLineEnd()
{
    const LRESULT choice = SendMessageW(g_lineEndList, CB_GETCURSEL, 0, 0);
    return choice == CB_ERR ? LineEnd::Lf : static_cast<LineEnd>(choice);
}

// HEX mode adds no line end, so the list goes grey with the box checked.
void ShowRowState()
{
    for (HWND control : {g_field, g_hexBox, g_sendButton}) EnableWindow(control, g_running);
    EnableWindow(g_lineEndList, g_running && !HexChosen());
}

void ShowHistory()
{
    SendMessageW(g_field, CB_RESETCONTENT, 0, 0);
    for (const std::string& line : g_sentLines)
        SendMessageW(g_field, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line).c_str()));
}

void SetFieldText(const std::wstring& text)
{
    SetWindowTextW(g_field, text.c_str());
    SendMessageW(g_fieldEdit, EM_SETSEL, text.size(), text.size());
}

// Up goes to older lines, Down back to newer ones and then to what was typed.
void WalkHistory(int step)
{
    const int to = std::clamp(g_walked + step, -1, static_cast<int>(g_sentLines.size()) - 1);
    if (to == g_walked) return;
    if (g_walked < 0) g_typedLine = FieldText();
    g_walked = to;
    SetFieldText(to < 0 ? g_typedLine : Wide(g_sentLines[to]));
}

// The field's offset of a character position counted as the parser counts.
int FieldOffset(const std::wstring& text, int position)
{
    size_t at = 0;
    for (int character = 1; character < position && at < text.size(); ++character)
        at += IS_HIGH_SURROGATE(text[at]) && at + 1 < text.size() ? 2 : 1;
    return static_cast<int>(at);
}

void HideProblemTip()
{
    if (g_problemTip) SendMessageW(g_problemTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&g_problemTool));
}

void CALLBACK OnProblemShown(HWND window, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(window, timer);
    HideProblemTip();
}

void ShowProblemTip(const WCHAR* title, WCHAR* message)
{
    if (!g_problemTip) {
        g_problemTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_BALLOON | TTS_NOPREFIX,
                                       0, 0, 0, 0, g_mainWindow, nullptr, g_instance, nullptr);
        g_problemTool = {};
        g_problemTool.cbSize = sizeof g_problemTool;
        g_problemTool.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_IDISHWND;
        g_problemTool.hwnd = g_mainWindow;
        g_problemTool.uId = reinterpret_cast<UINT_PTR>(g_fieldEdit);
        SendMessageW(g_problemTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&g_problemTool));
    }
    g_problemTool.lpszText = message;
    SendMessageW(g_problemTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&g_problemTool));
    SendMessageW(g_problemTip, TTM_SETTITLEW, TTI_ERROR, reinterpret_cast<LPARAM>(title));
    RECT field = {};
    GetWindowRect(g_fieldEdit, &field);
    SendMessageW(g_problemTip, TTM_TRACKPOSITION, 0, MAKELPARAM(field.left + (field.bottom - field.top), field.bottom));
    SendMessageW(g_problemTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&g_problemTool));
    SetTimer(g_fieldEdit, 1, kProblemShowMs, OnProblemShown);
}

// The bad character is selected and named in a balloon over the field.
void ShowProblem(const std::wstring& text, const SendProblem& problem)
{
    char message[200];
    FormatSendProblem(problem, message, sizeof message);
    std::wstring wideMessage = Wide(message);
    const int from = FieldOffset(text, problem.position), to = FieldOffset(text, problem.position + 1);
    SetFocus(g_fieldEdit);
    SendMessageW(g_fieldEdit, EM_SETSEL, from, to);
    EDITBALLOONTIP tip = {sizeof tip, L"not sent", wideMessage.c_str(), TTI_ERROR};
    if (!SendMessageW(g_fieldEdit, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&tip)))
        ShowProblemTip(tip.pszTitle, wideMessage.data());
}

// A line the link took is remembered and the field is cleared for the next;
// one it refused stays for another try.
void SendField()
{
    const std::wstring text = FieldText();
    const std::string line = Utf8(text);
    std::vector<uint8_t> bytes;
    SendProblem problem = {};
    if (!ParseSendText(line.data(), line.size(), HexChosen(), ChosenLineEnd(), &bytes, &problem)) {
        ShowProblem(text, problem);
        return;
    }
    if (!bytes.empty() && SendToPort(bytes.data(), bytes.size())) {
        RememberSentLine(g_sentLines, line);
        ShowHistory();
        SetFieldText(L"");
        g_walked = -1;
    }
    UpdateStatusRow();
}

// The balloon goes at the next key or with the focus. A line end character
// (Ctrl+Enter's) is swallowed: an edit beeps at it.
LRESULT CALLBACK FieldKeys(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_KEYDOWN || message == WM_KILLFOCUS) HideProblemTip();
    if (message == WM_CHAR && (wParam == '\r' || wParam == '\n')) return 0;
    if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, FieldKeys, 0);
    return DefSubclassProc(edit, message, wParam, lParam);
}

std::wstring LineKey(int number)
{
    WCHAR key[kKeyLength];
    swprintf(key, kKeyLength, L"line%d", number);
    return key;
}

// Read oldest first, so that a file's repeated lines count once.
void LoadSendSettings()
{
    std::vector<WCHAR> value(kValueLength);
    g_sentLines.clear();
    g_walked = -1;
    for (int number = kSentLinesKept; number >= 1; --number) {
        GetPrivateProfileStringW(kSection, LineKey(number).c_str(), L"", value.data(), kValueLength, SettingsFile());
        RememberSentLine(g_sentLines, DecodeIniValue(Utf8(value.data())));
    }
    GetPrivateProfileStringW(kSection, L"line_end", L"", value.data(), kValueLength, SettingsFile());
    SendMessageW(g_lineEndList, CB_SETCURSEL, static_cast<WPARAM>(ParseLineEnd(Utf8(value.data()).c_str())), 0);
    const bool hex = GetPrivateProfileIntW(kSection, L"hex", 0, SettingsFile()) == 1;
    SendMessageW(g_hexBox, BM_SETCHECK, hex ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace

void CreateSendRow(HWND mainWindow)
{
    g_field = CreateControl(mainWindow, L"combobox", L"", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL, IDC_SEND_TEXT);
    SendMessageW(g_field, CB_LIMITTEXT, kFieldLimit, 0);
    COMBOBOXINFO parts = {};
    parts.cbSize = sizeof parts;
    GetComboBoxInfo(g_field, &parts);
    g_fieldEdit = parts.hwndItem;
    SetWindowSubclass(g_fieldEdit, FieldKeys, 0, 0);
    g_problemTip = nullptr;  // went with the last main window
    g_lineEndList = CreateList(mainWindow, kLineEndChoices, kLineEndCount, IDC_SEND_END);
    g_hexBox = CreateControl(mainWindow, L"button", L"HEX", BS_AUTOCHECKBOX, IDC_SEND_HEX);
    g_sendButton = CreateControl(mainWindow, L"button", L"Отправить", BS_PUSHBUTTON, IDC_SEND);
    LoadSendSettings();
    ShowHistory();
    EnableSendRow(false);
}

// A file that never had send settings gets none while they are the defaults.
void SaveSendSettings()
{
    if (!IsWindow(g_lineEndList)) return;
    const LineEnd end = ChosenLineEnd();
    WCHAR existing[kKeyLength];
    if (g_sentLines.empty() && end == LineEnd::Lf && !HexChosen() &&
        GetPrivateProfileSectionW(kSection, existing, kKeyLength, SettingsFile()) == 0)
        return;
    for (int number = 1; number <= kSentLinesKept; ++number) {
        const size_t index = static_cast<size_t>(number - 1);
        const std::wstring value = index < g_sentLines.size() ? Wide(EncodeIniValue(g_sentLines[index])) : L"";
        WritePrivateProfileStringW(kSection, LineKey(number).c_str(), value.empty() ? nullptr : value.c_str(),
                                   SettingsFile());
    }
    WritePrivateProfileStringW(kSection, L"line_end", Wide(kLineEndKeys[static_cast<int>(end)]).c_str(), SettingsFile());
    WritePrivateProfileStringW(kSection, L"hex", HexChosen() ? L"1" : L"0", SettingsFile());
}

// Enter in the field sends as the button does; Up and Down walk its lines.
bool OnSendCommand(WPARAM wParam)
{
    const int id = LOWORD(wParam);
    const bool inField = IsSendField(GetFocus());
    if (id == IDC_SEND || (id == IDM_ENTER_FIELD && inField)) SendField();
    else if ((id == IDM_OLDER_LINE || id == IDM_NEWER_LINE) && inField)
        HideProblemTip(), WalkHistory(id == IDM_OLDER_LINE ? 1 : -1);
    else if (id == IDC_SEND_HEX) ShowRowState();
    else return false;
    return true;
}

bool IsSendField(HWND window)
{
    return window && window == g_fieldEdit;
}

void EnableSendRow(bool running)
{
    g_running = running;
    ShowRowState();
}
