// Between the window's face of the acquisition and the link thread that owns
// the port. Each Start makes a run of its own, so that a thread left behind
// by a hung driver never touches the next one.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition.h"
#include "frame_ring.h"
#include "link_health.h"

enum class LinkState : uint8_t { Opening, Running, Lost, Busy, Failed, Stopped };

constexpr int kReportTextLength = 64;

// Asked of the link by the window; under `LinkRun::lock`.
struct LinkRequests {
    bool stop;
    bool linesChanged;
    ModemLines lines;
    bool retryNow;
    WCHAR removed[kReportTextLength];  // a port Windows said went
    bool queryRemove;                  // Windows asks to take the open port's device away
    bool queryRemoveFailed;            // and then did not
    std::vector<std::vector<uint8_t>> sends;  // each written whole, in order
};

// What the link tells the window for the status row; under `LinkRun::lock`.
// Plain data, so that taking a copy never waits on the heap: a window's
// thread suspended inside an allocation must not stop the link.
struct LinkReport {
    LinkState state;
    char portName[kReportTextLength];  // a board followed to a new name changes it
    DWORD lostAtMs;
    LinkHealth health;
    WCHAR note[kReportTextLength];
    DWORD noteShownAtMs;
    DWORD noteShowMs;
    HANDLE notification;  // the open port's device registration, compared only
    ModemStatus modem;
};

// One Start's run. Start creates it and hands it to the link thread and the
// notifier thread; each of the three holds one of `users`, and the last to
// let go frees it (LeaveRun), never Stop: a driver that ignores its cancel
// may keep the link in it long after Stop has given up, and the run, its
// port and its ring must then still be there. The window's thread touches a
// run only while it is current; once Stop has asked it to end, a late link
// can reach nothing but its own run.
struct LinkRun {
    // Set before the threads start, read-only after.
    std::string startPortName;
    DWORD speed;
    HWND notifyWindow;
    uint32_t number;  // which run, for the recording: a late link's rows are refused
    bool portMayBeHeld;  // an earlier run's late link may still hold the port: busy, not failed
    AcquisitionEvents events;
    HANDLE wake;      // auto-reset: the link looks at its requests
    HANDLE opened;    // manual-reset: `startFailure` holds the open's result
    HANDLE released;  // auto-reset: the link closed the port Windows asked for
    // Both threads, under the lock.
    CRITICAL_SECTION lock;
    LinkRequests requests;
    LinkReport report;
    size_t sendBytesWaiting;  // asked for and not yet written or given up
    // Written by the link before `opened` is set, read by the window after.
    bool openFailed;
    StartFailure startFailure;
    // The window takes the flag back before draining the ring, so no
    // wake-up is lost.
    std::atomic<bool> framesPosted;
    FrameRing ring;
    // Posting to a window takes the window system's own lock, which a
    // window's thread stopped inside it would hold: the link only releases a
    // semaphore, and the run's notifier thread posts. `notifierStop`
    // (manual-reset) is set by the link as it leaves, and by Stop, so that a
    // late link's signals reach no window.
    HANDLE framesSignal, changedSignal, notifierStop;
    std::atomic<int> users;
};

DWORD WINAPI LinkMain(void* run);
// Frames wait in the ring: the window gets one post for them, not one each.
void PostFramesReadyOnce(LinkRun& run);
DWORD WINAPI NotifierMain(void* run);
// Drops one user's hold on the run; the last frees it.
void LeaveRun(LinkRun* run);
