#include "fake_port.h"

#include <algorithm>

#include "port_io.h"

FakePort g_fakePort;

namespace {

HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4242));

}  // namespace

void ResetFakePort()
{
    g_fakePort = FakePort();
}

void ArriveBytes(DWORD startMs, double perByteMs, const std::vector<uint8_t>& bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i)
        g_fakePort.arrivals.push_back({startMs + static_cast<DWORD>(perByteMs * (i + 1)), bytes[i]});
}

std::vector<uint8_t> FrameBytes(int16_t v1, int16_t v2, int16_t v3)
{
    std::vector<uint8_t> frame = {0x11, 0x55};
    for (int16_t v : {v1, v2, v3}) {
        frame.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
        frame.push_back(static_cast<uint8_t>(v));
    }
    return frame;
}

HANDLE PortOpen(const char* path)
{
    g_fakePort.openedPath = path;
    if (g_fakePort.openFails) return INVALID_HANDLE_VALUE;
    ++g_fakePort.opens;
    return kFakeHandle;
}

bool PortGetState(HANDLE, DCB* settings)
{
    const DWORD length = settings->DCBlength;
    *settings = g_fakePort.reportedState;
    settings->DCBlength = length;
    return true;
}

// A driver refuses a speed of 0 as it refuses any it cannot run at.
bool PortSetState(HANDLE, const DCB* settings)
{
    g_fakePort.appliedState = *settings;
    return !g_fakePort.refusesSettings && settings->BaudRate != 0;
}

bool PortSetTimeouts(HANDLE, const COMMTIMEOUTS* timeouts)
{
    g_fakePort.timeouts = *timeouts;
    g_fakePort.timeoutsSet = true;
    return true;
}

bool PortRead(HANDLE, void* buffer, DWORD count, DWORD* bytesRead)
{
    FakePort& port = g_fakePort;
    ++port.reads;
    *bytesRead = 0;
    while (port.nextLineError < port.lineErrorsAtMs.size() && port.lineErrorsAtMs[port.nextLineError] <= port.clockMs) {
        port.errorPending = true;
        ++port.nextLineError;
    }
    if (port.hungUp || port.errorPending) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (*bytesRead < count && port.nextArrival < port.arrivals.size() &&
           port.arrivals[port.nextArrival].atMs <= port.clockMs)
        out[(*bytesRead)++] = port.arrivals[port.nextArrival++].byte;
    return true;
}

void PortClearErrors(HANDLE)
{
    ++g_fakePort.errorAcknowledgements;
    g_fakePort.errorPending = false;
}

void PortClose(HANDLE)
{
    ++g_fakePort.closes;
}

DWORD PortClockMs()
{
    return g_fakePort.clockMs;
}

void PortPause(DWORD milliseconds)
{
    g_fakePort.clockMs += std::max<DWORD>(milliseconds, 1);
}
