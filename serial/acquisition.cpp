#include "acquisition.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "history.h"
#include "link.h"
#include "port_io.h"
#include "recording.h"

namespace {

// The window's thread only. `g_run` is the current run, on which the window
// holds one of its users until Stop.
LinkRun* g_run;
HANDLE g_linkThread, g_notifierThread;
uint32_t g_runNumber;
// Links that Stop gave up on, with the port each opened: while one is still
// in its driver, it may hold that port.
struct AbandonedLink {
    HANDLE thread;
    std::string portName;
};
std::vector<AbandonedLink> g_abandoned;
AcquisitionEvents g_events;
ModemLines g_lines;
std::string g_followedPort;  // the run's port as the window last heard of it
uint32_t g_droppedFromView;
// Why the window itself did not hand a send to the link, and since when.
WCHAR g_sendNote[kReportTextLength];
DWORD g_sendNoteAtMs;
RingFrame g_taken[kMaxFramesPerTick];
Frame g_batch[kMaxFramesPerTick];

// Frames that left the driver together go to the history as one batch, and
// before the sweep, whose trigger looks back into it.
void ApplyBatch(SweepState& sweep, const RingFrame* taken, int count)
{
    for (int i = 0; i < count; ++i) g_batch[i] = taken[i].frame;
    if (sweep.history) AppendHistory(*sweep.history, g_batch, count, taken[0].timeMs);
    for (int i = 0; i < count; ++i) ApplyFrame(sweep, taken[i].frame, taken[i].timeMs);
}

// A gap (a lost port, frames the view had to drop) starts a batch of its own.
void ApplyTaken(SweepState& sweep, const RingFrame* taken, int count)
{
    for (int first = 0, next = 1; first < count; first = next++) {
        if (taken[first].afterGap) MarkGap(sweep);
        while (next < count && !taken[next].afterGap && taken[next].timeMs == taken[first].timeMs) ++next;
        ApplyBatch(sweep, taken + first, next - first);
    }
}

template <typename Change>
void Request(Change change)
{
    if (!g_run) return;
    EnterCriticalSection(&g_run->lock);
    change(g_run->requests);
    LeaveCriticalSection(&g_run->lock);
    PortWake(g_run->wake);
}

LinkReport Report()
{
    LinkReport report = {};
    report.state = LinkState::Stopped;
    if (!g_run) return report;
    EnterCriticalSection(&g_run->lock);
    report = g_run->report;
    LeaveCriticalSection(&g_run->lock);
    return report;
}

bool HoldsPort(const AbandonedLink& link)
{
    return WaitForSingleObject(link.thread, 0) == WAIT_TIMEOUT;
}

// Whether a link Stop gave up on may still hold the port; the ones that
// have ended are forgotten.
bool AbandonedLinkMayHold(const std::string& portName)
{
    bool held = false;
    for (size_t i = 0; i < g_abandoned.size();) {
        if (HoldsPort(g_abandoned[i])) {
            held = held || _stricmp(g_abandoned[i].portName.c_str(), portName.c_str()) == 0;
            ++i;
            continue;
        }
        CloseHandle(g_abandoned[i].thread);
        g_abandoned.erase(g_abandoned.begin() + static_cast<ptrdiff_t>(i));
    }
    return held;
}

// Waits for the link to finish; one that hangs in its driver is left to end
// on its own, and frees its run as it leaves. From here on it may record no
// row and reach no window.
void EndRun()
{
    if (!g_run) return;
    SetRecordedRun(0);
    Request([](LinkRequests& requests) { requests.stop = true; });
    SetEvent(g_run->notifierStop);
    const HANDLE threads[] = {g_linkThread, g_notifierThread};
    const bool ended = WaitForMultipleObjects(2, threads, TRUE, kStopWaitMs) == WAIT_OBJECT_0;
    if (ended)
        CloseHandle(g_linkThread);
    else
        g_abandoned.push_back({g_linkThread, g_run->startPortName});
    CloseHandle(g_notifierThread);
    g_linkThread = g_notifierThread = nullptr;
    LeaveRun(g_run);
    g_run = nullptr;
}

}  // namespace

void SetAcquisitionEvents(const AcquisitionEvents& events)
{
    g_events = events;
    SetRecordingFailureHandler(events.recordingFailed);
}

bool IsAcquiring()
{
    return g_run != nullptr;
}

bool IsPortLost()
{
    const LinkState state = Report().state;
    return state == LinkState::Lost || state == LinkState::Busy;
}

bool StartAcquisition(const char* portName, DWORD speed, ModemLines lines, HWND notifyWindow, StartFailure* failure)
{
    EndRun();
    g_lines = lines;
    LinkRun* run = new LinkRun();
    run->startPortName = portName;
    run->speed = speed;
    run->notifyWindow = notifyWindow;
    run->number = ++g_runNumber;
    run->portMayBeHeld = AbandonedLinkMayHold(portName);
    run->events = g_events;
    run->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    run->opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    run->released = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    run->users = 3;
    run->requests.lines = lines;
    run->report.state = LinkState::Opening;
    run->framesSignal = CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr);
    run->changedSignal = CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr);
    run->notifierStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    InitializeCriticalSection(&run->lock);
    g_notifierThread = CreateThread(nullptr, 0, NotifierMain, run, 0, nullptr);
    g_linkThread = CreateThread(nullptr, 0, LinkMain, run, 0, nullptr);
    g_run = run;
    g_droppedFromView = 0;
    g_sendNote[0] = L'\0';
    g_followedPort = portName;
    SetRecordedRun(run->number);
    const bool answered = WaitForSingleObject(run->opened, kOpenWaitMs) == WAIT_OBJECT_0;
    return !answered || !TakeLateStartFailure(failure);
}

