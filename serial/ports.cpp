#include "ports.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <string>
#include <vector>

#include "port_io.h"

const char* const BaudRateList[kBaudRateCount] = {
    "1200",   "2400",   "4800",   "9600",   "14400",  "19200",   "28800",   "38400",   "56000",    "57600",
    "115200", "128000", "230400", "250000", "256000", "460800",  "500000",  "512000",  "921600",   "1000000",
    "1572864", "2000000", "12582912"};

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

struct ListedPort {
    std::wstring name, description;
};

// Numbered ports by number, then the rest by name.
bool ComesBefore(const ListedPort& a, const ListedPort& b)
{
    const auto number = [](const std::wstring& name) {
        return IsNumberedComPort(name.c_str(), name.size()) ? wcstoul(name.c_str() + 3, nullptr, 10) : ULONG_MAX;
    };
    if (number(a.name) != number(b.name)) return number(a.name) < number(b.name);
    return _wcsicmp(a.name.c_str(), b.name.c_str()) < 0;
}

bool Listed(const std::vector<ListedPort>& ports, const WCHAR* name)
{
    return std::any_of(ports.begin(), ports.end(),
                       [&](const ListedPort& port) { return _wcsicmp(port.name.c_str(), name) == 0; });
}

// The friendly name ends with the port's own name in brackets, which the list shows already.
void AddSetupPort(const PortDevice& device, void* context)
{
    auto& ports = *static_cast<std::vector<ListedPort>*>(context);
    if (!PortNameFilter(device.name) || Listed(ports, device.name)) return;
    std::wstring description = device.description;
    const std::wstring own = std::wstring(L" (") + device.name + L")";
    const size_t ownAt = description.size() - own.size();
    if (description.size() >= own.size() && _wcsicmp(description.c_str() + ownAt, own.c_str()) == 0)
        description.resize(ownAt);
    ports.push_back({device.name, description});
}

// Device ids are ASCII.
std::string Narrow(const WCHAR* text)
{
    std::string narrow;
    for (; *text; ++text) narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

void AddPresentPort(const WCHAR* name, const WCHAR*, void* context)
{
    static_cast<std::vector<PresentPort>*>(context)->push_back({Narrow(name), PortIdentity()});
}

void NoteIdentity(const PortDevice& device, void* context)
{
    for (PresentPort& port : *static_cast<std::vector<PresentPort>*>(context))
        if (_stricmp(port.name.c_str(), Narrow(device.name).c_str()) == 0)
            port.identity = ParsePortIdentity(Narrow(device.hardwareId).c_str(), Narrow(device.instanceId).c_str());
}

}  // namespace

bool PortNameFilter(const WCHAR* name)
{
    const size_t length = wcslen(name);
    if (length < 4 || _wcsnicmp(name, L"COM", 3) != 0) return false;
    return IsNumberedComPort(name, length) || length < 6;
}

// SetupAPI knows the descriptions; the device namespace also knows the
// ports no driver of the Ports class made. Its list is as long as the
// system's namespace: grow until it fits.
void ListPortDescriptions(void (*add)(const WCHAR* name, const WCHAR* description, void* context), void* context)
{
    std::vector<ListedPort> ports;
    PortListSetupDevices(AddSetupPort, &ports);
    std::vector<WCHAR> devices(kFirstDeviceListLength);
    while (PortListDevices(devices.data(), static_cast<DWORD>(devices.size())) == 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            devices.assign(1, L'\0');
            break;
        }
        devices.resize(devices.size() * 2);
    }
    for (const WCHAR* name = devices.data(); *name; name += wcslen(name) + 1)
        if (PortNameFilter(name) && !Listed(ports, name)) ports.push_back({name, L""});
    std::sort(ports.begin(), ports.end(), ComesBefore);
    for (const ListedPort& port : ports) add(port.name.c_str(), port.description.c_str(), context);
}

std::vector<PresentPort> ListPresentPorts()
{
    std::vector<PresentPort> ports;
    ListPortDescriptions(AddPresentPort, &ports);
    PortListSetupDevices(NoteIdentity, &ports);
    return ports;
}

bool ReadPortIdentity(const char* portName, PortIdentity* identity)
{
    *identity = PortIdentity();
    for (const PresentPort& port : ListPresentPorts())
        if (_stricmp(port.name.c_str(), portName) == 0) *identity = port.identity;
    return identity->known;
}

// Through the device namespace COM10 and above open like COM1.
PortIo* OpenPort(const char* name, HWND notify)
{
    if (!*name) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return PortOpen((std::string("\\\\.\\") + name).c_str(), notify);
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
    // An error then fails no later read, so an abort the link did not ask
    // for can only be the driver's own answer.
    settings.fAbortOnError = 0;
    // Flow control is off, but the driver refuses equal characters.
    settings.XonChar = 0x11;
    settings.XoffChar = 0x13;
    settings.XonLim = kFlowLimit;
    settings.XoffLim = kFlowLimit;
}

bool ConfigurePort(PortIo* port, DWORD speed, ModemLines lines, bool* lineRefused)
{
    *lineRefused = false;
    // Some virtual-COM drivers refuse a large queue and keep their own.
    PortSetQueue(port, kInputQueueBytes);
    DCB settings = {};
    settings.DCBlength = sizeof settings;
    PortGetState(port, &settings);
    ApplyLineSettings(settings, speed, lines);
    if (!PortSetState(port, &settings)) return !(*lineRefused = true);
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!PortSetTimeouts(port, &timeouts)) return false;
    // Bytes from before Start (another speed, an adapter's own buffer) are
    // not this run's and would count as skipped.
    PortPurge(port, PURGE_RXCLEAR | PURGE_RXABORT);
    return true;
}

bool SetModemLines(PortIo* port, ModemLines lines)
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

DWORD ParseSpeed(const WCHAR* text)
{
    DWORD speed = 0;
    int digits = 0;
    while (text[0] == L'0' && text[1]) ++text;  // a saved 0000115200 is 115200
    for (; *text >= L'0' && *text <= L'9' && digits < 9; ++text, ++digits) speed = speed * 10 + (*text - L'0');
    return !*text && speed >= kMinSpeed && speed <= kMaxSpeed ? speed : 0;
}
