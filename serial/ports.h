// Which ports and speeds are offered, and how a chosen port is opened and set up.
#pragma once

#include <windows.h>

constexpr int kBaudRateCount = 17;
// Counts for taking the lists' texts, with room for any port name the
// system spells and the longest speed.
constexpr int kPortTextCount = 64;
constexpr int kSpeedTextCount = 16;
// About 50 ms at the fastest listed speed.
constexpr DWORD kInputQueueBytes = 65536;
extern const char* const BaudRateList[kBaudRateCount];

bool PortNameFilter(const WCHAR* name);
void ListPorts(void (*addName)(const WCHAR* name, void* context), void* context);

// The modem lines the user chose. Native-USB boards send only while DTR is
// high; auto-reset boards restart when it rises, so both stay low by default.
struct ModemLines {
    bool dtr, rts;
};

HANDLE OpenPort(const char* name);
void ApplyLineSettings(DCB& settings, DWORD speed, ModemLines lines);
// The queue, the line, reads that return at once and an empty input queue.
// False, with the driver's error, when it refuses the line settings: the
// port would run at whatever speed it had, and the plot would be garbage.
bool ConfigurePort(HANDLE port, DWORD speed, ModemLines lines);
// Raises or drops the lines at once; false when the driver cannot set them.
bool SetModemLines(HANDLE port, ModemLines lines);
// A read failing so says the device is gone, whatever ClearCommError says.
bool IsLossError(DWORD error);
int ParseSpeed(const char* text);
