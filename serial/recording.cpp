#include "recording.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <deque>
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

// One StartRecording's file. The window and the recording's writer each
// hold one of `users`; the last to let go frees it, so a writer held in a
// stalled disk past Stop finishes its own file and never meets the next.
// The link reaches a recording only through `g_current`, under `g_lock`.
struct Recording {
    // Set before the writer starts, read-only after.
    WCHAR fileName[kRecordingPathLength];  // with its folder, unless the working directory
    HANDLE file;  // the writer's
    HANDLE wake;  // auto-reset
    uint64_t startUs;
    DWORD startMs;
    char separator;
    // Under g_lock.
    std::vector<char> rows;
    bool stopping;
    DWORD handedOverMs;
    // Read by the window without the lock, so that a window's thread held
    // anywhere never holds the link.
    std::atomic<bool> going;
    std::atomic<uint64_t> framesRecorded;
    std::atomic<int> users;
};

// Under g_lock: which recording the link's rows go to, and for which run;
// the failures waiting for the window.
CRITICAL_SECTION g_lock;
bool g_lockReady = [] { InitializeCriticalSection(&g_lock); return true; }();
Recording* g_current;
uint32_t g_recordedRun;
std::deque<RecordingFailure> g_failures;
void (*g_failed)();

// The window's thread only: the recording it started, while it holds it.
Recording* g_started;
HANDLE g_writer;

struct Lock {
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
};

void LeaveRecording(Recording* recording)
{
    if (--recording->users > 0) return;
    CloseHandle(recording->wake);
    delete recording;
}

// Never overwrites or appends: a taken name gets the next suffix.
HANDLE CreateRecordingFile(WCHAR* fileName, DWORD* error)
{
    WCHAR base[kNameLength];
    FormatSaveName(base, kNameLength);
    for (int suffix = 1;; ++suffix) {
        if (suffix == 1)
            swprintf(fileName, kRecordingPathLength, L"%ls%ls.csv", RecordingsFolder(), base);
        else
            swprintf(fileName, kRecordingPathLength, L"%ls%ls-%d.csv", RecordingsFolder(), base, suffix);
        HANDLE file = CreateFileW(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        *error = GetLastError();
        if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
    }
}

// Under the lock. The recording is current no more, and the window hears of
// it naming its file; a failure of a recording already stopped stops nothing.
void Fail(Recording& recording, DWORD error)
{
    RecordingFailure failure = {error, {}, g_current == &recording};
    swprintf(failure.fileName, kRecordingPathLength, L"%ls", recording.fileName);
    if (failure.wasCurrent) g_current = nullptr;
    recording.going = false;
    recording.rows.clear();
    g_failures.push_back(failure);
    if (g_failed) g_failed();
}

// Takes the rows out under the lock, so the link never waits on the disk.
DWORD WINAPI WriterMain(void* parameter)
{
    Recording& recording = *static_cast<Recording*>(parameter);
    std::vector<char> rows;
    rows.reserve(kReservedBytes);
    for (bool stopping = false; !stopping;) {
        WaitForSingleObject(recording.wake, INFINITE);
        {
            Lock lock;
            rows.swap(recording.rows);
            recording.rows.clear();
            stopping = recording.stopping;
        }
        const bool written =
            rows.empty() || PortWriteFile(recording.file, rows.data(), static_cast<DWORD>(rows.size()));
        const DWORD error = GetLastError();
        rows.clear();
        if (written) continue;
        Lock lock;
        Fail(recording, error);
        stopping = true;
    }
    CloseHandle(recording.file);
    LeaveRecording(&recording);
    return 0;
}

// Under the lock.
void AskForHandOver(Recording& recording)
{
    recording.handedOverMs = PortClockMs();
    SetEvent(recording.wake);
}

// Under the lock: the recording the run's rows go to, if any.
Recording* RecordingFor(uint32_t run)
{
    return run && run == g_recordedRun ? g_current : nullptr;
}

}  // namespace

void SetRecordingFailureHandler(void (*failed)())
{
    Lock lock;
    g_failed = failed;
}

