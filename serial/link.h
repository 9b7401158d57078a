// Between the window's face of the acquisition and the link thread that owns
// the port. Each Start makes a run of its own, so that a thread left behind
// by a hung driver never touches the next one.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

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
};

struct LinkRun {
    // Set before the thread starts, read-only after.
    std::string startPortName;
    DWORD speed;
    AcquisitionEvents events;
    HANDLE wake;    // auto-reset: the link looks at its requests
    HANDLE opened;  // manual-reset: `startFailure` holds the open's result
    // Both threads, under the lock.
    CRITICAL_SECTION lock;
    LinkRequests requests;
    LinkReport report;
    // Written by the link before `opened` is set, read by the window after.
    bool openFailed;
    StartFailure startFailure;
    // The link publishes the port for Stop's CancelIoEx; the window takes
    // the flag back before draining the ring, so no wake-up is lost.
    std::atomic<HANDLE> port;
    std::atomic<bool> framesPosted;
    FrameRing ring;
    // Posting to a window takes the window system's own lock, which a
    // window's thread stopped inside it would hold: the link only releases a
    // semaphore, and the run's notifier thread posts. `signalled` and `posted`
    // count them, so that a test knows when every post is in the queue.
    HANDLE framesSignal, changedSignal, notifierStop;
    std::atomic<uint32_t> signalled, posted;
};

DWORD WINAPI LinkMain(void* run);
// Frames wait in the ring: the window gets one post for them, not one each.
void PostFramesReadyOnce(LinkRun& run);
DWORD WINAPI NotifierMain(void* run);