bool TakeLateStartFailure(StartFailure* failure)
{
    if (!g_run || WaitForSingleObject(g_run->opened, 0) != WAIT_OBJECT_0 || !g_run->openFailed) return false;
    *failure = g_run->startFailure;
    failure->portName = g_run->startPortName;
    failure->speed = g_run->speed;
    EndRun();
    return true;
}

void StopAcquisition()
{
    EndRun();
}

bool TakeAcquiredFrames(SweepState& sweep)
{
    if (!g_run) return false;
    BeginTick(sweep);
    for (;;) {
        const uint32_t droppedBefore = g_droppedFromView;
        const int count = TakeRingFrames(g_run->ring, g_taken, kMaxFramesPerTick, &g_droppedFromView);
        if (count <= 0) break;
        if (g_droppedFromView != droppedBefore) g_taken[0].afterGap = true;
        ApplyTaken(sweep, g_taken, count);
    }
    EndTick(sweep);
    return sweep.framesThisTick > 0;
}

void RearmFramesReady()
{
    if (!g_run) return;
    g_run->framesPosted.store(false);
    // The flag is down before the ring is looked at, or a hand-over in
    // between would find it up and never post.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (!RingIsEmpty(g_run->ring)) PostFramesReadyOnce(*g_run);
}

void SetAcquisitionModemLines(ModemLines lines)
{
    g_lines = lines;
    Request([lines](LinkRequests& requests) {
        requests.lines = lines;
        requests.linesChanged = true;
    });
}

void RetryLostPortNow()
{
    Request([](LinkRequests& requests) { requests.retryNow = true; });
}

void NotePortRemoved(const WCHAR* name)
{
    Request([name](LinkRequests& requests) { swprintf(requests.removed, kReportTextLength, L"%ls", name); });
}

bool IsOpenPortNotification(HANDLE notification)
{
    return notification && Report().notification == notification;
}

void ReleasePortForRemoval()
{
    if (!g_run) return;
    Request([](LinkRequests& requests) { requests.queryRemove = true; });
    WaitForSingleObject(g_run->released, kStopWaitMs);
}

void RetakePortAfterRemovalFailed()
{
    Request([](LinkRequests& requests) { requests.queryRemoveFailed = true; });
}

bool TakeMovedPort(std::string* name)
{
    if (!g_run) return false;
    *name = Report().portName;
    if (name->empty() || *name == g_followedPort) return false;
    g_followedPort = *name;
    return true;
}

uint32_t LinkFramesPerSecond()
{
    const LinkReport report = Report();
    return report.state == LinkState::Running ? report.health.framesPerSecond : 0;
}

bool SendToPort(const uint8_t* bytes, size_t count)
{
    if (!g_run) return false;
    const LinkReport report = Report();
    bool taken = false;
    if (report.state == LinkState::Running) {
        EnterCriticalSection(&g_run->lock);
        taken = g_run->sendBytesWaiting + count <= kMostSendBytesWaiting;
        if (taken) {
            g_run->sendBytesWaiting += count;
            g_run->requests.sends.emplace_back(bytes, bytes + count);
        }
        LeaveCriticalSection(&g_run->lock);
    }
    if (taken) {
        PortWake(g_run->wake);
        return true;
    }
    if (report.state == LinkState::Running)
        swprintf(g_sendNote, kReportTextLength, L"not sent: 64 KiB already wait to be sent");
    else
        swprintf(g_sendNote, kReportTextLength, L"not sent: %hs is lost", report.portName);
    g_sendNoteAtMs = PortClockMs();
    return false;
}

ModemStatus LinkModemStatus()
{
    return Report().modem;
}

// A send the window refused says so over everything for a moment; a lost or
// busy port overrides every other note; a note overrides the health.
int FormatLinkField(WCHAR* text, int size)
{
    if (!g_run) return 0;
    const LinkReport report = Report();
    const DWORD now = PortClockMs();
    if (g_sendNote[0] && now - g_sendNoteAtMs < kSendNoteShowMs) return swprintf(text, size, L"%ls", g_sendNote);
    const unsigned long away = static_cast<unsigned long>((now - report.lostAtMs) / 1000);
    const char* port = report.portName;
    switch (report.state) {
    case LinkState::Stopped:
    case LinkState::Failed:
        return 0;
    case LinkState::Opening:
        return swprintf(text, size, L"opening %hs…", g_run->startPortName.c_str());
    case LinkState::Lost:
        return swprintf(text, size, L"port lost: waiting for %hs, %lu s", port, away);
    case LinkState::Busy:
        return swprintf(text, size, L"%hs busy, %lu s", port, away);
    case LinkState::Running:
        break;
    }
    if (report.note[0] && now - report.noteShownAtMs < report.noteShowMs) return swprintf(text, size, L"%ls", report.note);
    if (!g_lines.dtr && now - report.health.lastByteMs >= kDtrHintAfterMs)
        return swprintf(text, size, L"no data; DTR is off (Порт → DTR)");
    char health[128];
    FormatLinkHealth(report.health, now, health, sizeof health);
    if (!g_droppedFromView) return swprintf(text, size, L"%hs", health);
    return swprintf(text, size, L"%hs  view dropped %lu", health, static_cast<unsigned long>(g_droppedFromView));
}
