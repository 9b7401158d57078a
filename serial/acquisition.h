// The run, as the window sees it: Start hands the port to a link thread of
// its own, the frames it reads come back through a ring, and Stop ends it
// all. Every function here is for the window's thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "link_health.h"
#include "ports.h"
#include "sweep_state.h"

// Filled in by the user interface. `framesReady` and `linkChanged` are called
// on the link thread and `recordingFailed` on the recording's writer, so they
// may only post to the window.
struct AcquisitionEvents {
    void (*framesReady)();
    void (*linkChanged)();
    void (*recordingFailed)();
};
void SetAcquisitionEvents(const AcquisitionEvents& events);

constexpr DWORD kRetryPeriodMs = 500;
constexpr DWORD kNoteShowMs = 3000;
constexpr DWORD kDtrHintAfterMs = 3000;
constexpr DWORD kSendNoteShowMs = 2000;
// Sends waiting beyond this are refused: the line is not taking them.
constexpr size_t kMostSendBytesWaiting = 64 * 1024;
// How long Start waits for the open before it says the port is opening, and
// how long Stop waits for a driver before it leaves the thread to finish.
constexpr DWORD kOpenWaitMs = 2000;
constexpr DWORD kStopWaitMs = 1000;

// Why Start failed: the port and speed asked for, the system's error, and
// whether it was the open or the line settings that failed.
struct StartFailure {
    std::string portName;
    DWORD speed;
    DWORD error;
    bool settingsRefused;
};

// False when the port cannot be opened or refuses the settings. An open that
// takes longer than kOpenWaitMs is reported later: `linkChanged`, then
// TakeLateStartFailure.
// `notifyWindow` hears Windows ask for the open port's device.
bool StartAcquisition(const char* portName, DWORD speed, ModemLines lines, HWND notifyWindow, StartFailure* failure);
bool TakeLateStartFailure(StartFailure* failure);
void StopAcquisition();
// Applies what the ring holds to the sweep; false when nothing came.
bool TakeAcquiredFrames(SweepState& sweep);
// After a batch is drawn: frames that came meanwhile, and later ones, get a
// post of their own.
void RearmFramesReady();
bool IsAcquiring();
// Taken at the next open; a running port gets them at once.
void SetAcquisitionModemLines(ModemLines lines);
// A device came or went: a lost port is tried again at once.
void RetryLostPortNow();
// Windows named a port that went.
void NotePortRemoved(const WCHAR* name);
// Whether a handle's device notification is the run's port's (open, or closed
// for Windows to take its device).
bool IsOpenPortNotification(HANDLE notification);
// Windows asks to take the open port's device away (a disable, a driver
// update, a safe removal): the port is closed before this returns, unless
// the driver holds the link past Stop's wait, and not reopened until
// Windows gives up or the port is gone.
void ReleasePortForRemoval();
void RetakePortAfterRemovalFailed();
// The new name of a board followed to another port, once.
bool TakeMovedPort(std::string* name);
bool IsPortLost();
uint32_t LinkFramesPerSecond();
// The link field of the status row.
int FormatLinkField(WCHAR* text, int size);
// Hands bytes to the link, written between reads after any still queued.
// False when they were not taken; the link field says why.
bool SendToPort(const uint8_t* bytes, size_t count);
// The modem status lines as the link last read them; `known` false where
// the driver cannot report them.
struct ModemStatus { bool known; bool cts, dsr, dcd, ri; };
ModemStatus LinkModemStatus();
