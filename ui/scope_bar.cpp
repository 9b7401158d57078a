#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "acquisition.h"
#include "app.h"
#include "resource.h"
#include "save_folders.h"
#include "scope_settings.h"

#include <commctrl.h>

namespace {

constexpr WCHAR kSection[] = L"Scope";
constexpr int kValueLength = 16;
constexpr int kAllTraces = 0;

const WCHAR* const kTraceChoices[] = {L"All", L"y1", L"y2", L"y3"};
const WCHAR* const kModeChoices[] = {L"Off", L"Auto", L"Norm", L"Single"};
const WCHAR* const kSourceChoices[] = {L"y1 /", L"y1 \\", L"y2 /", L"y2 \\", L"y3 /", L"y3 \\"};

HWND g_timebaseList;
HWND g_traceList;
HWND g_gainList;
HWND g_centreEdit;
HWND g_modeList;
HWND g_sourceList;
HWND g_levelEdit;
HWND g_freezeButton;

ScopeSettings& Scope()
{
    return g_sweep.scope;
}

int SelectedTrace()
{
    const LRESULT selection = SendMessageW(g_traceList, CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? kAllTraces : static_cast<int>(selection);
}

// The trace whose gain and centre the bar shows: y1 stands for all.
int ShownTrace()
{
    const int trace = SelectedTrace();
    return trace == kAllTraces ? 1 : trace;
}

int IndexOf(const int32_t* choices, int count, int32_t value)
{
    for (int i = 0; i < count; ++i)
        if (choices[i] == value) return i;
    return 0;
}

void SetNumber(HWND edit, int32_t value)
{
    WCHAR text[kValueLength];
    swprintf(text, kValueLength, L"%ld", static_cast<long>(value));
    SetWindowTextW(edit, text);
}

void ShowSettings()
{
    const ScopeSettings& scope = Scope();
    SendMessageW(g_timebaseList, CB_SETCURSEL, IndexOf(kTimebases, kTimebaseCount, scope.framesPerColumn), 0);
    SendMessageW(g_gainList, CB_SETCURSEL, IndexOf(kGains, kGainCount, scope.gain[ShownTrace()]), 0);
    SetNumber(g_centreEdit, scope.centre[ShownTrace()]);
    SendMessageW(g_modeList, CB_SETCURSEL, static_cast<WPARAM>(scope.mode), 0);
    SendMessageW(g_sourceList, CB_SETCURSEL, (scope.source - 1) * 2 + (scope.edge == TriggerEdge::Fall), 0);
    SetNumber(g_levelEdit, scope.level);
}

void Redraw()
{
    if (g_traceView) InvalidateRect(g_traceView, nullptr, TRUE);
}

// Sets a per-trace setting for the trace the bar has selected, or for all.
void SetForSelectedTraces(int32_t (&setting)[kTraceCount + 1], int32_t value)
{
    const int selected = SelectedTrace();
    for (int trace = 1; trace <= kTraceCount; ++trace)
        if (selected == kAllTraces || selected == trace) setting[trace] = value;
}

void SetGain(int32_t gain)
{
    SetForSelectedTraces(Scope().gain, gain);
    ShowSettings();
    Redraw();
}

void SetCentre(int32_t centre)
{
    SetForSelectedTraces(Scope().centre, centre);
    Redraw();
}

// Invalid text reverts to the value in force.
void CommitEdit(HWND edit)
{
    char text[kValueLength] = "";
    GetWindowTextA(edit, text, kValueLength);
    const int32_t current = edit == g_centreEdit ? Scope().centre[ShownTrace()] : Scope().level;
    const int32_t value = ParseClamped(text, INT16_MIN, INT16_MAX, current);
    if (edit == g_centreEdit) {
        SetCentre(value);
    } else if (value != Scope().level) {
        Scope().level = value;
        RearmTrigger(g_sweep);
    }
    SetNumber(edit, value);
    Redraw();
}

// The keys and values are ASCII; the file's path may not be.
std::wstring Wide(const char* text)
{
    return std::wstring(text, text + std::strlen(text));
}

void WriteScopeKey(const char* key, const char* value)
{
    WritePrivateProfileStringW(kSection, Wide(key).c_str(), Wide(value).c_str(), SettingsFile());
}

// Names each control in the program's language while the mouse rests on it.
void AddTooltips(HWND mainWindow)
{
    const struct {
        int id;
        const WCHAR* text;
    } tips[] = {{IDC_TIMEBASE, L"Развёртка: кадров на столбец"},
                {IDC_VTRACE, L"Канал для усиления и центра"},
                {IDC_GAIN, L"Усиление"},
                {IDC_CENTRE, L"Центр"},
                {IDC_TRIG_MODE, L"Режим запуска"},
                {IDC_TRIG_SOURCE, L"Источник и фронт"},
                {IDC_TRIG_LEVEL, L"Уровень запуска"},
                {IDC_SINGLE, L"Однократный запуск"},
                {IDC_FREEZE, L"Заморозить"}};
    const INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, mainWindow, nullptr, g_instance, nullptr);
    for (const auto& tip : tips) {
        TOOLINFOW tool = {};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = mainWindow;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(mainWindow, tip.id));
        tool.lpszText = const_cast<WCHAR*>(tip.text);
        SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void LoadScopeSettings()
{
    ScopeSettings& scope = Scope();
    scope = DefaultScope();
    auto read = [](const char* key, char* value) {
        WCHAR text[kValueLength];
        GetPrivateProfileStringW(kSection, Wide(key).c_str(), L"", text, kValueLength, SettingsFile());
        for (int i = 0; i == 0 || value[i - 1]; ++i) value[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    };
    char value[kValueLength];
    read("timebase", value);
    scope.framesPerColumn = ParseChoice(value, kTimebases, kTimebaseCount, 1);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        char key[16];
        std::snprintf(key, sizeof key, "gain%d", trace);
        read(key, value);
        scope.gain[trace] = ParseChoice(value, kGains, kGainCount, 1);
        std::snprintf(key, sizeof key, "centre%d", trace);
        read(key, value);
        scope.centre[trace] = ParseClamped(value, INT16_MIN, INT16_MAX, 0);
    }
    read("trig_mode", value);
    scope.mode = ParseTriggerMode(value);
    read("trig_source", value);
    const int32_t sources[] = {1, 2, 3};
    scope.source = ParseChoice(value, sources, 3, 1);
    read("trig_edge", value);
    scope.edge = std::strcmp(value, "fall") == 0 ? TriggerEdge::Fall : TriggerEdge::Rise;
    read("trig_level", value);
    scope.level = ParseClamped(value, INT16_MIN, INT16_MAX, 0);
    read("trig_position", value);
    scope.triggerPosition = ParseClamped(value, 0, kSweepWidth - 1, kDefaultTriggerPosition);
    RestartSweep(g_sweep);
}

}  // namespace

HWND CreateControl(HWND parent, const WCHAR* className, const WCHAR* text, DWORD style, int id)
{
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_instance, nullptr);
}

