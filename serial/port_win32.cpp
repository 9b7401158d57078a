#include "port_io.h"

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <cwchar>

#include <dbt.h>

struct PortIo {
    HANDLE handle;
    // Manual-reset, for one overlapped call at a time: the link's.
    HANDLE ioEvent;
    // How the link waits for bytes: WaitCommEvent where the driver supports
    // it, else an overlapped read that returns at the first byte (Wine's
    // ptys fail WaitCommEvent at once), else a look every few milliseconds.
    bool waitByCommEvent;
    bool firstByteTimeouts;
    bool pollOnly;
    // Line errors that a read's look at the driver took, for PortClearErrors.
    DWORD errorsSeen;
    HDEVNOTIFY notification;
    // The one write under way, if any, with its own event.
    OVERLAPPED write;
    DWORD writeCount;
    bool writing;
};

namespace {

constexpr DWORD kIdLength = 512;

// The PortName value of the device's own key: empty when it has none.
void ReadPortName(HDEVINFO set, SP_DEVINFO_DATA* device, WCHAR* name, DWORD count)
{
    name[0] = L'\0';
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) return;
    DWORD type = 0, size = (count - 1) * sizeof(WCHAR);
    if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        size = 0;
    name[size / sizeof(WCHAR)] = L'\0';
    RegCloseKey(key);
}

void ReadProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, WCHAR* text, DWORD count)
{
    // Room for the two terminating zeros of a multi-string (the hardware ids).
    text[0] = text[count - 2] = text[count - 1] = L'\0';
    SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                      (count - 2) * sizeof(WCHAR), nullptr);
}

constexpr COMMTIMEOUTS kReturnAtFirstByte = {1, 0, 0, 0, 0};
// A driver that refuses the first-byte time-outs is looked at this often:
// its reads would return at once, and waiting on them would spin.
constexpr DWORD kPollMs = 10;

// Waits for the overlapped call or `wake`, and takes its result either way:
// a cancelled read may still have brought bytes. `cancelled` says whether the
// wait ended it; an abort it did not ask for is the driver's own answer. A
// driver that holds the call after its cancel holds this thread, never the
// next run: the event and the OVERLAPPED are this port's own.
bool FinishOverlapped(PortIo* port, OVERLAPPED* overlapped, HANDLE wake, DWORD timeoutMs, DWORD* transferred,
                      bool* cancelled)
{
    // A write that ends is news for the link, as a wake is.
    const HANDLE events[] = {overlapped->hEvent, wake, port->write.hEvent};
    const DWORD count = !wake ? 1 : port->writing ? 3 : 2;
    *cancelled = WaitForMultipleObjects(count, events, FALSE, timeoutMs) != WAIT_OBJECT_0;
    if (*cancelled) CancelIoEx(port->handle, overlapped);
    if (GetOverlappedResult(port->handle, overlapped, transferred, TRUE)) return true;
    return *cancelled && GetLastError() == ERROR_OPERATION_ABORTED;
}

bool ReadOverlapped(PortIo* port, void* buffer, DWORD count, DWORD* bytesRead, HANDLE wake, DWORD timeoutMs)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = port->ioEvent;
    bool ok = ReadFile(port->handle, buffer, count, bytesRead, &overlapped), cancelled = false;
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = FinishOverlapped(port, &overlapped, wake, timeoutMs, bytesRead, &cancelled);
    return ok;
}

// Ends once bytes or an error may be waiting, or when woken or timed out
// (`woken`). A driver that fails the wait by itself, at once or a moment
// later (Wine's ptys refuse it with 50), never gets it again: the read that
// follows tells whether the port is still there.
void WaitCommEventFor(PortIo* port, HANDLE wake, DWORD timeoutMs, bool* woken)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = port->ioEvent;
    DWORD mask = 0, unused = 0;
    bool waited = WaitCommEvent(port->handle, &mask, &overlapped), cancelled = false;
    if (!waited && GetLastError() == ERROR_IO_PENDING)
        waited = FinishOverlapped(port, &overlapped, wake, timeoutMs, &unused, &cancelled);
    *woken = cancelled;
    if (!cancelled && (!waited || mask == 0)) port->waitByCommEvent = false;
}

}  // namespace

