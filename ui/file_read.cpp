// A recording read back into the window's history: the open dialog, the
// command line, the box for a file that cannot be opened, and the thread
// that reads it.
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "app.h"

#include <commdlg.h>

#include "history.h"
#include "recording_reader.h"
#include "system_text.h"

namespace {

constexpr DWORD kPieceBytes = 1 << 18;

// One read of a file. The window creates it and hands it to the reader
// thread. Until that thread ends, `reader` and the history are the thread's
// alone (the window shows no history meanwhile) and only `stop` crosses, an
// atomic the window sets; progress and the end come as posted messages. The
// window joins the thread before it reads anything else here or frees it:
// the thread's end is the fence.
struct FileRead {
    HANDLE file;
    History* history;  // the window's, which a run fills otherwise: a Start ends the read first
    RecordingReader reader;
    std::atomic<bool> stop;
    uintptr_t number;  // which read the posted messages are about
    HANDLE thread;
};

// Window thread only.
FileRead* g_read;
uintptr_t g_readNumber;
WCHAR g_readName[MAX_PATH];
int g_readPercent;
bool g_fileShown;
int64_t g_leftOut;

// A piece of the file at a time, progress to the window.
DWORD WINAPI ReadRecordingFile(void* parameter)
{
    FileRead& read = *static_cast<FileRead*>(parameter);
    static char piece[kPieceBytes];
    LARGE_INTEGER size = {};
    GetFileSizeEx(read.file, &size);
    StartReadingRecording(read.reader, *read.history);
    int64_t done = 0;
    int shown = -1;
    DWORD got = 0;
    while (!read.stop && ReadFile(read.file, piece, kPieceBytes, &got, nullptr) && got &&
           ReadRecordingPiece(read.reader, *read.history, piece, got)) {
        done += got;
        const int percent = static_cast<int>(done * 100 / (size.QuadPart ? size.QuadPart : 1));
        if (percent != shown) PostMessageW(g_mainWindow, WM_READING_PROGRESS, read.number, shown = percent);
    }
    FinishReadingRecording(read.reader, *read.history);
    PostMessageW(g_mainWindow, WM_READING_DONE, read.number, 0);
    return 0;
}

// `finished`, if given, gets what the reader found.
void JoinReader(RecordingReader* finished)
{
    WaitForSingleObject(g_read->thread, INFINITE);
    if (finished) *finished = g_read->reader;
    CloseHandle(g_read->thread);
    CloseHandle(g_read->file);
    delete g_read;
    g_read = nullptr;
}

void ReportReadProblem(HWND window, const RecordingReader& reader)
{
    WCHAR text[512];
    if (reader.problem == RecordingProblem::NoHeader)
        swprintf(text, 512, L"«%ls» — не запись: первая строка не frame,time_ms,y1,y2,y3.", g_readName);
    else
        swprintf(text, 512, L"«%ls», строка %lld — не строка frame,time_ms,y1,y2,y3:\n%hs\n\nПрочитанное до неё открыто.",
                 g_readName, static_cast<long long>(reader.lineNumber), reader.badLine);
    MessageBoxW(window, text, L"Внимание!!!", MB_OK | MB_ICONWARNING);
}

void ShowFileTitle()
{
    WCHAR title[MAX_PATH + kMaxLoadString];
    swprintf(title, MAX_PATH + kMaxLoadString, L"%ls - %ls", g_readName, g_title);
    SetWindowTextW(g_mainWindow, title);
}

}  // namespace

bool IsReadingFile()
{
    return g_read != nullptr;
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

// Progress while a recording is read; afterwards, what did not fit.
int FormatReadingField(WCHAR* text, int size)
{
    if (g_read) return swprintf(text, size, L"reading %ls: %d %%", g_readName, g_readPercent);
    if (g_fileShown && g_leftOut)
        return swprintf(text, size, L"%lld frames past the history left out", static_cast<long long>(g_leftOut));
    return 0;
}

// Ends a read under way; what it read is dropped.
void EndReading()
{
    if (!g_read) return;
    g_read->stop = true;
    JoinReader(nullptr);
    ClearHistory(*g_sweep.history);
    UpdateStatusRow();
}

// Start goes back to live: the file's frames leave the history.
void LeaveRecording()
{
    EndReading();
    if (!g_fileShown) return;
    g_fileShown = false;
    g_leftOut = 0;
    ClearHistory(*g_sweep.history);
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
    g_readPercent = 0;
    g_fileShown = false;
    g_read = new FileRead();
    g_read->file = file;
    g_read->history = g_sweep.history;
    g_read->number = ++g_readNumber;
    g_read->thread = CreateThread(nullptr, 0, ReadRecordingFile, g_read, 0, nullptr);
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
    if (!g_read || readNumber != g_readNumber) return;
    RecordingReader reader;
    JoinReader(&reader);
    if (reader.problem != RecordingProblem::None) ReportReadProblem(window, reader);
    if (reader.problem == RecordingProblem::NoHeader) {
        ClearHistory(*g_sweep.history);
        UpdateStatusRow();
        return;
    }
    g_fileShown = true;
    g_leftOut = reader.leftOut;
    ShowFileTitle();
    if (!IsFrozen()) ToggleFreeze();
    JumpHistoryView(false);
}
