// Which ports and speeds are offered, and how a chosen port is opened and set up.
#pragma once

#include <windows.h>

#include <vector>

#include "port_identity.h"

constexpr int kBaudRateCount = 23;
constexpr DWORD kMinSpeed = 50;
constexpr DWORD kMaxSpeed = 12582912;
// Counts for taking the lists' texts, with room for any port name the
// system spells and the longest speed.
constexpr int kPortTextCount = 64;
constexpr int kSpeedTextCount = 16;
// About 50 ms at the fastest listed speed.
constexpr DWORD kInputQueueBytes = 65536;
extern const char* const BaudRateList[kBaudRateCount];

bool PortNameFilter(const WCHAR* name);
// The present ports, COM2 before COM10, each with its device's description
// (empty for names only the device namespace knows: Wine's, virtual pairs).
void ListPortDescriptions(void (*add)(const WCHAR* name, const WCHAR* description, void* context), void* context);
// False when the port is absent or its device has no VID and PID.
bool ReadPortIdentity(const char* portName, PortIdentity* identity);
// Every present port with its identity where it has one: what FollowedPort
// takes, now and (the names) at the loss.
std::vector<PresentPort> ListPresentPorts();

// The modem lines the user chose. Native-USB boards send only while DTR is
// high; auto-reset boards restart when it rises, so both stay low by default.
struct ModemLines {
    bool dtr, rts;
};

struct PortIo;
// Null, with the system's error, when it cannot be opened.
PortIo* OpenPort(const char* name, HWND notify);
void ApplyLineSettings(DCB& settings, DWORD speed, ModemLines lines);
// The queue, the line, reads that return at once and an empty input queue.
// False, with the driver's error, when it refuses the line settings
// (`lineRefused`: the port would run at whatever speed it had, and the plot
// would be garbage) or the time-outs (reads would return at once and spin).
bool ConfigurePort(PortIo* port, DWORD speed, ModemLines lines, bool* lineRefused);
// Raises or drops the lines at once; false when the driver cannot set them.
bool SetModemLines(PortIo* port, ModemLines lines);
// A read failing so says the device is gone, whatever ClearCommError says.
bool IsLossError(DWORD error);
// 0 unless a whole number from kMinSpeed to kMaxSpeed.
DWORD ParseSpeed(const WCHAR* text);
