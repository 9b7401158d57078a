#include "acquisition.h"

#include <cstdio>
#include <string>

#include "history.h"
#include "port_io.h"
#include "ports.h"
#include "recording.h"

SweepState g_sweep;

namespace {

enum class LinkState { Idle, Running, Lost, Busy };

HANDLE g_port = INVALID_HANDLE_VALUE;
AcquisitionEvents g_events;
ReceiveArea g_receiveArea;
Frame g_frames[kMaxFramesPerTick];
LinkHealth g_health;
LinkState g_link = LinkState::Idle;
std::string g_portName;
DWORD g_speed;
DWORD g_lostAtMs;
DWORD g_nextRetryMs;
DWORD g_reconnectedAtMs;
bool g_reconnected;

void ClosePort()
{
    if (g_port == INVALID_HANDLE_VALUE) return;
    PortClose(g_port);
    g_port = INVALID_HANDLE_VALUE;
}

// Opens and sets up the port as Start does; a busy port is one another
// program holds, or one that refuses the settings.
bool OpenConfigured(bool* busy)
{
    g_port = OpenPort(g_portName.c_str());
    if (g_port == INVALID_HANDLE_VALUE) {
        *busy = GetLastError() == ERROR_ACCESS_DENIED;
        return false;
    }
    if (!ConfigurePort(g_port, g_speed)) {
        // A pty whose device end is still closed opens, but cannot even
        // report its state: that port is not back yet.
        DCB state = {};
        state.DCBlength = sizeof state;
        *busy = PortGetState(g_port, &state);
        ClosePort();
        return false;
    }
    g_receiveArea.length = 0;
    return true;
}

void ReportRecordingFailure(bool ok, DWORD error)
{
    if (!ok && g_events.recordingFailed) g_events.recordingFailed(error);
}

// Hands the recording's buffer to the system, now or when it is due.
void HandOverRecording(bool (*handOver)(DWORD* error))
{
    DWORD error = 0;
    ReportRecordingFailure(handOver(&error), error);
}

void LosePort(DWORD now)
{
    ClosePort();
    g_link = LinkState::Lost;
    g_lostAtMs = now;
    g_nextRetryMs = now;
    g_reconnected = false;
    HandOverRecording(FlushRecording);
}

void CountLineErrors(DWORD errors)
{
    if (errors & (CE_OVERRUN | CE_RXOVER)) ++g_health.overruns;
    if (errors & CE_FRAME) ++g_health.framingErrors;
}

// Reads what the driver holds without waiting. A failed or empty read
// acknowledges any line error, which would otherwise stop every later read;
// when even that fails, the port is gone.
bool DrainPort(DWORD* bytesRead)
{
    *bytesRead = 0;
    for (int failedReads = 0; g_receiveArea.length < kReceiveCapacity;) {
        DWORD got = 0;
        const DWORD room = static_cast<DWORD>(kReceiveCapacity - g_receiveArea.length);
        const bool ok = PortRead(g_port, g_receiveArea.bytes + g_receiveArea.length, room, &got);
        g_receiveArea.length += static_cast<int>(got);
        *bytesRead += got;
        // A read may return less than the driver holds (Wine's pty gives 4 KiB
        // at a time), so only an empty one says it is drained.
        if (ok && got > 0) continue;
        DWORD errors = 0;
        if (!PortClearErrors(g_port, &errors)) return false;
        CountLineErrors(errors);
        // Once acknowledged, what followed the error is read in the same tick.
        if (ok || ++failedReads > 1) break;
    }
    return true;
}

void ReadAndPlot(DWORD now)
{
    DWORD bytes = 0;
    if (!DrainPort(&bytes)) {
        LosePort(now);
        return;
    }
    const uint32_t skippedBefore = g_receiveArea.skippedBytes;
    const int count = TakeFrames(g_receiveArea, g_frames, kMaxFramesPerTick);
    DWORD error = 0;
    if (count) ReportRecordingFailure(RecordFrames(g_frames, count, &error), error);
    if (g_sweep.history) AppendHistory(*g_sweep.history, g_frames, count, now);
    for (int i = 0; i < count; ++i) ApplyFrame(g_sweep, g_frames[i], now);
    NoteLinkTick(g_health, now, bytes, static_cast<uint32_t>(count), g_receiveArea.skippedBytes - skippedBefore);
}

void TryToReconnect(DWORD now)
{
    if (static_cast<int32_t>(now - g_nextRetryMs) < 0) return;
    g_nextRetryMs = now + kRetryPeriodMs;
    bool busy = false;
    if (!OpenConfigured(&busy)) {
        g_link = busy ? LinkState::Busy : LinkState::Lost;
        return;
    }
    g_link = LinkState::Running;
    g_reconnected = true;
    g_reconnectedAtMs = now;
    ResetLinkHealth(g_health, now);
    MarkGap(g_sweep);
}

}  // namespace

void SetAcquisitionEvents(const AcquisitionEvents& events)
{
    g_events = events;
}

bool IsPortOpen()
{
    return g_port != INVALID_HANDLE_VALUE;
}

bool IsPortLost()
{
    return g_link == LinkState::Lost || g_link == LinkState::Busy;
}

bool StartAcquisition(const char* portName, DWORD speed)
{
    g_portName = portName;
    g_speed = speed;
    bool busy = false;
    if (!OpenConfigured(&busy)) return false;
    g_receiveArea.skippedBytes = 0;
    g_link = LinkState::Running;
    g_reconnected = false;
    ResetLinkHealth(g_health, PortClockMs());
    ResetSweep(g_sweep);
    return true;
}

void StopAcquisition()
{
    ClosePort();
    g_link = LinkState::Idle;
    HandOverRecording(FlushRecording);
}

void AcquisitionTick()
{
    const DWORD now = PortClockMs();
    BeginTick(g_sweep);
    if (IsPortLost()) TryToReconnect(now);
    if (IsPortOpen()) ReadAndPlot(now);
    EndTick(g_sweep);
    HandOverRecording(FlushRecordingIfDue);
    if (g_events.sweepChanged) g_events.sweepChanged(g_sweep);
    if (g_events.statusChanged) g_events.statusChanged();
}

void RetryLostPortNow()
{
    if (IsPortLost()) g_nextRetryMs = PortClockMs();
}

uint32_t LinkFramesPerSecond()
{
    return g_link == LinkState::Running ? g_health.framesPerSecond : 0;
}

int FormatLinkField(char* text, int size)
{
    const DWORD now = PortClockMs();
    switch (g_link) {
    case LinkState::Idle:
        return 0;
    case LinkState::Lost:
        return std::snprintf(text, size, "port lost: waiting for %s, %lu s", g_portName.c_str(),
                             static_cast<unsigned long>((now - g_lostAtMs) / 1000));
    case LinkState::Busy:
        return std::snprintf(text, size, "%s busy, %lu s", g_portName.c_str(),
                             static_cast<unsigned long>((now - g_lostAtMs) / 1000));
    case LinkState::Running:
        break;
    }
    if (g_reconnected && now - g_reconnectedAtMs < kReconnectedShowMs) return std::snprintf(text, size, "reconnected");
    return FormatLinkHealth(g_health, now, text, size);
}
