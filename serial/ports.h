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

HANDLE OpenPort(const char* name);
void ApplyLineSettings(DCB& settings, DWORD speed);
// The queue, the line and reads that return at once. False when the driver
// refuses the line settings: the port would run at whatever speed it had,
// and the plot would be garbage.
bool ConfigurePort(HANDLE port, DWORD speed);
int ParseSpeed(const char* text);
