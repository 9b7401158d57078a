#include "fake_port.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "port_io.h"

FakePort g_fakePort;

namespace {

// Every call takes the lock; a change the link must see bumps `g_changes`.
std::mutex g_mutex;
std::condition_variable g_changed;
std::condition_variable g_idle;
uint64_t g_changes;
uint64_t g_idleAtChange;
bool g_blocked;

using Guard = std::unique_lock<std::mutex>;

void Changed()
{
    ++g_changes;
    g_changed.notify_all();
}

void BlockUntilChanged(Guard& guard)
{
    g_blocked = true;
    g_idleAtChange = g_changes;
    g_idle.notify_all();
    g_changed.wait(guard);
    g_blocked = false;
}

HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4242));
constexpr uint64_t kWindowsTickUs = 15625;

// Moves what has arrived by now into the driver's queue; a full queue drops
// the byte and reports the overrun, as the serial driver does.
void DeliverArrivals(FakePort& port)
{
    while (port.nextLineError < port.lineErrorsAtMs.size() && port.lineErrorsAtMs[port.nextLineError] <= port.NowMs()) {
        port.pendingErrors |= CE_FRAME;
        ++port.nextLineError;
    }
    const bool sends = port.dtr || !port.sendsOnlyWithDtr;
    const bool dropped = port.dsrLow && port.appliedState.fDsrSensitivity;
    while (port.nextArrival < port.arrivals.size() && port.arrivals[port.nextArrival].atMs <= port.NowMs()) {
        const uint8_t byte = port.arrivals[port.nextArrival++].byte;
        if (!sends || dropped) continue;
        if (port.wineLoose || port.queue.size() < port.queueSize)
            port.queue.push_back(byte);
        else
            port.pendingErrors |= CE_RXOVER;
    }
}

// What SetCommState's documentation and the serial drivers refuse.
bool WindowsAccepts(const DCB& settings)
{
    return settings.XonChar != settings.XoffChar && settings.ByteSize >= 5 && settings.ByteSize <= 8 &&
           settings.BaudRate != 0;
}

bool Fail(DWORD error)
{
    SetLastError(error);
    return false;
}

}  // namespace

void ResetFakePort()
{
    Guard guard(g_mutex);
    g_fakePort = FakePort();
}

void ArriveBytes(DWORD atMs, const std::vector<uint8_t>& bytes)
{
    Guard guard(g_mutex);
    for (uint8_t byte : bytes) g_fakePort.arrivals.push_back({atMs, byte});
    Changed();
}

void MoveClock(uint64_t microseconds)
{
    Guard guard(g_mutex);
    g_fakePort.clockUs += microseconds;
    Changed();
}

bool WaitUntilLinkIdle(bool (*ended)())
{
    Guard guard(g_mutex);
    for (int tries = 0; tries < 500; ++tries)
        if (ended() || g_idle.wait_for(guard, std::chrono::milliseconds(10),
                                       [] { return g_blocked && g_idleAtChange == g_changes; }))
            return true;
    return false;
}

