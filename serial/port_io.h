// The few calls through which the acquisition reaches the serial port, the
// system's device list, the recording file and the clocks. The program links
// the Win32 ones (port_win32.cpp); tests link a scripted port that refuses,
// overruns and fails as Windows documents.
#pragma once

#include <windows.h>

#include <cstdint>

HANDLE PortOpen(const char* path);
bool PortSetQueue(HANDLE port, DWORD inputBytes);
bool PortGetState(HANDLE port, DCB* settings);
bool PortSetState(HANDLE port, const DCB* settings);
bool PortSetTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);
bool PortRead(HANDLE port, void* buffer, DWORD count, DWORD* bytesRead);
// Acknowledges and reports the line errors (CE_* bits); false when the port
// itself is gone, which is the only way a removed adapter shows under Wine.
bool PortClearErrors(HANDLE port, DWORD* errors);
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
