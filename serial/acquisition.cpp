#include "acquisition.h"

#include "app.h"
#include "port_io.h"
#include "ports.h"

SweepState g_sweep;
ReceiveArea g_receiveArea;

namespace {

HANDLE g_port = INVALID_HANDLE_VALUE;

constexpr UINT kSweepPeriodMs = 1;

void ReportOpenFailure(HWND mainWindow)
{
    MessageBoxW(mainWindow, L"Не получилось!!!", L"Внимание!!!", MB_OK);
}

// Reads return at once with whatever has arrived, so a silent or vanished
// device cannot hold the message loop; the tick bounds its own wait.
bool SetReadTimeouts(HANDLE port)
{
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    return PortSetTimeouts(port, &timeouts);
}

void InvalidateTraceRect(void*, int left, int top, int right, int bottom)
{
    const RECT rect = {left, top, right, bottom};
    InvalidateRect(g_traceView, &rect, TRUE);
}

void InvalidateTraceView(void*)
{
    InvalidateRect(g_traceView, nullptr, TRUE);
}

// Fills the receive area from `have` up to a whole frame, or until the tick's
// time is up. A failed or empty read acknowledges any line error, which would
// otherwise stop every later read of the run.
int GatherFrameBytes(int have, DWORD tickStart)
{
    while (have < kFrameSize) {
        DWORD got = 0;
        if (!PortRead(g_port, g_receiveArea.bytes + have, kFrameSize - have, &got) || got == 0) {
            got = 0;
            DWORD errors = 0;
            PortClearErrors(g_port, &errors);
        }
        have += static_cast<int>(got);
        if (have == kFrameSize) break;
        if (PortClockMs() - tickStart >= (have == 0 ? kIdleWaitMs : kFrameWaitMs)) break;
        PortPause(1);
    }
    return have;
}

// A port opened while the device streams starts inside a frame; the frame
// found inside the bytes read is completed, so the next read is in step.
bool ReadFrame()
{
    const DWORD tickStart = PortClockMs();
    int have = GatherFrameBytes(0, tickStart);
    if (have == 0) return false;
    const int start = FindFrameStart(g_receiveArea, have);
    if (start > 0) GatherFrameBytes(ShiftFrameToFront(g_receiveArea, start, have), tickStart);
    return true;
}

}  // namespace

bool IsPortOpen()
{
    return g_port != INVALID_HANDLE_VALUE;
}

LRESULT OnStart(HWND mainWindow)
{
    EnableWindow(g_startButton, FALSE);
    EnableWindow(g_stopButton, TRUE);
    char portName[kPortTextCount] = "";
    GetWindowTextA(g_portList, portName, kPortTextCount);
    g_port = OpenPort(portName);
    char speedText[kSpeedTextCount] = "";
    GetWindowTextA(g_speedList, speedText, kSpeedTextCount);
    const int speed = ParseSpeed(speedText);
    if (!IsPortOpen()) {
        ReportOpenFailure(mainWindow);
        return 0;
    }
    if (!ConfigurePort(g_port, static_cast<DWORD>(speed)) || !SetReadTimeouts(g_port)) {
        ClosePortIfOpen();
        ReportOpenFailure(mainWindow);
        return 0;
    }
    InvalidateRect(g_traceView, nullptr, TRUE);
    ResetSweep(g_sweep);
    SetTimer(mainWindow, ID_SWEEP_TIMER, kSweepPeriodMs, nullptr);
    return 0;
}

LRESULT OnStop(HWND mainWindow)
{
    KillTimer(mainWindow, ID_SWEEP_TIMER);
    ClosePortIfOpen();
    EnableWindow(g_startButton, TRUE);
    EnableWindow(g_stopButton, FALSE);
    return 0;
}

LRESULT OnTick()
{
    // A tick that got no bytes does not replot the previous frame.
    if (BeginTick(g_sweep) && IsPortOpen() && ReadFrame())
        ApplyFrame(g_sweep, g_receiveArea, InvalidateTraceRect, InvalidateTraceView, nullptr);
    EndTick(g_sweep);
    return 0;
}

void ClosePortIfOpen()
{
    if (!IsPortOpen()) return;
    PortClose(g_port);
    g_port = INVALID_HANDLE_VALUE;
}
