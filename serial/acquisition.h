// Start, Stop and the timer tick that reads one frame and advances the sweep.
#pragma once

#include <windows.h>

#include "sweep_state.h"

constexpr UINT_PTR ID_SWEEP_TIMER = 1;

// How long one tick may wait: for the first byte of a frame while the device
// is silent, and for the whole frame (with its resynchronisation) once bytes
// arrive. 90 ms covers a frame at 1200 baud (67 ms) and keeps the window live.
// (Wine's serial reads ignore the "return on the first byte" time-outs and
// always wait them out, so the tick polls instead of blocking in the read.)
constexpr DWORD kIdleWaitMs = 25;
constexpr DWORD kFrameWaitMs = 90;

extern SweepState g_sweep;
extern ReceiveArea g_receiveArea;

LRESULT OnStart(HWND mainWindow);
LRESULT OnStop(HWND mainWindow);
LRESULT OnTick();
void ClosePortIfOpen();
bool IsPortOpen();
