#include "fake_port.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "port_io.h"

FakePort g_fakePort;

// One open of the scripted port; the script and the device are shared.
struct PortIo {
    std::string path;
    HANDLE notification;
    std::string writing;
    bool writePending;
};

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

constexpr uint64_t kWindowsTickUs = 15625;
std::vector<PortIo*> g_open;
// The thread that opened the port last: the current run's link.
HANDLE g_linkThread;
std::condition_variable g_released;

// Whether a read and a write are being held.
bool g_readHeld, g_writeHeld;

// The first call to come while the test holds is held, untouched by wakes
// and the clock, and is not idle; others pass.
bool HoldWhile(Guard& guard, bool FakePort::*hold, bool* taken)
{
    if (!(g_fakePort.*hold) || *taken) return false;
    *taken = true;
    ++g_fakePort.heldCalls;
    g_released.wait(guard, [hold] { return !(g_fakePort.*hold); });
    --g_fakePort.heldCalls;
    *taken = false;
    g_released.notify_all();
    return true;
}

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
    g_open.clear();  // a late link may still close its own
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

bool WaitUntilLinkIdle()
{
    Guard guard(g_mutex);
    const auto ended = [] { return g_linkThread && WaitForSingleObject(g_linkThread, 0) == WAIT_OBJECT_0; };
    for (int tries = 0; tries < 500; ++tries)
        if (ended() || g_idle.wait_for(guard, std::chrono::milliseconds(10),
                                       [] { return g_blocked && g_idleAtChange == g_changes; }))
            return true;
    return false;
}

// Each open's notification handle is made up from its number.
HANDLE LastPortNotification()
{
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4200 + g_fakePort.opens));
}

void ReleaseHeld()
{
    Guard guard(g_mutex);
    g_fakePort.holdRead = g_fakePort.holdFileWrite = false;
    g_released.notify_all();
    g_released.wait(guard, [] { return g_fakePort.heldCalls == 0; });
}

PortIo* PortOpen(const char* path, HWND)
{
    Guard guard(g_mutex);
    if (g_linkThread) CloseHandle(g_linkThread);
    g_linkThread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    while (g_fakePort.holdOpen) BlockUntilChanged(guard);
    g_fakePort.openedPath = path;
    ++g_fakePort.openAttempts;
    DeliverArrivals(g_fakePort);
    // Wine opens a pty whose device end is closed; nothing else works on it.
    const std::wstring listed = L"|" + g_fakePort.devices;
    const std::string name = std::string(path).substr(4);
    const bool absent = listed.find(L"|" + std::wstring(name.begin(), name.end()) + L"|") == std::wstring::npos;
    // Windows opens a port for one handle at a time.
    bool taken = false;
    for (const PortIo* open : g_open) taken = taken || open->path == path;
    if (g_fakePort.openError || absent || taken || (g_fakePort.removedError && !g_fakePort.wineLoose))
        return Fail(g_fakePort.openError ? g_fakePort.openError : taken ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND), nullptr;
    ++g_fakePort.opens;
    g_open.push_back(new PortIo{path, LastPortNotification(), {}, false});
    return g_open.back();
}

HANDLE PortNotification(const PortIo* port)
{
    return port->notification;
}

bool PortSetQueue(PortIo*, DWORD inputBytes)
{
    Guard guard(g_mutex);
    g_fakePort.requestedQueue = inputBytes;
    if (g_fakePort.refusesQueueSize) return Fail(ERROR_INVALID_PARAMETER);
    g_fakePort.queueSize = inputBytes;
    return true;
}

bool PortGetState(PortIo*, DCB* settings)
{
    Guard guard(g_mutex);
    if (g_fakePort.removedError) return Fail(ERROR_INVALID_FUNCTION);
    *settings = g_fakePort.reportedState;
    settings->DCBlength = sizeof *settings;
    return true;
}

bool PortSetState(PortIo*, const DCB* settings)
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

bool PortStartWrite(PortIo* port, const void* data, DWORD count)
{
    Guard guard(g_mutex);
    if (g_fakePort.sendError) return Fail(g_fakePort.sendError);
    port->writing.assign(static_cast<const char*>(data), count);
    port->writePending = true;
    return true;
}

bool PortWriteEnded(PortIo* port, DWORD* error)
{
    Guard guard(g_mutex);
    *error = 0;
    if (g_fakePort.lineHeld) return false;
    if (port->writePending) g_fakePort.sent += port->writing;
    port->writePending = false;
    return true;
}

void PortCancelWrite(PortIo* port)
{
    Guard guard(g_mutex);
    port->writePending = false;
}

bool PortModemStatus(PortIo*, DWORD* lines)
{
    Guard guard(g_mutex);
    *lines = g_fakePort.modemLines;
    return g_fakePort.wineLoose ? Fail(ERROR_NOT_SUPPORTED) : true;
}

// A pty has no modem lines; a Windows driver sets DTR at once.
bool PortEscape(PortIo*, DWORD function)
{
    Guard guard(g_mutex);
    FakePort& port = g_fakePort;
    if (port.wineLoose) return Fail(ERROR_NOT_SUPPORTED);
    DeliverArrivals(port);
    if (function == SETDTR || function == CLRDTR) port.dtr = function == SETDTR;
    return true;
}

