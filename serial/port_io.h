// The few calls through which the acquisition reaches the serial port, the
// system's device list, the recording file and the clocks. The program links
// the Win32 ones (port_win32.cpp), and so do the port layer's own tests on a
// pty; the window's tests link a scripted port that refuses, overruns and
// fails as Windows documents.
#pragma once

#include <windows.h>

#include <cstdint>

// One open port and everything its calls keep between them: the handle, the
// event its overlapped calls complete on, how it waits for bytes, the line
// errors a look at the driver took, and its device-notification
// registration. Made by PortOpen and freed by PortClose, both on the link
// thread that owns it; nothing of a port is shared with any other port, so a
// thread left in a driver that ignores its cancel never meets the next run.
struct PortIo;

// Opened for overlapped reads, so that a wait can be ended by `wake`. With a
// window, the handle is registered for that window's WM_DEVICECHANGE
// (query-remove and the like). Null, with the system's error, on failure.
PortIo* PortOpen(const char* path, HWND notify);
// What the window's WM_DEVICECHANGE names for this port's registration.
HANDLE PortNotification(const PortIo* port);
bool PortSetQueue(PortIo* port, DWORD inputBytes);
bool PortGetState(PortIo* port, DCB* settings);
bool PortSetState(PortIo* port, const DCB* settings);
bool PortSetTimeouts(PortIo* port, const COMMTIMEOUTS* timeouts);
// Reads what the driver holds, without waiting.
bool PortRead(PortIo* port, void* buffer, DWORD count, DWORD* bytesRead);
// Reads what the driver holds, first waiting while it holds nothing: until
// bytes or a line error come, `wake` is set (true, with 0 bytes) or
// `timeoutMs` passes (likewise). False, with the error, when the driver
// failed the read or the wait.
bool PortWaitRead(PortIo* port, HANDLE wake, DWORD timeoutMs, void* buffer, DWORD count, DWORD* bytesRead);
// Starts writing `count` bytes, which must stay put until the write ends;
// while it is under way, PortWaitRead's wait also ends when it does. False,
// with the error, when it failed at once.
bool PortStartWrite(PortIo* port, const void* data, DWORD count);
// Whether the write under way has ended; then `error` is 0 when all was written.
bool PortWriteEnded(PortIo* port, DWORD* error);
// Gives up the write under way; it has ended when this returns.
void PortCancelWrite(PortIo* port);
// GetCommModemStatus: MS_CTS_ON, MS_DSR_ON, MS_RLSD_ON, MS_RING_ON.
bool PortModemStatus(PortIo* port, DWORD* lines);
// EscapeCommFunction: SETDTR, CLRDTR, SETRTS, CLRRTS.
bool PortEscape(PortIo* port, DWORD function);
bool PortPurge(PortIo* port, DWORD flags);
// Acknowledges and reports the line errors (CE_* bits); false when the port
// itself is gone. Under Wine that is the only sign of a removed adapter, while
// some Windows drivers still succeed here after an unplug.
// `queued`: the bytes the driver holds.
bool PortClearErrors(PortIo* port, DWORD* errors, DWORD* queued);
// Unregisters, closes and frees; null is allowed.
void PortClose(PortIo* port);
// Sleeps until `wake` is set or `ms` pass.
void RestUntil(HANDLE wake, DWORD ms);
// Sets `wake` from any thread: the link's waits end, and it cancels its own call.
void PortWake(HANDLE wake);
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
