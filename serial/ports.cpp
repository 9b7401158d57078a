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
constexpr DWORD kErrorNoSuchDevice = 433;

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

void ApplyLineSettings(DCB& settings, DWORD speed, ModemLines lines)
{
    settings.BaudRate = speed;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = 1;
    settings.fParity = 0;
    settings.fOutxCtsFlow = 0;
    settings.fOutxDsrFlow = 0;
    settings.fDtrControl = lines.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    settings.fRtsControl = lines.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    // The driver keeps what the last program set: with DSR sensitivity left
    // on it drops every byte while DSR is low.
    settings.fDsrSensitivity = 0;
    settings.fTXContinueOnXoff = 0;
    settings.EofChar = 0;
    settings.EvtChar = 0;
    settings.ErrorChar = 0;
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

bool ConfigurePort(HANDLE port, DWORD speed, ModemLines lines)
{
    // Some virtual-COM drivers refuse a large queue and keep their own.
    PortSetQueue(port, kInputQueueBytes);
    DCB settings = {};
    settings.DCBlength = sizeof settings;
    PortGetState(port, &settings);
    ApplyLineSettings(settings, speed, lines);
    if (!PortSetState(port, &settings)) return false;
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!PortSetTimeouts(port, &timeouts)) return false;
    // Bytes from before Start (another speed, an adapter's own buffer) are
    // not this run's and would count as skipped.
    PortPurge(port, PURGE_RXCLEAR | PURGE_RXABORT);
    return true;
}

bool SetModemLines(HANDLE port, ModemLines lines)
{
    const bool dtr = PortEscape(port, lines.dtr ? SETDTR : CLRDTR);
    return PortEscape(port, lines.rts ? SETRTS : CLRRTS) && dtr;
}

bool IsLossError(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_HANDLE:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

int ParseSpeed(const char* text)
{
    return std::atoi(text);
}