HWND CreateList(HWND parent, const WCHAR* const* items, int count, int id)
{
    HWND list = CreateControl(parent, L"combobox", L"", CBS_DROPDOWNLIST | WS_VSCROLL, id);
    for (int i = 0; i < count; ++i) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
    return list;
}

void CreateScopeBar(HWND mainWindow)
{
    WCHAR timebases[kTimebaseCount][kValueLength];
    const WCHAR* timebaseItems[kTimebaseCount];
    for (int i = 0; i < kTimebaseCount; ++i) {
        swprintf(timebases[i], kValueLength, L"%ld", static_cast<long>(kTimebases[i]));
        timebaseItems[i] = timebases[i];
    }
    WCHAR gains[kGainCount][kValueLength];
    const WCHAR* gainItems[kGainCount];
    for (int i = 0; i < kGainCount; ++i) {
        swprintf(gains[i], kValueLength, L"x%ld", static_cast<long>(kGains[i]));
        gainItems[i] = gains[i];
    }
    const DWORD number = WS_BORDER | ES_AUTOHSCROLL;
    CreateControl(mainWindow, L"static", L"Time", 0, IDC_TIME_LABEL);
    g_timebaseList = CreateList(mainWindow, timebaseItems, kTimebaseCount, IDC_TIMEBASE);
    g_traceList = CreateList(mainWindow, kTraceChoices, 4, IDC_VTRACE);
    CreateControl(mainWindow, L"static", L"Gain", 0, IDC_GAIN_LABEL);
    g_gainList = CreateList(mainWindow, gainItems, kGainCount, IDC_GAIN);
    CreateControl(mainWindow, L"static", L"Centre", 0, IDC_CENTRE_LABEL);
    g_centreEdit = CreateControl(mainWindow, L"edit", L"0", number, IDC_CENTRE);
    CreateControl(mainWindow, L"static", L"Trig", 0, IDC_TRIG_LABEL);
    g_modeList = CreateList(mainWindow, kModeChoices, 4, IDC_TRIG_MODE);
    g_sourceList = CreateList(mainWindow, kSourceChoices, 6, IDC_TRIG_SOURCE);
    CreateControl(mainWindow, L"static", L"Level", 0, IDC_LEVEL_LABEL);
    g_levelEdit = CreateControl(mainWindow, L"edit", L"0", number, IDC_TRIG_LEVEL);
    CreateControl(mainWindow, L"button", L"Single", BS_PUSHBUTTON, IDC_SINGLE);
    g_freezeButton = CreateControl(mainWindow, L"button", L"Freeze", BS_AUTOCHECKBOX | BS_PUSHLIKE, IDC_FREEZE);
    AddTooltips(mainWindow);
    SendMessageW(g_traceList, CB_SETCURSEL, kAllTraces, 0);
    LoadScopeSettings();
    ShowSettings();
}

