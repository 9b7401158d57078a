// A scripted serial port on a virtual clock, linked in place of the Win32
// port: bytes arrive at given times, line errors stop reads until they are
// acknowledged (as with abort-on-error), and settings can be refused.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct FakeArrival {
    DWORD atMs;
    uint8_t byte;
};

struct FakePort {
    // The script.
    bool openFails = false;
    bool refusesSettings = false;
    bool hungUp = false;  // every read fails, as after the device vanished
    DCB reportedState = {};
    std::vector<FakeArrival> arrivals;
    std::vector<DWORD> lineErrorsAtMs;

    // What the program did.
    std::string openedPath;
    int opens = 0;
    int closes = 0;
    int reads = 0;
    int errorAcknowledgements = 0;
    DCB appliedState = {};
    COMMTIMEOUTS timeouts = {};
    bool timeoutsSet = false;

    DWORD clockMs = 1000;
    size_t nextArrival = 0;
    size_t nextLineError = 0;
    bool errorPending = false;
};

extern FakePort g_fakePort;
void ResetFakePort();

// Queues bytes arriving one every `perByteMs` from `startMs` on.
void ArriveBytes(DWORD startMs, double perByteMs, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> FrameBytes(int16_t v1, int16_t v2, int16_t v3);
