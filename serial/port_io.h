// The few calls through which the acquisition reaches the serial port, the
// system's device list, the recording file and the clocks. The program links
// the Win32 ones (port_win32.cpp); tests link a scripted port that refuses,
// overruns and fails as Windows documents. The port calls are made by the
// link thread only; PortWake by whoever wants it to look at its requests.
#pragma once

#include <windows.h>

#include <cstdint>

// Opened for overlapped reads, so that a wait can be ended from outside.
HANDLE PortOpen(const char* path);
bool PortSetQueue(HANDLE port, DWORD inputBytes);
bool PortGetState(HANDLE port, DCB* settings);
bool PortSetState(HANDLE port, const DCB* settings);
bool PortSetTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);
// Reads what the driver holds, without waiting.
bool PortRead(HANDLE port, void* buffer, DWORD count, DWORD* bytesRead);
// Reads what the driver holds, first waiting while it holds nothing: until
// bytes or a line error come, `wake` is set, or `timeoutMs` passes (then
// with 0 bytes). Without a port it only waits for `wake` or the time.
bool PortWaitRead(HANDLE port, HANDLE wake, DWORD timeoutMs, void* buffer, DWORD count, DWORD* bytesRead);
// Sets `wake` and cancels the port's pending wait, from any thread.
void PortWake(HANDLE port, HANDLE wake);
// EscapeCommFunction: SETDTR, CLRDTR, SETRTS, CLRRTS.
bool PortEscape(HANDLE port, DWORD function);
bool PortPurge(HANDLE port, DWORD flags);
// Acknowledges and reports the line errors (CE_* bits); false when the port
// itself is gone. Under Wine that is the only sign of a removed adapter, while
// some Windows drivers still succeed here after an unplug.
// `queued`: the bytes the driver holds.
bool PortClearErrors(HANDLE port, DWORD* errors, DWORD* queued);
void PortClose(HANDLE port);
// A present port of the Ports class as SetupAPI knows it: its PortName, its
// friendly name, its first hardware id and the instance id of the USB device
// behind it (the parent's, for an interface of a composite device).
struct PortDevice {
    const WCHAR* name;
    const WCHAR* description;
    const WCHAR* hardwareId;
    const WCHAR* instanceId;
};
void PortListSetupDevices(void (*add)(const PortDevice& device, void* context), void* context);
// QueryDosDeviceW over all names: 0 with ERROR_INSUFFICIENT_BUFFER when they do not fit.
DWORD PortListDevices(WCHAR* buffer, DWORD count);
bool PortWriteFile(HANDLE file, const void* data, DWORD size);
DWORD PortClockMs();
uint64_t PortPreciseMicroseconds();
