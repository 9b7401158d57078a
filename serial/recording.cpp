#include "recording.h"

#include <cstdio>
#include <cwchar>
#include <vector>

#include "csv_rows.h"
#include "port_io.h"
#include "save_folders.h"

namespace {

// Writes go to the system well before the buffer fills at the fastest rates.
constexpr size_t kBufferBytes = 1 << 20;
constexpr size_t kHandOverBytes = kBufferBytes - kMaxFramesPerTick * kCsvRowMax;
// Ticks come every 10-16 ms, so a hand-over due from 200 ms on is never later than 250 ms.
constexpr DWORD kHandOverDueMs = kRecordingFlushMs - 50;
constexpr int kNameLength = 64;
constexpr int kPathLength = MAX_PATH + kNameLength;

HANDLE g_file = INVALID_HANDLE_VALUE;
std::vector<char> g_buffer;
WCHAR g_fileName[kPathLength];  // with its folder, unless the working directory
uint64_t g_framesRecorded;
uint64_t g_startUs;
DWORD g_startMs;
DWORD g_handedOverMs;

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

void CloseRecording()
{
    CloseHandle(g_file);
    g_file = INVALID_HANDLE_VALUE;
    g_buffer.clear();
}

}  // namespace

bool StartRecording(DWORD* error)
{
    if (IsRecording()) return true;
    g_file = CreateRecordingFile(error);
    if (g_file == INVALID_HANDLE_VALUE) return false;
    g_buffer.reserve(kBufferBytes);
    g_buffer.assign(kCsvHeader, kCsvHeader + sizeof kCsvHeader - 1);
    g_framesRecorded = 0;
    g_startUs = PortPreciseMicroseconds();
    g_startMs = PortClockMs();
    return FlushRecording(error);
}

void StopRecording()
{
    if (!IsRecording()) return;
    DWORD error = 0;
    FlushRecording(&error);
    CloseRecording();
}

bool IsRecording()
{
    return g_file != INVALID_HANDLE_VALUE;
}

bool RecordFrames(const Frame* frames, int count, DWORD* error)
{
    if (!IsRecording()) return true;
    const uint64_t timeMs = (PortPreciseMicroseconds() - g_startUs) / 1000;
    for (int i = 0; i < count; ++i) {
        char row[kCsvRowMax];
        const int length = FormatCsvRow(row, g_framesRecorded++, timeMs, frames[i]);
        g_buffer.insert(g_buffer.end(), row, row + length);
    }
    return g_buffer.size() < kHandOverBytes || FlushRecording(error);
}

// A failed write ends the recording and keeps what the file already holds.
bool FlushRecording(DWORD* error)
{
    if (!IsRecording()) return true;
    g_handedOverMs = PortClockMs();
    if (g_buffer.empty()) return true;
    if (!PortWriteFile(g_file, g_buffer.data(), static_cast<DWORD>(g_buffer.size()))) {
        *error = GetLastError();
        CloseRecording();
        return false;
    }
    g_buffer.clear();
    return true;
}

bool FlushRecordingIfDue(DWORD* error)
{
    if (!IsRecording() || PortClockMs() - g_handedOverMs < kHandOverDueMs) return true;
    return FlushRecording(error);
}

int FormatRecordingField(WCHAR* text, int size)
{
    if (!IsRecording()) return 0;
    // A long folder gives way to the name at its end.
    const size_t length = wcslen(g_fileName);
    const WCHAR* shown = length < static_cast<size_t>(size) ? g_fileName : g_fileName + length - (size - 1);
    if (PortClockMs() - g_startMs < kRecordingNameShowMs) return swprintf(text, size, L"%ls", shown);
    return swprintf(text, size, L"REC %llu frames", static_cast<unsigned long long>(g_framesRecorded));
}
