// The run: Start opens and sets up the port, each timer tick drains what the
// driver holds into the sweep, a lost port is reopened until it returns, and
// Stop ends it all. The window hears of it through AcquisitionEvents.
#pragma once

#include <windows.h>

#include "link_health.h"
#include "ports.h"
#include "sweep_state.h"

// Filled in by the user interface: how the acquisition tells it what changed.
struct AcquisitionEvents {
    void (*sweepChanged)(const SweepState& state);
    void (*statusChanged)();
    void (*recordingFailed)(DWORD error);
};
void SetAcquisitionEvents(const AcquisitionEvents& events);

constexpr DWORD kRetryPeriodMs = 500;
constexpr DWORD kNoteShowMs = 3000;
constexpr DWORD kDtrHintAfterMs = 3000;

extern SweepState g_sweep;

// Why Start failed: the system's error, and whether it was the open or the
// line settings that failed.
struct StartFailure {
    DWORD error;
    bool settingsRefused;
};

// False when the port cannot be opened or refuses the settings; it is closed again.
bool StartAcquisition(const char* portName, DWORD speed, ModemLines lines, StartFailure* failure);
void StopAcquisition();
void AcquisitionTick();
// Taken at the next open; a running port gets them at once.
void SetAcquisitionModemLines(ModemLines lines);
// A device came or went: a lost port is tried again at once.
void RetryLostPortNow();
// Windows named a port that went or came.
void NotePortRemoved(const WCHAR* name);
void NotePortArrived(const WCHAR* name);
bool IsPortOpen();
bool IsPortLost();
uint32_t LinkFramesPerSecond();
// The link field of the status row.
int FormatLinkField(WCHAR* text, int size);
