#include "recording.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "csv_rows.h"
#include "port_io.h"
#include "save_folders.h"

namespace {

// Rows past this that the disk has not taken stop the recording: it cannot
// keep up, and the memory would grow without end.
constexpr size_t kMostBufferedBytes = 64u << 20;
constexpr size_t kHandOverBytes = 1u << 20;
// Room enough that adding rows never waits on the heap.
constexpr size_t kReservedBytes = 2 * kHandOverBytes;
// The link wakes for a hand-over due from 200 ms on, so none is later than 250 ms.
constexpr DWORD kHandOverDueMs = kRecordingFlushMs - 50;
constexpr int kNameLength = 64;
constexpr int kPathLength = MAX_PATH + kNameLength;

// Under g_lock: the window starts and stops, the link adds rows, the writer
// takes them. The file itself is the writer's once it runs. The window reads
// the two atomics without the lock, so that a window's thread held anywhere
// never holds the link.
CRITICAL_SECTION g_lock;
bool g_lockReady = [] { InitializeCriticalSection(&g_lock); return true; }();
std::atomic<bool> g_recording;
bool g_stopping;
bool g_handOverAsked;
std::vector<char> g_rows;
std::atomic<uint64_t> g_framesRecorded;
char g_separator;
uint64_t g_startUs;
DWORD g_startMs;
DWORD g_handedOverMs;
HANDLE g_wakeWriter;
void (*g_failed)(DWORD);

// The window's thread only.
HANDLE g_writer;
WCHAR g_fileName[kPathLength];  // with its folder, unless the working directory

struct Lock {
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
};

// Never overwrites or appends: a taken name gets the next suffix.
HANDLE CreateRecordingFile(DWORD* error)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WCHAR base[kNameLength];
    swprintf(base, kNameLength, L"tarquell-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    for (int suffix = 1;; ++suffix) {
        if (suffix == 1)
            swprintf(g_fileName, kPathLength, L"%ls%ls.csv", RecordingsFolder(), base);
        else
            swprintf(g_fileName, kPathLength, L"%ls%ls-%d.csv", RecordingsFolder(), base, suffix);
        HANDLE file = CreateFileW(g_fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        *error = GetLastError();
        if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
    }
}

// Takes the rows out under the lock, so the link never waits on the disk.
DWORD WINAPI WriterMain(void* file)
{
    std::vector<char> rows;
    rows.reserve(kReservedBytes);
    for (bool stopping = false; !stopping;) {
        WaitForSingleObject(g_wakeWriter, INFINITE);
        {
            Lock lock;
            rows.swap(g_rows);
            g_rows.clear();
            stopping = g_stopping;
        }
        const bool written = rows.empty() || PortWriteFile(file, rows.data(), static_cast<DWORD>(rows.size()));
        const DWORD error = GetLastError();
        rows.clear();
        Lock lock;
        g_handOverAsked = false;
        if (written) continue;
        g_recording = false;
        g_rows.clear();
        stopping = true;
        if (g_failed) g_failed(error);
    }
    CloseHandle(file);
    return 0;
}

// Under the lock.
void AskForHandOver()
{
    g_handedOverMs = PortClockMs();
    g_handOverAsked = true;
    SetEvent(g_wakeWriter);
}

}  // namespace

void SetRecordingFailureHandler(void (*failed)(DWORD error))
{
    Lock lock;
    g_failed = failed;
}

bool StartRecording(char separator, DWORD* error)
{
    if (IsRecording()) return true;
    StopRecording();
    HANDLE file = CreateRecordingFile(error);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (!PortWriteFile(file, CsvHeader(separator), sizeof kCsvHeader - 1)) {
        *error = GetLastError();
        CloseHandle(file);
        return false;
    }
    Lock lock;
    g_rows.clear();
    g_rows.reserve(kReservedBytes);
    g_framesRecorded = 0;
    g_separator = separator;
    g_startUs = PortPreciseMicroseconds();
    g_startMs = g_handedOverMs = PortClockMs();
    g_recording = true;
    g_stopping = g_handOverAsked = false;
    g_wakeWriter = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_writer = CreateThread(nullptr, 0, WriterMain, file, 0, nullptr);
    return true;
}

// A writer held by a stalled disk is left to finish on its own.
void StopRecording()
{
    if (!g_writer) return;
    {
        Lock lock;
        g_recording = false;
        g_stopping = true;
        SetEvent(g_wakeWriter);
    }
    WaitForSingleObject(g_writer, kRecordingFlushMs * 4);
    CloseHandle(g_writer);
    g_writer = nullptr;
}

bool IsRecording()
{
    return g_recording;
}

bool IsRecordingHandedOver()
{
    Lock lock;
    return !g_handOverAsked;
}

void RecordFrames(const Frame* frames, int count)
{
    Lock lock;
    if (!g_recording) return;
    const uint64_t timeMs = (PortPreciseMicroseconds() - g_startUs) / 1000;
    for (int i = 0; i < count; ++i) {
        char row[kCsvRowMax];
        const int length = FormatCsvRow(row, g_framesRecorded.fetch_add(1), timeMs, frames[i], g_separator);
        g_rows.insert(g_rows.end(), row, row + length);
    }
    if (g_rows.size() >= kHandOverBytes) AskForHandOver();
    if (g_rows.size() < kMostBufferedBytes) return;
    g_recording = false;
    g_rows.clear();
    if (g_failed) g_failed(ERROR_NOT_ENOUGH_MEMORY);
}

void HandOverRecording()
{
    Lock lock;
    if (g_recording && !g_rows.empty()) AskForHandOver();
}

void HandOverRecordingIfDue()
{
    Lock lock;
    if (g_recording && !g_rows.empty() && PortClockMs() - g_handedOverMs >= kHandOverDueMs) AskForHandOver();
}

DWORD RecordingHandOverDueInMs()
{
    Lock lock;
    if (!g_recording || g_rows.empty()) return INFINITE;
    const DWORD since = PortClockMs() - g_handedOverMs;
    return since >= kHandOverDueMs ? 0 : kHandOverDueMs - since;
}

int FormatRecordingField(WCHAR* text, int size)
{
    if (!g_recording) return 0;
    const uint64_t frames = g_framesRecorded;
    const DWORD startMs = g_startMs;
    // A long folder gives way to the name at its end.
    const size_t length = wcslen(g_fileName);
    const WCHAR* shown = length < static_cast<size_t>(size) ? g_fileName : g_fileName + length - (size - 1);
    if (PortClockMs() - startMs < kRecordingNameShowMs) return swprintf(text, size, L"%ls", shown);
    return swprintf(text, size, L"REC %llu frames", static_cast<unsigned long long>(frames));
}
