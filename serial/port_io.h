// The few calls through which the acquisition reaches the serial port and
// the clock. The program links the Win32 ones (port_win32.cpp); tests link a
// scripted port that can refuse settings, fail reads and report line errors.
#pragma once

#include <windows.h>

HANDLE PortOpen(const char* path);
bool PortGetState(HANDLE port, DCB* settings);
bool PortSetState(HANDLE port, const DCB* settings);
bool PortSetTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);
bool PortRead(HANDLE port, void* buffer, DWORD count, DWORD* bytesRead);
void PortClearErrors(HANDLE port);
void PortClose(HANDLE port);
DWORD PortClockMs();
void PortPause(DWORD milliseconds);