// A file that never had scope settings gets none while they are the defaults.
void SaveScopeSettings()
{
    const ScopeSettings& scope = Scope();
    WCHAR existing[kValueLength];
    if (IsDefaultScope(scope) && GetPrivateProfileSectionW(kSection, existing, kValueLength, SettingsFile()) == 0)
        return;
    auto write = [](const char* key, long value) {
        char text[kValueLength];
        std::snprintf(text, sizeof text, "%ld", value);
        WriteScopeKey(key, text);
    };
    write("timebase", scope.framesPerColumn);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        char key[16];
        std::snprintf(key, sizeof key, "gain%d", trace);
        write(key, scope.gain[trace]);
        std::snprintf(key, sizeof key, "centre%d", trace);
        write(key, scope.centre[trace]);
    }
    WriteScopeKey("trig_mode", TriggerModeKey(scope.mode));
    write("trig_source", scope.source);
    WriteScopeKey("trig_edge", scope.edge == TriggerEdge::Rise ? "rise" : "fall");
    write("trig_level", scope.level);
    write("trig_position", scope.triggerPosition);
}

void ToggleFreeze()
{
    SetFrozen(!IsFrozen());
    SendMessageW(g_freezeButton, BM_SETCHECK, IsFrozen() ? BST_CHECKED : BST_UNCHECKED, 0);
    CheckMenuItem(GetMenu(g_mainWindow), IDM_FREEZE, IsFrozen() ? MF_CHECKED : MF_UNCHECKED);
    UpdateStatusRow();
}

// Single re-arms a single capture, switching to it from any other mode.
void ArmSingle()
{
    if (Scope().mode != TriggerMode::Single) {
        Scope().mode = TriggerMode::Single;
        RestartSweep(g_sweep);
        ShowSettings();
    } else {
        RearmTrigger(g_sweep);
    }
    Redraw();
}

void ResetScope()
{
    Scope() = DefaultScope();
    SendMessageW(g_traceList, CB_SETCURSEL, kAllTraces, 0);
    RestartSweep(g_sweep);
    ShowSettings();
    Redraw();
}

void StepGain(int steps)
{
    const int index = IndexOf(kGains, kGainCount, Scope().gain[ShownTrace()]) + steps;
    SetGain(kGains[index < 0 ? 0 : (index >= kGainCount ? kGainCount - 1 : index)]);
}

// Ctrl+click: the trigger frame lands in this column from the next sweep on.
void SetTriggerPosition(int column)
{
    Scope().triggerPosition = column < 0 ? 0 : (column >= kSweepWidth ? kSweepWidth - 1 : column);
    RestartSweep(g_sweep);
    Redraw();
}

bool OnScopeCommand(WPARAM wParam)
{
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (id == IDC_SINGLE || id == IDM_SINGLE) {
        ArmSingle();
        return true;
    }
    if (id == IDC_FREEZE || id == IDM_FREEZE) {
        ToggleFreeze();
        return true;
    }
    if (id == IDM_SCOPE_RESET) {
        ResetScope();
        return true;
    }
    if ((id == IDC_CENTRE || id == IDC_TRIG_LEVEL) && code == EN_KILLFOCUS) {
        CommitEdit(id == IDC_CENTRE ? g_centreEdit : g_levelEdit);
        return true;
    }
    if (id == IDM_ENTER_FIELD && IsNumberBox(GetFocus())) {
        CommitEdit(GetFocus());
        return true;
    }
    if (code != CBN_SELCHANGE) return false;
    const int selection = static_cast<int>(SendMessageW(GetDlgItem(g_mainWindow, id),
                                                        CB_GETCURSEL, 0, 0));
    switch (id) {
    case IDC_TIMEBASE:
        Scope().framesPerColumn = kTimebases[selection];
        RestartSweep(g_sweep);
        break;
    case IDC_VTRACE: ShowSettings(); break;
    case IDC_GAIN: SetGain(kGains[selection]); break;
    case IDC_TRIG_MODE:
        Scope().mode = static_cast<TriggerMode>(selection);
        RestartSweep(g_sweep);
        break;
    case IDC_TRIG_SOURCE:
        Scope().source = selection / 2 + 1;
        Scope().edge = selection % 2 ? TriggerEdge::Fall : TriggerEdge::Rise;
        RearmTrigger(g_sweep);
        break;
    default: return false;
    }
    Redraw();
    return true;
}

bool IsNumberBox(HWND window)
{
    return window && (window == g_centreEdit || window == g_levelEdit);
}

// The position in the history, in front of the settings in force.
int FormatScopeField(char* text, int size)
{
    int length = FormatHistoryField(text, size);
    if (length && length + 3 < size) length += std::snprintf(text + length, size - length, " | ");
    return length + FormatScopeLine(Scope(), g_sweep.phase, LinkFramesPerSecond(), IsFrozen(), text + length,
                                    size - length);
}
