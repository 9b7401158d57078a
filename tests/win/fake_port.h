// A scripted serial port on a virtual clock, linked in place of the Win32
// port. The link thread blocks in it until the test moves the clock, queues
// bytes or wakes it, and the test can wait until that thread is idle again. By default it keeps the rules Windows documents and its drivers
// follow: it refuses settings SetCommState refuses, its input queue holds
// what SetupComm asked for (4096 bytes otherwise) and overruns beyond it,
// reads fail after a line error until ClearCommError (abort-on-error), and a
// removed adapter fails reads and ClearCommError alike. `wineLoose` switches
// to what Wine does instead.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "../frame_bytes.h"

struct FakeArrival {
    DWORD atMs;
    uint8_t byte;
};

// A port SetupAPI lists.
struct FakeDevice {
    std::wstring name, description, hardwareId, instanceId;
};

struct FakePort {
    // The script.
    bool wineLoose = false;     // accepts any settings, unbounded queue, removal as Wine shows it
    bool windowsClock = false;  // the millisecond clock, and the tests' ticks, move in 15.6 ms steps
    DWORD openError = 0;        // non-zero: opens fail with it (ERROR_ACCESS_DENIED: another program holds it)
    bool refusesSettings = false;
    bool refusesQueueSize = false;
    DWORD removedError = 0;     // non-zero: the adapter is gone, and calls fail with this code
    bool clearsWhenRemoved = false;  // ClearCommError still succeeds on the removed adapter, as some drivers do
    bool sendsOnlyWithDtr = false;   // a native-USB board: silent while DTR is low
    bool dsrLow = false;             // with the port's DSR sensitivity on, every byte is dropped
    DCB reportedState = {};
    std::vector<FakeArrival> arrivals;
    std::vector<DWORD> lineErrorsAtMs;
    std::wstring devices = L"COM1|COM5|COM12|";  // the device list, '|' ending each name
    std::vector<FakeDevice> setupDevices;       // what SetupAPI lists beside it
    DWORD fileWriteError = 0;                   // non-zero: writes to files fail with it
    bool holdOpen = false;                      // opens wait until the test lets them go
    uint64_t usPerLook = 0;                     // each look at the driver takes this long; the device sends on
    DWORD failsReads = 0;        // non-zero: every read and wait fails at once with it, ClearCommError still fine
    bool refusesTimeouts = false;
    // A driver that ignores cancels: the next read to come is held, whatever
    // wakes it, until the test clears this; it then brings `lateBytes`.
    bool holdRead = false;
    std::vector<uint8_t> lateBytes;
    // A disk that stalls: the next write to come is held until the test clears this.
    bool holdFileWrite = false;
    DWORD heldWriteError = 0;  // non-zero: the held write then fails with it
    bool lineHeld = false;     // writes to the port stay under way (flow control held by the device)
    DWORD sendError = 0;       // non-zero: writes to the port fail at once with it
    DWORD modemLines = 0;      // MS_*_ON; a pty (wineLoose) cannot tell them

    // What the program did.
    std::string openedPath;
    int openAttempts = 0;
    int opens = 0;
    int closes = 0;
    int portCalls = 0;           // reads, waits and looks at the driver
    int heldCalls = 0;           // reads and writes being held now
    int setupListings = 0;
    std::string sent;            // what reached the device
    DWORD requestedQueue = 0;
    DCB appliedState = {};
    COMMTIMEOUTS timeouts = {};

    // The port's state.
    uint64_t clockUs = 1000000;
    size_t queueSize = 4096;
    std::deque<uint8_t> queue;
    size_t nextArrival = 0;
    size_t nextLineError = 0;
    DWORD pendingErrors = 0;
    bool abortOnError = false;
    bool dtr = false;

    DWORD NowMs() const { return static_cast<DWORD>(clockUs / 1000); }
};

extern FakePort g_fakePort;
void ResetFakePort();

// Queues bytes arriving at `atMs`.
void ArriveBytes(DWORD atMs, const std::vector<uint8_t>& bytes);
// Moves the virtual clock, waking whatever waits on it.
void MoveClock(uint64_t microseconds);
// Waits until the link thread is blocked on the port having seen every
// change, or has ended; false if neither comes.
bool WaitUntilLinkIdle();
// The notification handle of the port opened last, as WM_DEVICECHANGE names it.
HANDLE LastPortNotification();
// Lets held reads and writes go and waits until they have left the port.
void ReleaseHeld();