bool PortPurge(PortIo*, DWORD flags)
{
    Guard guard(g_mutex);
    DeliverArrivals(g_fakePort);
    if (flags & PURGE_RXCLEAR) g_fakePort.queue.clear();
    return true;
}

bool PortSetTimeouts(PortIo*, const COMMTIMEOUTS* timeouts)
{
    Guard guard(g_mutex);
    if (g_fakePort.refusesTimeouts) return Fail(ERROR_INVALID_PARAMETER);
    g_fakePort.timeouts = *timeouts;
    return true;
}

static bool ReadLocked(Guard& guard, void* buffer, DWORD count, DWORD* bytesRead)
{
    FakePort& port = g_fakePort;
    *bytesRead = 0;
    ++port.portCalls;
    if (HoldWhile(guard, &FakePort::holdRead, &g_readHeld)) {
        *bytesRead = static_cast<DWORD>(std::min<size_t>(count, port.lateBytes.size()));
        std::copy(port.lateBytes.begin(), port.lateBytes.begin() + *bytesRead, static_cast<uint8_t*>(buffer));
        return true;
    }
    if (port.failsReads) return Fail(port.failsReads);
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

bool PortRead(PortIo*, void* buffer, DWORD count, DWORD* bytesRead)
{
    Guard guard(g_mutex);
    return ReadLocked(guard, buffer, count, bytesRead);
}

// The clock here is the one the program reads, Windows' coarse one included.
static DWORD ClockMsLocked()
{
    const uint64_t us = g_fakePort.clockUs;
    return static_cast<DWORD>((g_fakePort.windowsClock ? us / kWindowsTickUs * kWindowsTickUs : us) / 1000);
}

bool PortWaitRead(PortIo*, HANDLE wake, DWORD timeoutMs, void* buffer, DWORD count, DWORD* bytesRead)
{
    Guard guard(g_mutex);
    FakePort& fake = g_fakePort;
    *bytesRead = 0;
    const DWORD deadline = ClockMsLocked() + timeoutMs;
    for (;;) {
        if ((fake.holdRead && !g_readHeld) || fake.failsReads) return ReadLocked(guard, buffer, count, bytesRead);
        if (WaitForSingleObject(wake, 0) == WAIT_OBJECT_0) return true;
        DeliverArrivals(fake);
        if (fake.removedError || !fake.queue.empty() || fake.pendingErrors)
            return ReadLocked(guard, buffer, count, bytesRead);
        if (timeoutMs != INFINITE && static_cast<int32_t>(ClockMsLocked() - deadline) >= 0) return true;
        BlockUntilChanged(guard);
    }
}

void PortWake(HANDLE wake)
{
    SetEvent(wake);
    Guard guard(g_mutex);
    Changed();
}

void RestUntil(HANDLE wake, DWORD ms)
{
    Guard guard(g_mutex);
    const DWORD deadline = ClockMsLocked() + ms;
    while (WaitForSingleObject(wake, 0) != WAIT_OBJECT_0 && (ms == INFINITE || int32_t(ClockMsLocked() - deadline) < 0))
        BlockUntilChanged(guard);
}

bool PortClearErrors(PortIo*, DWORD* errors, DWORD* queued)
{
    Guard guard(g_mutex);
    FakePort& port = g_fakePort;
    *errors = *queued = 0;
    ++port.portCalls;
    if (port.removedError && !port.clearsWhenRemoved)
        return Fail(port.wineLoose ? ERROR_NOT_READY : port.removedError);
    port.clockUs += port.usPerLook;
    DeliverArrivals(port);
    *errors = port.pendingErrors;
    *queued = static_cast<DWORD>(port.queue.size());
    port.pendingErrors = 0;
    return true;
}

void PortClose(PortIo* port)
{
    if (!port) return;
    Guard guard(g_mutex);
    ++g_fakePort.closes;
    const auto open = std::find(g_open.begin(), g_open.end(), port);
    if (open != g_open.end()) g_open.erase(open);
    delete port;
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
    if (names.size() + 1 > count) return Fail(ERROR_INSUFFICIENT_BUFFER);
    for (size_t i = 0; i < names.size(); ++i) buffer[i] = names[i] == L'|' ? L'\0' : names[i];
    buffer[names.size()] = L'\0';
    return static_cast<DWORD>(names.size() + 1);
}

void PortListSetupDevices(void (*add)(const PortDevice& device, void* context), void* context)
{
    Guard guard(g_mutex);
    ++g_fakePort.setupListings;
    for (const FakeDevice& d : g_fakePort.setupDevices)
        add({d.name.c_str(), d.description.c_str(), d.hardwareId.c_str(), d.instanceId.c_str()}, context);
}

bool PortWriteFile(HANDLE file, const void* data, DWORD size)
{
    {
        Guard guard(g_mutex);
        if (HoldWhile(guard, &FakePort::holdFileWrite, &g_writeHeld) && g_fakePort.heldWriteError)
            return Fail(g_fakePort.heldWriteError);
    }
    if (g_fakePort.fileWriteError) return Fail(g_fakePort.fileWriteError);
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

uint64_t PortPreciseMicroseconds()
{
    Guard guard(g_mutex);
    return g_fakePort.clockUs;
}