HANDLE PortOpen(const char* path)
{
    Guard guard(g_mutex);
    while (g_fakePort.holdOpen) BlockUntilChanged(guard);
    g_fakePort.openedPath = path;
    ++g_fakePort.openAttempts;
    DeliverArrivals(g_fakePort);
    // Wine opens a pty whose device end is closed; nothing else works on it.
    const std::wstring listed = L"|" + g_fakePort.devices;
    const std::string name = std::string(path).substr(4);
    const bool absent = listed.find(L"|" + std::wstring(name.begin(), name.end()) + L"|") == std::wstring::npos;
    if (g_fakePort.openError || absent || (g_fakePort.removedError && !g_fakePort.wineLoose)) {
        SetLastError(g_fakePort.openError ? g_fakePort.openError : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    ++g_fakePort.opens;
    return kFakeHandle;
}

bool PortSetQueue(HANDLE, DWORD inputBytes)
{
    Guard guard(g_mutex);
    g_fakePort.requestedQueue = inputBytes;
    if (g_fakePort.refusesQueueSize) return Fail(ERROR_INVALID_PARAMETER);
    g_fakePort.queueSize = inputBytes;
    return true;
}

bool PortGetState(HANDLE, DCB* settings)
{
    Guard guard(g_mutex);
    if (g_fakePort.removedError) return Fail(ERROR_INVALID_FUNCTION);
    const DWORD length = settings->DCBlength;
    *settings = g_fakePort.reportedState;
    settings->DCBlength = length;
    return true;
}

bool PortSetState(HANDLE, const DCB* settings)
{
    Guard guard(g_mutex);
    FakePort& port = g_fakePort;
    port.appliedState = *settings;
    if (port.removedError) return Fail(ERROR_INVALID_FUNCTION);
    if (port.refusesSettings || (!port.wineLoose && !WindowsAccepts(*settings))) return Fail(ERROR_INVALID_PARAMETER);
    port.abortOnError = settings->fAbortOnError;
    port.dtr = settings->fDtrControl == DTR_CONTROL_ENABLE;
    return true;
}

// A pty has no modem lines; a Windows driver sets DTR at once.
bool PortEscape(HANDLE, DWORD function)
{
    Guard guard(g_mutex);
    FakePort& port = g_fakePort;
    if (port.wineLoose) return Fail(ERROR_NOT_SUPPORTED);
    DeliverArrivals(port);
    if (function == SETDTR || function == CLRDTR) port.dtr = function == SETDTR;
    return true;
}

bool PortPurge(HANDLE, DWORD flags)
{
    Guard guard(g_mutex);
    DeliverArrivals(g_fakePort);
    if (flags & PURGE_RXCLEAR) g_fakePort.queue.clear();
    return true;
}

bool PortSetTimeouts(HANDLE, const COMMTIMEOUTS* timeouts)
{
    Guard guard(g_mutex);
    g_fakePort.timeouts = *timeouts;
    return true;
}

static bool ReadLocked(void* buffer, DWORD count, DWORD* bytesRead)
{
    FakePort& port = g_fakePort;
    *bytesRead = 0;
    if (port.removedError) return port.wineLoose ? true : Fail(port.removedError);
    DeliverArrivals(port);
    if (port.pendingErrors && port.abortOnError) return Fail(ERROR_OPERATION_ABORTED);
    auto* out = static_cast<uint8_t*>(buffer);
    // Like a driver (and Wine's pty), a read hands over at most a page at a time.
    while (*bytesRead < count && *bytesRead < 4096 && !port.queue.empty()) {
        out[(*bytesRead)++] = port.queue.front();
        port.queue.pop_front();
    }
    return true;
}

bool PortRead(HANDLE, void* buffer, DWORD count, DWORD* bytesRead)
{
    Guard guard(g_mutex);
    return ReadLocked(buffer, count, bytesRead);
}

// The clock here is the one the program reads, Windows' coarse one included.
static DWORD ClockMsLocked()
{
    const uint64_t us = g_fakePort.clockUs;
    return static_cast<DWORD>((g_fakePort.windowsClock ? us / kWindowsTickUs * kWindowsTickUs : us) / 1000);
}

bool PortWaitRead(HANDLE port, HANDLE wake, DWORD timeoutMs, void* buffer, DWORD count, DWORD* bytesRead)
{
    Guard guard(g_mutex);
    FakePort& fake = g_fakePort;
    *bytesRead = 0;
    const DWORD deadline = ClockMsLocked() + timeoutMs;
    for (;;) {
        if (WaitForSingleObject(wake, 0) == WAIT_OBJECT_0) return true;
        if (port != INVALID_HANDLE_VALUE) {
            DeliverArrivals(fake);
            if (fake.removedError || !fake.queue.empty() || fake.pendingErrors) return ReadLocked(buffer, count, bytesRead);
        }
        if (timeoutMs != INFINITE && static_cast<int32_t>(ClockMsLocked() - deadline) >= 0) return true;
        BlockUntilChanged(guard);
    }
}

void PortWake(HANDLE, HANDLE wake)
{
    SetEvent(wake);
    Guard guard(g_mutex);
    Changed();
}

bool PortClearErrors(HANDLE, DWORD* errors, DWORD* queued)
{
    Guard guard(g_mutex);
    FakePort& port = g_fakePort;
    *errors = *queued = 0;
    if (port.removedError && !port.clearsWhenRemoved)
        return Fail(port.wineLoose ? ERROR_NOT_READY : port.removedError);
    port.clockUs += port.usPerLook;
    DeliverArrivals(port);
    *errors = port.pendingErrors;
    *queued = static_cast<DWORD>(port.queue.size());
    port.pendingErrors = 0;
    return true;
}

void PortClose(HANDLE)
{
    Guard guard(g_mutex);
    ++g_fakePort.closes;
}

DWORD PortClockMs()
{
    Guard guard(g_mutex);
    return ClockMsLocked();
}

DWORD PortListDevices(WCHAR* buffer, DWORD count)
{
    Guard guard(g_mutex);
    const std::wstring& names = g_fakePort.devices;
    if (names.size() + 1 > count) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < names.size(); ++i) buffer[i] = names[i] == L'|' ? L'\0' : names[i];
    buffer[names.size()] = L'\0';
    return static_cast<DWORD>(names.size() + 1);
}

void PortListSetupDevices(void (*add)(const PortDevice& device, void* context), void* context)
{
    Guard guard(g_mutex);
    for (const FakeDevice& d : g_fakePort.setupDevices)
        add({d.name.c_str(), d.description.c_str(), d.hardwareId.c_str(), d.instanceId.c_str()}, context);
}

bool PortWriteFile(HANDLE file, const void* data, DWORD size)
{
    if (g_fakePort.fileWriteError) return Fail(g_fakePort.fileWriteError);
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

uint64_t PortPreciseMicroseconds()
{
    Guard guard(g_mutex);
    return g_fakePort.clockUs;
}
