// Start, Stop and the timer tick that reads one frame and advances the sweep.
#pragma once

#include <windows.h>

#include "sweep_state.h"

constexpr UINT_PTR ID_SWEEP_TIMER = 1;

// How long one tick may wait: for the first byte of a frame while the device
// is silent, and for the whole frame (with its resynchronisation) once bytes
// arrive. 15 ms is more than a frame period of a device that keeps up with
// the 10 ms timer, so such a device never builds a backlog; 90 ms covers a
// frame at 1200 baud (67 ms) and keeps the window live.
// Reads return at once and the tick polls: reads that block until the first
// byte plotted only a fraction of the frames under Wine.
constexpr DWORD kIdleWaitMs = 15;
constexpr DWORD kFrameWaitMs = 90;

extern SweepState g_sweep;
extern ReceiveArea g_receiveArea;

LRESULT OnStart(HWND mainWindow);
LRESULT OnStop(HWND mainWindow);
LRESULT OnTick();
void ClosePortIfOpen();
bool IsPortOpen();
