// The history behind the sweep as the view shows it: screens paged back
// through while frozen, the values under the mouse, and recordings read back
// into it.
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "acquisition.h"
#include "app.h"

#include <commdlg.h>

#include "history.h"
#include "recording_reader.h"
#include "system_text.h"
#include "resource.h"

namespace {

constexpr COLORREF kTrackColour = RGB(70, 70, 70);
constexpr COLORREF kThumbColour = RGB(200, 200, 200);
constexpr DWORD kPieceBytes = 1 << 18;

// The window thread's, except while a recording is being read: then the
// reader thread's alone, until it posts WM_READING_DONE.
History g_history;
RecordingReader g_reader;

// Window thread only.
HANDLE g_readerThread;
HANDLE g_readFile = INVALID_HANDLE_VALUE;
WCHAR g_readName[MAX_PATH];
int g_readPercent;
bool g_fileShown;
int64_t g_leftOut;
bool g_paged;
int64_t g_viewEnd;
SweepPicture g_pagePicture;
int64_t g_builtEnd = -1;
int32_t g_builtPerColumn;
int g_readoutX = -1;
uintptr_t g_readNumber;  // which read a message of the reader thread is about

// Both threads: set by the window thread to end a read early.
std::atomic<bool> g_stopReading;

bool Reading()
{
    return g_readerThread != nullptr;
}

int32_t PerColumn()
{
    return g_sweep.scope.framesPerColumn;
}

void ShowPage(int64_t end)
{
    g_paged = true;
    g_viewEnd = end;
    if (g_traceView) InvalidateRect(g_traceView, nullptr, TRUE);
    UpdateStatusRow();
}

// The reader thread: a piece of the file at a time, progress to the window.
DWORD WINAPI ReadRecordingFile(void* readNumber)
{
    const WPARAM number = reinterpret_cast<uintptr_t>(readNumber);
    static char piece[kPieceBytes];
    LARGE_INTEGER size = {};
    GetFileSizeEx(g_readFile, &size);
    StartReadingRecording(g_reader, g_history);
    int64_t done = 0;
    int shown = -1;
    DWORD got = 0;
    while (!g_stopReading && ReadFile(g_readFile, piece, kPieceBytes, &got, nullptr) && got &&
           ReadRecordingPiece(g_reader, g_history, piece, got)) {
        done += got;
        const int percent = static_cast<int>(done * 100 / (size.QuadPart ? size.QuadPart : 1));
        if (percent != shown) PostMessageW(g_mainWindow, WM_READING_PROGRESS, number, shown = percent);
    }
    FinishReadingRecording(g_reader, g_history);
    PostMessageW(g_mainWindow, WM_READING_DONE, number, 0);
    return 0;
}

void JoinReader()
{
    WaitForSingleObject(g_readerThread, INFINITE);
    CloseHandle(g_readerThread);
    g_readerThread = nullptr;
    CloseHandle(g_readFile);
    g_readFile = INVALID_HANDLE_VALUE;
}

void ReportReadProblem(HWND window)
{
    WCHAR text[512];
    if (g_reader.problem == RecordingProblem::NoHeader)
        swprintf(text, 512, L"«%ls» — не запись: первая строка не frame,time_ms,y1,y2,y3.", g_readName);
    else
        swprintf(text, 512, L"«%ls», строка %lld — не строка frame,time_ms,y1,y2,y3:\n%hs\n\nПрочитанное до неё открыто.",
                 g_readName, static_cast<long long>(g_reader.lineNumber), g_reader.badLine);
    MessageBoxW(window, text, L"Внимание!!!", MB_OK | MB_ICONWARNING);
}

void ShowFileTitle()
{
    WCHAR title[MAX_PATH + kMaxLoadString];
    swprintf(title, MAX_PATH + kMaxLoadString, L"%ls - %ls", g_readName, g_title);
    SetWindowTextW(g_mainWindow, title);
}

}  // namespace

void AttachHistory()
{
    g_sweep.history = &g_history;
}

const History* ShownHistory()
{
    return Reading() ? nullptr : &g_history;
}

// The dialogs' library brings the shell's with it, megabytes of working
// set: it is loaded only once a dialog is wanted.
bool AskFileName(HWND owner, const WCHAR* filter, const WCHAR* saveExtension, DWORD flags, WCHAR* path)
{
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.Flags = flags;
    dialog.lpstrDefExt = saveExtension;
    using FileDialog = BOOL(WINAPI*)(OPENFILENAMEW*);
    HMODULE library = LoadLibraryW(L"comdlg32.dll");
    const auto ask = reinterpret_cast<FileDialog>(reinterpret_cast<void*>(
        library ? GetProcAddress(library, saveExtension ? "GetSaveFileNameW" : "GetOpenFileNameW") : nullptr));
    return ask && ask(&dialog);
}

void OnFreezeChanged()
{
    g_paged = false;
    g_builtEnd = -1;
}

const SweepPicture* PagedPicture()
{
    if (!g_paged || Reading()) return nullptr;
    if (g_builtEnd != g_viewEnd || g_builtPerColumn != PerColumn()) {
        g_viewEnd = MoveHistoryEnd(g_history, g_viewEnd, 0, PerColumn());
        BuildHistoryScreen(g_history, g_viewEnd, PerColumn(), g_pagePicture);
        g_builtEnd = g_viewEnd;
        g_builtPerColumn = PerColumn();
    }
    return &g_pagePicture;
}

// A move from the frozen sweep starts at the newest frames.
void MoveHistoryView(int64_t screenTenths)
{
    if (!IsFrozen() || Reading()) return;
    const int64_t from = g_paged ? g_viewEnd : g_history.total;
    ShowPage(MoveHistoryEnd(g_history, from, screenTenths * kSweepWidth * PerColumn() / kTenthsAScreen, PerColumn()));
}

