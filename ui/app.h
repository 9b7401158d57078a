// Windows, handles and entry points shared across the user interface. Each
// global is defined in the file that owns it.
#pragma once

#include <windows.h>

#include <string>

#include "history.h"
#include "measurements.h"
#include "ports.h"
#include "sweep_state.h"

constexpr int kMaxLoadString = 100;
constexpr UINT_PTR ID_STATUS_TIMER = 2;
constexpr UINT_PTR ID_WARNING_TIMER = 3;
constexpr UINT_PTR ID_DEVICES_TIMER = 4;
// Posted by the acquisition's threads.
constexpr UINT WM_RECORDING_FAILED = WM_APP + 1;
constexpr UINT WM_FRAMES_READY = WM_APP + 2;
constexpr UINT WM_LINK_CHANGED = WM_APP + 3;
// From the thread reading a recording: wParam says which read.
constexpr UINT WM_READING_PROGRESS = WM_APP + 4;
constexpr UINT WM_READING_DONE = WM_APP + 5;

// main_window.cpp
extern HINSTANCE g_instance;
extern HWND g_mainWindow;
extern WCHAR g_title[kMaxLoadString];
extern WCHAR g_className[kMaxLoadString];
ATOM RegisterMainClass(HINSTANCE instance);
bool CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int RunMessageLoop(HACCEL accelerators);

// trace_view.cpp
extern HWND g_traceView;
// The live sweep, with the history it fills.
extern SweepState g_sweep;
ATOM RegisterTraceClass(const WCHAR* className, WNDPROC procedure);
void CreateTraceView(HWND mainWindow);
LRESULT CALLBACK TraceWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void InvalidateSweep(const SweepState& state);
void SetFrozen(bool frozen);
bool IsFrozen();
void UpdateStatusRow();
const SweepPicture& ShownPicture();
// What Ctrl+C copies, drawn afresh into a bitmap the caller owns; null
// without a view.
HBITMAP RenderViewPicture();
void CopyViewPicture();
// Puts `data` on the clipboard, which then owns it; false when it did not
// take it, and the caller still owns it.
bool HandToClipboard(UINT format, HANDLE data);

// control_bar.cpp
extern HWND g_startButton;
extern HWND g_stopButton;
extern HWND g_portList;
extern HWND g_speedList;
extern ModemLines g_modemLines;
extern char g_csvSeparator;  // new recordings' ',' or ';'
void CreateControlBar(HWND mainWindow);
void RefreshPortList();
void NotePortChoice();
void FollowPortChoice(const WCHAR* name);
void LoadSettings();
void SaveSettings();
// The speed Start uses; a bad typed one is replaced by the last good one first.
DWORD ChosenSpeed();
void NoteSpeedChoice(WORD notification);
bool MeasurePortItem(MEASUREITEMSTRUCT* item);
bool DrawPortItem(const DRAWITEMSTRUCT* item);
// A key at its default is written only where the file has it already, so
// that a file keeps the keys and sections it had.
void SaveSettingUnlessDefault(const WCHAR* section, const WCHAR* key, const WCHAR* value, bool isDefault);

// scope_bar.cpp
// A child of the main window at no place yet: the layout places it.
HWND CreateControl(HWND parent, const WCHAR* className, const WCHAR* text, DWORD style, int id);
HWND CreateList(HWND parent, const WCHAR* const* items, int count, int id);
void CreateScopeBar(HWND mainWindow);
void SaveScopeSettings();
bool OnScopeCommand(WPARAM wParam);
bool IsNumberBox(HWND window);
void ToggleFreeze();
void StepGain(int steps);
void SetTriggerPosition(int column);
int FormatScopeField(char* text, int size);

// send_row.cpp: the line, its history and settings, sent to the port.
void CreateSendRow(HWND mainWindow);
void SaveSendSettings();
bool OnSendCommand(WPARAM wParam);
bool IsSendField(HWND window);
// Sending needs a run; the row is greyed without one.
void EnableSendRow(bool running);

