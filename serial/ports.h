// Which ports and speeds are offered, and how a chosen port is opened and set up.
#pragma once

#include <windows.h>

constexpr int kBaudRateCount = 17;
// Counts for taking the lists' texts: a port name has at most 6 characters,
// a speed text at most 8, each with its terminator.
constexpr int kPortTextCount = 7;
constexpr int kSpeedTextCount = 9;
extern const char* const BaudRateList[kBaudRateCount];

bool PortNameFilter(const WCHAR* name);
void ListPorts(void (*addName)(const WCHAR* name));

HANDLE OpenPort(const char* name);
void ApplyLineSettings(DCB& settings, DWORD speed);
// False when the driver refuses the settings: the port would run at whatever
// speed it had, and the plot would be garbage.
bool ConfigurePort(HANDLE port, DWORD speed);
int ParseSpeed(const char* text);
