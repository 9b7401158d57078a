#include "port_io.h"

HANDLE PortOpen(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool PortSetQueue(HANDLE port, DWORD inputBytes)
{
    return SetupComm(port, inputBytes, 0);
}

bool PortGetState(HANDLE port, DCB* settings)
{
    return GetCommState(port, settings);
}

bool PortSetState(HANDLE port, const DCB* settings)
{
    return SetCommState(port, const_cast<DCB*>(settings));
}

bool PortSetTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts)
{
    return SetCommTimeouts(port, const_cast<COMMTIMEOUTS*>(timeouts));
}

bool PortRead(HANDLE port, void* buffer, DWORD count, DWORD* bytesRead)
{
    *bytesRead = 0;
    return ReadFile(port, buffer, count, bytesRead, nullptr);
}

bool PortEscape(HANDLE port, DWORD function)
{
    return EscapeCommFunction(port, function);
}

bool PortPurge(HANDLE port, DWORD flags)
{
    return PurgeComm(port, flags);
}

bool PortClearErrors(HANDLE port, DWORD* errors)
{
    *errors = 0;
    return ClearCommError(port, errors, nullptr);
}

void PortClose(HANDLE port)
{
    CloseHandle(port);
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
