#include "ports.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "port_io.h"

const char* const BaudRateList[kBaudRateCount] = {
    "1200",   "2400",   "4800",   "9600",   "14400",  "19200",   "28800",   "38400",    "56000",
    "57600",  "115200", "128000", "256000", "512000", "921600", "1572864", "12582912"};

namespace {

constexpr DWORD kDeviceListLength = 65536;
constexpr WORD kFlowLimit = 128;

}  // namespace

bool PortNameFilter(const WCHAR* name)
{
    const size_t length = wcslen(name);
    return length > 3 && length < 6 && _wcsnicmp(name, L"COM", 3) == 0;
}

void ListPorts(void (*addName)(const WCHAR* name))
{
    std::vector<WCHAR> devices(kDeviceListLength);
    if (QueryDosDeviceW(nullptr, devices.data(), kDeviceListLength - 1) == 0) return;
    for (const WCHAR* name = devices.data(); *name; name += wcslen(name) + 1)
        if (PortNameFilter(name)) addName(name);
}

// Through the device namespace COM10 and above open like COM1.
HANDLE OpenPort(const char* name)
{
    if (!*name) return INVALID_HANDLE_VALUE;
    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\%.6s", name);
    return PortOpen(path);
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
    DCB settings = {};
    settings.DCBlength = sizeof settings;
    PortGetState(port, &settings);
    ApplyLineSettings(settings, speed);
    return PortSetState(port, &settings);
}

int ParseSpeed(const char* text)
{
    return std::atoi(text);
}
