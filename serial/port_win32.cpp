#include "port_io.h"

HANDLE PortOpen(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
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

void PortClearErrors(HANDLE port)
{
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
}

void PortClose(HANDLE port)
{
    CloseHandle(port);
}

DWORD PortClockMs()
{
    return GetTickCount();
}

void PortPause(DWORD milliseconds)
{
    Sleep(milliseconds);
}