// history_view.cpp
void AttachHistory();
// The history behind the view; null while a recording is read into it.
const History* ShownHistory();
void OnFreezeChanged();
const SweepPicture* PagedPicture();
constexpr int kTenthsAScreen = 10;
void MoveHistoryView(int64_t screenTenths);
void JumpHistoryView(bool newest);
void TrackReadout(HWND view, int x);
void ClearReadout();
bool FormatReadout(const SweepPicture& picture, char (*parts)[kReadoutPart]);
int FormatHistoryField(char* text, int size);
void DrawHistoryThumb(HDC dc, int top, int bottom, int width);

// file_read.cpp: a recording read into the window's history on a thread.
bool IsReadingFile();
// The common Save dialog, with the extension a name typed without one gets,
// or with none the Open dialog; `flags` are OFN_ flags. `path` (MAX_PATH
// characters) holds the name offered, then the one chosen.
bool AskFileName(HWND owner, const WCHAR* filter, const WCHAR* saveExtension, DWORD flags, WCHAR* path);
int FormatReadingField(WCHAR* text, int size);
void EndReading();
void LeaveRecording();
void OpenRecording(HWND window, const WCHAR* path);
void OpenRecordingArgument(const WCHAR* commandLine);
void OnReadingProgress(WPARAM readNumber, int percent);
void OnReadingDone(HWND window, WPARAM readNumber);
// measure_view.cpp
void LoadMeasureSetting();
void SaveMeasureSetting();
bool MeasurementsShown();
void ToggleMeasurements();
// The parts of the measurement line, and of the cursors' readout; false
// when there is none.
bool FormatFigureLine(char (*parts)[kFigurePart]);
bool FormatCursorReadout(char (*parts)[kFigurePart]);
void CopyMeasurements();
// Cursor 0 is A, 1 is B; a column of the plot, or -1 when not on screen.
int CursorColumn(int cursor);
// Shift+click places a cursor, and it follows the mouse until released.
void PressCursor(int cursor, int column);
void DragCursor(int column);
void ReleaseCursor();
void ClearCursors();
// On freezing: each cursor keeps the frame under it in `picture`.
void PinCursors(const SweepPicture& picture);
// A new recording: the cursors and figures of the last go.
void OnHistoryReplaced();

// picture_file.cpp
void SaveViewPicture(HWND window);

// layout.cpp: what the window shows follows its DPI. The view's client in
// device pixels: the plot at `scale` device pixels a column and a row, then
// the status rows, each `rowHeight` high in the status font.
constexpr int kLampCount = 4;
constexpr const WCHAR* kLampNames[kLampCount] = {L"CTS", L"DSR", L"DCD", L"RI"};
constexpr WCHAR kUnknownLamp[] = L"—";
struct ViewLayout {
    int scale = 1;
    int plotWidth = kSweepWidth, plotHeight = kGridRows;
    int statusTop = kGridRows, rowHeight = 0;
    int countX = 0, valueX[kTraceCount + 1] = {}, valuesRight = 0;
    int lampX[kLampCount] = {}, lampWidth = 0;  // the modem lines, right on the values' row
    int linkX = 0, linkTop = 0, recordRight = 0;
    int scopeTop = 0, scopeBottom = 0, rowRight = 0;
    // The measurement line's groups, in slots of `figureWidth`; none while off.
    int measureTop = 0, measureBottom = 0, figureWidth = 0, figuresPerRow = kTraceCount;
    int thumbTop = 0, thumbBottom = 0;  // where the view stands in the history, while frozen
    int width = 0, height = 0;
};
extern ViewLayout g_viewLayout;
extern HFONT g_statusFont;
// Fonts for the window's DPI, sent to every control, then LayOut.
void InitLayout(HWND mainWindow);
// Places the bars, the view and the window; `suggested` (WM_DPICHANGED's
// rectangle) picks the place and the monitor, else the window's own.
void LayOut(HWND mainWindow, const RECT* suggested);
LRESULT OnDpiChanged(HWND mainWindow, WPARAM wParam, LPARAM lParam);
int TextWidth(HDC dc, const WCHAR* text);
void ReleaseLayout();

// info_dialogs.cpp
INT_PTR CALLBACK InfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
