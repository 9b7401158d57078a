#include "ports.h"

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "port_io.h"

const char* const BaudRateList[kBaudRateCount] = {
    "1200",   "2400",   "4800",   "9600",   "14400",  "19200",   "28800",   "38400",    "56000",
    "57600",  "115200", "128000", "256000", "512000", "921600", "1572864", "12582912"};

namespace {

constexpr DWORD kFirstDeviceListLength = 16384;
constexpr WORD kFlowLimit = 128;

bool IsNumberedComPort(const WCHAR* name, size_t length)
{
    if (length < 4 || length > 7) return false;
    for (size_t i = 3; i < length; ++i)
        if (name[i] < L'0' || name[i] > L'9') return false;
    return true;
}

}  // namespace

bool PortNameFilter(const WCHAR* name)
{
    const size_t length = wcslen(name);
    if (length < 4 || _wcsnicmp(name, L"COM", 3) != 0) return false;
    return IsNumberedComPort(name, length) || length < 6;
}

// The device list is as long as the system's namespace: grow until it fits.
void ListPorts(void (*addName)(const WCHAR* name, void* context), void* context)
{
    std::vector<WCHAR> devices(kFirstDeviceListLength);
    while (PortListDevices(devices.data(), static_cast<DWORD>(devices.size())) == 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
        devices.resize(devices.size() * 2);
    }
    for (const WCHAR* name = devices.data(); *name; name += wcslen(name) + 1)
        if (PortNameFilter(name)) addName(name, context);
}

// Through the device namespace COM10 and above open like COM1.
HANDLE OpenPort(const char* name)
{
    if (!*name) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return PortOpen((std::string("\\\\.\\") + name).c_str());
}

void ApplyLineSettings(DCB& settings, DWORD speed)
{
    settings.BaudRate = speed;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = 1;
    settings.fParity = 0;
    settings.fOutxCtsFlow = 0;
    settings.fOutxDsrFlow = 0;
    settings.fDtrControl = DTR_CONTROL_DISABLE;
    settings.fRtsControl = RTS_CONTROL_DISABLE;
    settings.fOutX = 0;
    settings.fInX = 0;
    settings.fErrorChar = 0;
    settings.fNull = 0;
    settings.fAbortOnError = 1;
    // Flow control is off, but the driver refuses equal characters.
    settings.XonChar = 0x11;
    settings.XoffChar = 0x13;
    settings.XonLim = kFlowLimit;
    settings.XoffLim = kFlowLimit;
}

bool ConfigurePort(HANDLE port, DWORD speed)
{
    // Some virtual-COM drivers refuse a large queue and keep their own.
    PortSetQueue(port, kInputQueueBytes);
    DCB settings = {};
    settings.DCBlength = sizeof settings;
    PortGetState(port, &settings);
    ApplyLineSettings(settings, speed);
    if (!PortSetState(port, &settings)) return false;
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    return PortSetTimeouts(port, &timeouts);
}

int ParseSpeed(const char* text)
{
    return std::atoi(text);
}