void JumpHistoryView(bool newest)
{
    if (IsFrozen() && !Reading()) ShowPage(MoveHistoryEnd(g_history, newest ? g_history.total : 0, 0, PerColumn()));
}

void TrackReadout(HWND view, int x)
{
    if (g_readoutX < 0) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, view, 0};
        TrackMouseEvent(&track);
    }
    g_readoutX = x;
    UpdateStatusRow();
}

void ClearReadout()
{
    g_readoutX = -1;
    UpdateStatusRow();
}

bool FormatReadout(const SweepPicture& picture, char (*parts)[kReadoutPart])
{
    if (g_readoutX < 0 || g_readoutX > picture.cursor || Reading() || !picture.column[g_readoutX].frames) return false;
    FormatColumnReadout(g_history, picture.column[g_readoutX], parts);
    return true;
}

int FormatHistoryField(char* text, int size)
{
    if (!g_paged || Reading() || !IsFrozen()) return 0;
    return FormatHistoryPosition(g_history, g_viewEnd, g_history.total - 1, text, size);
}

// Progress while a recording is read; afterwards, what did not fit.
int FormatReadingField(WCHAR* text, int size)
{
    if (Reading()) return swprintf(text, size, L"reading %ls: %d %%", g_readName, g_readPercent);
    if (g_fileShown && g_leftOut)
        return swprintf(text, size, L"%lld frames past the history left out", static_cast<long long>(g_leftOut));
    return 0;
}

// The track is the history; the thumb, the screen the view shows.
void DrawHistoryThumb(HDC dc, int top, int bottom, int width)
{
    if (!IsFrozen() || Reading() || g_history.total == 0) return;
    const int64_t oldest = OldestHistoryFrame(g_history), span = g_history.total - oldest;
    const int64_t end = g_paged ? g_viewEnd : g_history.total;
    const int64_t start = HistoryScreenStart(g_history, end, PerColumn());
    RECT track = {0, top, width, bottom};
    HBRUSH trackBrush = CreateSolidBrush(kTrackColour);
    FillRect(dc, &track, trackBrush);
    DeleteObject(trackBrush);
    RECT thumb = {static_cast<int>((start - oldest) * width / span), top, static_cast<int>((end - oldest) * width / span),
                  bottom};
    if (thumb.right <= thumb.left) thumb.right = thumb.left + 1;
    HBRUSH thumbBrush = CreateSolidBrush(kThumbColour);
    FillRect(dc, &thumb, thumbBrush);
    DeleteObject(thumbBrush);
}

// Ends a read under way; what it read is dropped.
void EndReading()
{
    if (!Reading()) return;
    g_stopReading = true;
    JoinReader();
    ClearHistory(g_history);
    UpdateStatusRow();
}

// Start goes back to live: the file's frames leave the history.
void LeaveRecording()
{
    EndReading();
    if (!g_fileShown) return;
    g_fileShown = false;
    g_leftOut = 0;
    ClearHistory(g_history);
    if (IsFrozen()) ToggleFreeze();
    SetWindowTextW(g_mainWindow, g_title);
}

// Null asks with the open dialog.
void OpenRecording(HWND window, const WCHAR* path)
{
    WCHAR chosen[MAX_PATH] = L"";
    if (!path) {
        if (!AskFileName(window, L"Записи (tarquell-*.csv)\0tarquell-*.csv\0Все файлы\0*.*\0", nullptr,
                         OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY, chosen))
            return;
        path = chosen;
    }
    EndReading();
    OnHistoryReplaced();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const std::wstring text = L"Не получилось открыть файл.\n«" + std::wstring(path) + L"»: " + SystemMessage(error);
        MessageBoxW(window, text.c_str(), L"Внимание!!!", MB_OK);
        return;
    }
    const WCHAR* name = wcsrchr(path, L'\\') ? wcsrchr(path, L'\\') + 1 : path;
    swprintf(g_readName, MAX_PATH, L"%ls", name);
    g_readFile = file;
    g_readPercent = 0;
    g_fileShown = false;
    g_stopReading = false;
    g_readerThread = CreateThread(nullptr, 0, ReadRecordingFile, reinterpret_cast<void*>(++g_readNumber), 0, nullptr);
    UpdateStatusRow();
}

// The one command-line argument, quoted or not.
void OpenRecordingArgument(const WCHAR* commandLine)
{
    WCHAR path[MAX_PATH];
    while (*commandLine == L' ') ++commandLine;
    if (!*commandLine) return;
    swprintf(path, MAX_PATH, L"%ls", commandLine + (*commandLine == L'"'));
    WCHAR* end = path + wcslen(path);
    while (end > path && (end[-1] == L' ' || end[-1] == L'"')) *--end = L'\0';
    OpenRecording(g_mainWindow, path);
}

void OnReadingProgress(WPARAM readNumber, int percent)
{
    if (readNumber != g_readNumber) return;
    g_readPercent = percent;
    UpdateStatusRow();
}

// The file shows frozen, from its first screen.
void OnReadingDone(HWND window, WPARAM readNumber)
{
    if (!Reading() || readNumber != g_readNumber) return;
    JoinReader();
    if (g_reader.problem != RecordingProblem::None) ReportReadProblem(window);
    if (g_reader.problem == RecordingProblem::NoHeader) {
        ClearHistory(g_history);
        UpdateStatusRow();
        return;
    }
    g_fileShown = true;
    g_leftOut = g_reader.leftOut;
    ShowFileTitle();
    if (!IsFrozen()) ToggleFreeze();
    JumpHistoryView(false);
}