PortIo* PortOpen(const char* path, HWND notify)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    PortIo* port = new PortIo();
    port->handle = handle;
    port->ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    port->write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    port->waitByCommEvent = SetCommMask(handle, EV_RXCHAR | EV_ERR | EV_CTS | EV_DSR | EV_RLSD | EV_RING);
    // Without it Windows cannot take the device away while the port is open
    // (disable, driver update, safe removal): only a handle's registration
    // hears the query.
    if (notify) {
        DEV_BROADCAST_HANDLE filter = {};
        filter.dbch_size = sizeof filter;
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = handle;
        port->notification = RegisterDeviceNotificationW(notify, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    return port;
}

HANDLE PortNotification(const PortIo* port)
{
    return port->notification;
}

bool PortSetQueue(PortIo* port, DWORD inputBytes)
{
    return SetupComm(port->handle, inputBytes, 0);
}

bool PortGetState(PortIo* port, DCB* settings)
{
    return GetCommState(port->handle, settings);
}

bool PortSetState(PortIo* port, const DCB* settings)
{
    return SetCommState(port->handle, const_cast<DCB*>(settings));
}

bool PortSetTimeouts(PortIo* port, const COMMTIMEOUTS* timeouts)
{
    return SetCommTimeouts(port->handle, const_cast<COMMTIMEOUTS*>(timeouts));
}

// Asks for what the driver holds and no more, so that the read ends at once
// whatever the time-outs; one still pending is cancelled, keeping what it
// brought. Nothing there costs no read at all.
bool PortRead(PortIo* port, void* buffer, DWORD count, DWORD* bytesRead)
{
    *bytesRead = 0;
    COMSTAT status = {};
    DWORD errors = 0;
    if (!ClearCommError(port->handle, &errors, &status)) return false;
    port->errorsSeen |= errors;
    const DWORD available = status.cbInQue < count ? status.cbInQue : count;
    return !available || ReadOverlapped(port, buffer, available, bytesRead, nullptr, 0);
}

bool PortWaitRead(PortIo* port, HANDLE wake, DWORD timeoutMs, void* buffer, DWORD count, DWORD* bytesRead)
{
    *bytesRead = 0;
    // In a stream bytes are already there: taking them costs no wait, which
    // under Wine is several round trips to its server.
    if (!PortRead(port, buffer, count, bytesRead)) return false;
    if (*bytesRead) return true;
    if (port->waitByCommEvent) {
        bool woken = false;
        WaitCommEventFor(port, wake, timeoutMs, &woken);
        if (woken) return true;
        if (port->waitByCommEvent) return PortRead(port, buffer, count, bytesRead);
    }
    if (port->pollOnly) {
        RestUntil(wake, timeoutMs < kPollMs ? timeoutMs : kPollMs);
        return PortRead(port, buffer, count, bytesRead);
    }
    // One byte, so that the read ends as it comes however closely the rest
    // follows (Wine keeps a read under the interval time-out going, inside
    // ReadFile, for as long as bytes keep coming); the rest is taken at once.
    if (!port->firstByteTimeouts && !SetCommTimeouts(port->handle, const_cast<COMMTIMEOUTS*>(&kReturnAtFirstByte))) {
        port->pollOnly = true;
        return true;
    }
    port->firstByteTimeouts = true;
    const bool waited = ReadOverlapped(port, buffer, 1, bytesRead, wake, timeoutMs);
    if (!waited || *bytesRead == 0 || count == 1) return waited;
    DWORD more = 0;
    PortRead(port, static_cast<uint8_t*>(buffer) + 1, count - 1, &more);
    *bytesRead += more;
    return true;
}

void RestUntil(HANDLE wake, DWORD ms)
{
    WaitForSingleObject(wake, ms);
}

void PortWake(HANDLE wake)
{
    SetEvent(wake);
}

bool PortStartWrite(PortIo* port, const void* data, DWORD count)
{
    const HANDLE event = port->write.hEvent;
    port->write = {};
    port->write.hEvent = event;
    port->writeCount = count;
    DWORD written = 0;
    if (!WriteFile(port->handle, data, count, &written, &port->write) && GetLastError() != ERROR_IO_PENDING)
        return false;
    port->writing = true;
    return true;
}

bool PortWriteEnded(PortIo* port, DWORD* error)
{
    DWORD written = 0;
    if (!GetOverlappedResult(port->handle, &port->write, &written, FALSE)) {
        *error = GetLastError();
        if (*error == ERROR_IO_INCOMPLETE) return false;
    } else {
        *error = written == port->writeCount ? 0 : ERROR_WRITE_FAULT;
    }
    port->writing = false;
    return true;
}

void PortCancelWrite(PortIo* port)
{
    if (!port->writing) return;
    CancelIoEx(port->handle, &port->write);
    DWORD written = 0;
    GetOverlappedResult(port->handle, &port->write, &written, TRUE);
    port->writing = false;
}

bool PortModemStatus(PortIo* port, DWORD* lines)
{
    return GetCommModemStatus(port->handle, lines);
}

bool PortEscape(PortIo* port, DWORD function)
{
    return EscapeCommFunction(port->handle, function);
}

bool PortPurge(PortIo* port, DWORD flags)
{
    return PurgeComm(port->handle, flags);
}

bool PortClearErrors(PortIo* port, DWORD* errors, DWORD* queued)
{
    COMSTAT status = {};
    *errors = 0;
    const bool ok = ClearCommError(port->handle, errors, &status);
    *errors |= port->errorsSeen;
    port->errorsSeen = 0;
    *queued = status.cbInQue;
    return ok;
}

void PortClose(PortIo* port)
{
    if (!port) return;
    if (port->notification) UnregisterDeviceNotification(port->notification);
    PortCancelWrite(port);
    CloseHandle(port->handle);
    CloseHandle(port->ioEvent);
    CloseHandle(port->write.hEvent);
    delete port;
}

DWORD PortListDevices(WCHAR* buffer, DWORD count)
{
    return QueryDosDeviceW(nullptr, buffer, count);
}

bool PortWriteFile(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

DWORD PortClockMs()
{
    return GetTickCount();
}

uint64_t PortPreciseMicroseconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                                 now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

void PortListSetupDevices(void (*add)(const PortDevice& device, void* context), void* context)
{
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        WCHAR name[64], description[256], hardwareId[kIdLength], instanceId[kIdLength] = L"";
        ReadPortName(set, &device, name, 64);
        if (!name[0]) continue;
        ReadProperty(set, &device, SPDRP_FRIENDLYNAME, description, 256);
        if (!description[0]) ReadProperty(set, &device, SPDRP_DEVICEDESC, description, 256);
        ReadProperty(set, &device, SPDRP_HARDWAREID, hardwareId, kIdLength);
        // An interface of a composite device (&MI_xx) has its serial number on the device.
        DEVINST parent = 0;
        if (!SetupDiGetDeviceInstanceIdW(set, &device, instanceId, kIdLength, nullptr) ||
            (wcsstr(instanceId, L"&MI_") && (CM_Get_Parent(&parent, device.DevInst, 0) != CR_SUCCESS ||
                                              CM_Get_Device_IDW(parent, instanceId, kIdLength, 0) != CR_SUCCESS)))
            instanceId[0] = L'\0';
        add({name, description, hardwareId, instanceId}, context);
    }
    SetupDiDestroyDeviceInfoList(set);
}
