// Windows, handles and entry points shared across the user interface. Each
// global is defined in the file that owns it.
#pragma once

#include <windows.h>

#include <string>

#include "history.h"
#include "ports.h"
#include "sweep_state.h"

constexpr int kMaxLoadString = 100;
constexpr UINT_PTR ID_STATUS_TIMER = 2;
constexpr UINT_PTR ID_WARNING_TIMER = 3;
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
// The system's own words for an error, without the line end it comes with.
std::wstring SystemMessage(DWORD error);

// trace_view.cpp
extern HWND g_traceView;
ATOM RegisterTraceClass(const WCHAR* className, WNDPROC procedure);
void CreateTraceView(HWND mainWindow);
LRESULT CALLBACK TraceWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void InvalidateSweep(const SweepState& state);
void SetFrozen(bool frozen);
bool IsFrozen();
void UpdateStatusRow();
void CopyViewPicture();

// control_bar.cpp
extern HWND g_startButton;
extern HWND g_stopButton;
extern HWND g_portList;
extern HWND g_speedList;
extern ModemLines g_modemLines;
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

// scope_bar.cpp
void CreateScopeBar(HWND mainWindow);
void SaveScopeSettings();
bool OnScopeCommand(WPARAM wParam);
bool RouteScopeInput(MSG& message);
void ToggleFreeze();
void StepGain(int wheelDelta);
void SetTriggerPosition(int column);
int FormatScopeField(char* text, int size);

// history_view.cpp
void AttachHistory();
void OnFreezeChanged();
const SweepPicture* PagedPicture();
void MoveHistoryView(int64_t screenTenths);
void JumpHistoryView(bool newest);
void ScrollHistory(int wheelDelta);
bool RouteHistoryInput(const MSG& message);
void TrackReadout(HWND view, int x);
void ClearReadout();
bool FormatReadout(const SweepPicture& picture, char (*parts)[kReadoutPart]);
int FormatHistoryField(char* text, int size);
int FormatReadingField(WCHAR* text, int size);
void DrawHistoryThumb(HDC dc, int top, int bottom, int width);
void EndReading();
void LeaveRecording();
void OpenRecording(HWND window, const WCHAR* path);
void OpenRecordingArgument(const WCHAR* commandLine);
void OnReadingProgress(WPARAM readNumber, int percent);
void OnReadingDone(HWND window, WPARAM readNumber);
// layout.cpp: what the window shows follows its DPI. The view's client in
// device pixels: the plot at `scale` device pixels a column and a row, then
// the status rows, each `rowHeight` high in the status font.
struct ViewLayout {
    int scale = 1;
    int plotWidth = kSweepWidth, plotHeight = kGridRows;
    int statusTop = kGridRows, rowHeight = 0;
    int countX = 0, valueX[kTraceCount + 1] = {}, valuesRight = 0;
    int linkX = 0, linkTop = 0, recordRight = 0;
    int scopeTop = 0, scopeBottom = 0;
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
void ReleaseLayout();

// info_dialogs.cpp
INT_PTR CALLBACK InfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