bool TakeRecordingFailure(RecordingFailure* failure)
{
    Lock lock;
    if (g_failures.empty()) return false;
    *failure = g_failures.front();
    g_failures.pop_front();
    return true;
}

bool StartRecording(char separator, DWORD* error)
{
    if (IsRecording()) return true;
    StopRecording();
    Recording* recording = new Recording();
    recording->file = CreateRecordingFile(recording->fileName, error);
    if (recording->file == INVALID_HANDLE_VALUE) {
        delete recording;
        return false;
    }
    if (!PortWriteFile(recording->file, CsvHeader(separator), sizeof kCsvHeader - 1)) {
        *error = GetLastError();
        CloseHandle(recording->file);
        delete recording;
        return false;
    }
    recording->rows.reserve(kReservedBytes);
    recording->separator = separator;
    recording->startUs = PortPreciseMicroseconds();
    recording->startMs = recording->handedOverMs = PortClockMs();
    recording->going = true;
    recording->users = 2;
    recording->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_started = recording;
    g_writer = CreateThread(nullptr, 0, WriterMain, recording, 0, nullptr);
    Lock lock;
    g_current = recording;
    return true;
}

// A writer held by a stalled disk is left to finish its file on its own.
void StopRecording()
{
    if (!g_started) return;
    {
        Lock lock;
        if (g_current == g_started) g_current = nullptr;
        g_started->going = false;
        g_started->stopping = true;
        SetEvent(g_started->wake);
    }
    WaitForSingleObject(g_writer, kRecordingFlushMs * 4);
    CloseHandle(g_writer);
    g_writer = nullptr;
    LeaveRecording(g_started);
    g_started = nullptr;
}

bool IsRecording()
{
    return g_started && g_started->going;
}

void SetRecordedRun(uint32_t run)
{
    Lock lock;
    if (g_current && !g_current->rows.empty()) AskForHandOver(*g_current);
    g_recordedRun = run;
}

void RecordFrames(uint32_t run, const Frame* frames, int count)
{
    Lock lock;
    Recording* recording = RecordingFor(run);
    if (!recording) return;
    const uint64_t timeMs = (PortPreciseMicroseconds() - recording->startUs) / 1000;
    for (int i = 0; i < count; ++i) {
        char row[kCsvRowMax];
        const int length =
            FormatCsvRow(row, recording->framesRecorded.fetch_add(1), timeMs, frames[i], recording->separator);
        recording->rows.insert(recording->rows.end(), row, row + length);
    }
    if (recording->rows.size() >= kHandOverBytes) AskForHandOver(*recording);
    if (recording->rows.size() >= kMostBufferedBytes) Fail(*recording, ERROR_NOT_ENOUGH_MEMORY);
}

void HandOverRecording(uint32_t run)
{
    Lock lock;
    Recording* recording = RecordingFor(run);
    if (recording && !recording->rows.empty()) AskForHandOver(*recording);
}

void HandOverRecordingIfDue(uint32_t run)
{
    Lock lock;
    Recording* recording = RecordingFor(run);
    if (recording && !recording->rows.empty() && PortClockMs() - recording->handedOverMs >= kHandOverDueMs)
        AskForHandOver(*recording);
}

DWORD RecordingHandOverDueInMs()
{
    Lock lock;
    if (!g_current || g_current->rows.empty()) return INFINITE;
    const DWORD since = PortClockMs() - g_current->handedOverMs;
    return since >= kHandOverDueMs ? 0 : kHandOverDueMs - since;
}

int FormatRecordingField(WCHAR* text, int size)
{
    if (!IsRecording()) return 0;
    const Recording& recording = *g_started;
    // A long folder gives way to the name at its end.
    const size_t length = wcslen(recording.fileName);
    const WCHAR* shown =
        length < static_cast<size_t>(size) ? recording.fileName : recording.fileName + length - (size - 1);
    if (PortClockMs() - recording.startMs < kRecordingNameShowMs) return swprintf(text, size, L"%ls", shown);
    return swprintf(text, size, L"REC %llu frames", static_cast<unsigned long long>(recording.framesRecorded));
}
