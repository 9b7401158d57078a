// The link thread: it opens the port, waits for bytes without polling, cuts
// them into frames for the view and the recording, notices a loss, reopens,
// and closes. Everything here but the run's shared parts is its own.
#include "link.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <deque>

#include <timeapi.h>

#include "port_io.h"
#include "ports.h"
#include "recording.h"
#include "system_text.h"

namespace {

// After a round that brought frames the link lets the next ones gather this
// long, so that a fast stream costs a read, a hand-over and a paint per gap
// rather than per frame; a frame after a pause is still read as it comes.
constexpr DWORD kGatherMs = 2;
// A round the driver failed is followed by this rest, and a second in a row
// is a loss: a driver that fails every call at once must not spin a core.
constexpr DWORD kFailedRoundRestMs = 10;
constexpr int kFailedRoundsForLoss = 2;
// The fine timer is held while frames flow, and let go after this silence.
constexpr DWORD kFineTimerHoldMs = 1000;
// Windows asked for the port's device: no reopen until it says it did not
// take it, the port is gone, or this long has passed.
constexpr DWORD kQueryRemoveHoldMs = 5000;
// A write the line has not taken by then (flow control held by the device,
// a stalled driver) is given up.
constexpr DWORD kSendLimitMs = 1000;
constexpr DWORD kSentNoteShowMs = 2000;
// The modem lines are looked at no more often than this; a driver that
// signals their changes wakes the link for the next look.
constexpr DWORD kModemLookMs = 100;

// The link's own state for one run.
struct Link {
    LinkRun* run;
    PortIo* port = nullptr;
    // The board on the port, noted at Start, and the names present when it
    // was lost: a board with no serial number of its own comes back under a
    // new name in another socket.
    PortIdentity identity;
    std::vector<std::string> presentAtLoss;
    ModemLines lines;
    LinkReport report;
    ReceiveArea area;
    Frame frames[kMaxFramesPerTick];
    DWORD nextRetryMs;
    bool reopened;
    DWORD reopenedAtMs;
    bool gapPending;
    int failedRounds;
    bool fineTimer;
    DWORD lastFramesMs;
    bool reopenHeld;
    DWORD heldSinceMs;
    // What the window asked to send, oldest first; the front is being
    // written when `writing`.
    std::deque<std::vector<uint8_t>> sends;
    bool writing;
    DWORD writeStartedMs;
    DWORD modemLookedAtMs;
};

void Notify(HANDLE signal)
{
    ReleaseSemaphore(signal, 1, nullptr);
}

// Each pass publishes if the window is not reading the report just then,
// and else comes again at once rather than wait with it unpublished; a
// change of state always does.
void Publish(Link& link, bool mustWait = false)
{
    if (mustWait) {
        EnterCriticalSection(&link.run->lock);
    } else if (!TryEnterCriticalSection(&link.run->lock)) {
        SetEvent(link.run->wake);
        return;
    }
    link.run->report = link.report;
    LeaveCriticalSection(&link.run->lock);
}

// The note's text, then the port it names, if any.
void ShowNote(Link& link, DWORD now, const WCHAR* text, const char* port = "", DWORD showMs = kNoteShowMs)
{
    swprintf(link.report.note, kReportTextLength, L"%ls%hs", text, port);
    link.report.noteShownAtMs = now;
    link.report.noteShowMs = showMs;
}

// Sleeps until `ms` have passed or the window asks for something.
void RestFor(Link& link, DWORD ms)
{
    RestUntil(link.run->wake, ms);
}

// Windows' default timer would stretch the gather to 15.6 ms; the finer one
// costs power, so it is held only while frames flow.
void HoldFineTimer(Link& link, bool hold)
{
    if (hold == link.fineTimer) return;
    link.fineTimer = hold;
    if (hold)
        timeBeginPeriod(1);
    else
        timeEndPeriod(1);
}

void SetPortName(Link& link, const std::string& name)
{
    snprintf(link.report.portName, kReportTextLength, "%s", name.c_str());
}

// The window hears of a loss, a busy port and a return at once; it reads the
// rest of the report when it paints the status row.
void SetState(Link& link, LinkState state)
{
    if (state == link.report.state) return;
    link.report.state = state;
    Publish(link, true);
    Notify(link.run->changedSignal);
}

void ClosePort(Link& link)
{
    if (!link.port) return;
    PortClose(link.port);
    link.port = nullptr;
    link.writing = false;
    // The next open's driver is asked afresh, whatever this one answered.
    link.report.modem = {};
    link.modemLookedAtMs = 0;
}

// Opens and sets up the port as Start does; a busy port is one another
// program holds, or one that refuses the settings.
bool OpenConfigured(Link& link, bool* busy, bool* settingsRefused)
{
    *settingsRefused = false;
    link.port = OpenPort(link.report.portName, link.run->notifyWindow);
    if (!link.port) {
        *busy = GetLastError() == ERROR_ACCESS_DENIED;
        return false;
    }
    bool lineRefused = false;
    if (!ConfigurePort(link.port, link.run->speed, link.lines, &lineRefused)) {
        const DWORD error = GetLastError();
        // A pty whose device end is still closed opens, but cannot even
        // report its state: that port is not back yet.
        DCB state = {};
        state.DCBlength = sizeof state;
        *busy = PortGetState(link.port, &state);
        ClosePort(link);
        *settingsRefused = lineRefused;
        SetLastError(error);
        return false;
    }
    // Kept after the port closes: Windows may yet say it gave up taking it.
    link.report.notification = PortNotification(link.port);
    link.area.length = 0;
    link.failedRounds = 0;
    return true;
}

void DropSends(Link& link);

void LosePort(Link& link, DWORD now)
{
    ClosePort(link);
    DropSends(link);
    link.presentAtLoss = {link.report.portName};
    if (link.identity.known)
        for (const PresentPort& port : ListPresentPorts()) link.presentAtLoss.push_back(port.name);
    link.report.lostAtMs = now;
    SetState(link, LinkState::Lost);
    // A device just gone is not back within the same millisecond; one that
    // fails as soon as it is open again waits the whole period.
    const bool justReopened = link.reopened && now - link.reopenedAtMs < kRetryPeriodMs;
    link.nextRetryMs = justReopened ? link.reopenedAtMs + kRetryPeriodMs : now + 1;
    HandOverRecording(link.run->number);
}

void CountLineErrors(Link& link, DWORD errors)
{
    if (errors & (CE_OVERRUN | CE_RXOVER)) ++link.report.health.overruns;
    if (errors & CE_FRAME) ++link.report.health.framingErrors;
}

enum class Drained { Read, Failed, Gone };

// Waits for bytes, then reads what the driver held when they came. Each read
// acknowledges any line error and learns what the driver still holds: a read
// may return less (Wine's pty gives 4 KiB at a time). What arrives meanwhile
// waits for the next round: a steady stream would otherwise keep one round
// reading until the area is full, 0.7 s at 11,520 frames/s. The port is gone
// when a read fails as a removed device's do, or when even the
// acknowledgement fails; any other failure ends the round as failed.
Drained DrainPort(Link& link, DWORD waitMs, DWORD* bytesRead)
{
    ReceiveArea& area = link.area;
    *bytesRead = 0;
    DWORD held = 0;
    for (int reads = 0; area.length < kReceiveCapacity; ++reads) {
        DWORD got = 0;
        const DWORD room = static_cast<DWORD>(kReceiveCapacity - area.length);
        uint8_t* into = area.bytes + area.length;
        const bool ok = reads == 0 ? PortWaitRead(link.port, link.run->wake, waitMs, into, room, &got)
                                   : PortRead(link.port, into, room, &got);
        if (!ok && IsLossError(GetLastError())) return Drained::Gone;
        area.length += static_cast<int>(got);
        *bytesRead += got;
        DWORD errors = 0, queued = 0;
        if (!PortClearErrors(link.port, &errors, &queued)) return Drained::Gone;
        CountLineErrors(link, errors);
        if (!ok) return Drained::Failed;
        if (reads == 0) held = *bytesRead + queued;
        if (queued == 0 || *bytesRead >= held) break;
    }
    return Drained::Read;
}

// The window is told once when the ring has something for it, not per frame.
void HandToWindow(Link& link, int count, DWORD now)
{
    LinkRun& run = *link.run;
    PushFrames(run.ring, link.frames, count, now, link.gapPending);
    link.gapPending = false;
    PostFramesReadyOnce(run);
}

// The front send is done with: its bytes no longer count against the queue.
void EndSend(Link& link)
{
    LinkRun& run = *link.run;
    EnterCriticalSection(&run.lock);
    run.sendBytesWaiting -= link.sends.front().size();
    LeaveCriticalSection(&run.lock);
    link.sends.pop_front();
    link.writing = false;
}

void DropSends(Link& link)
{
    if (link.sends.empty()) return;
    ShowNote(link, PortClockMs(), L"not sent: the port was lost", "", kSentNoteShowMs);
    while (!link.sends.empty()) EndSend(link);
}

void NoteSendResult(Link& link, DWORD now, DWORD error)
{
    WCHAR text[kReportTextLength];
    if (error)
        swprintf(text, kReportTextLength, L"not sent: %ls", SystemMessage(error).c_str());
    else
        swprintf(text, kReportTextLength, L"sent %zu bytes", link.sends.front().size());
    ShowNote(link, now, text, "", kSentNoteShowMs);
}

// Between reads: the write under way is checked, given up after a second,
// and the next one started. A write that fails as a removed device's do is
// a loss, as a read is. False when the port was lost.
bool WriteSends(Link& link, DWORD now)
{
    for (;;) {
        DWORD error = 0;
        if (!link.writing) {
            if (link.sends.empty()) return true;
            const std::vector<uint8_t>& bytes = link.sends.front();
            link.writing = PortStartWrite(link.port, bytes.data(), static_cast<DWORD>(bytes.size()));
            link.writeStartedMs = now;
            if (link.writing) continue;
            error = GetLastError();
        } else if (!PortWriteEnded(link.port, &error)) {
            if (now - link.writeStartedMs < kSendLimitMs) return true;
            PortCancelWrite(link.port);
            ShowNote(link, now, L"not sent: the line did not take it in 1 s", "", kSentNoteShowMs);
            EndSend(link);
            continue;
        }
        if (IsLossError(error)) return false;
        NoteSendResult(link, now, error);
        EndSend(link);
    }
}

// Read at most every 100 ms; a driver that cannot tell them (Wine's ptys)
// is not asked again.
void LookAtModemLines(Link& link, DWORD now)
{
    ModemStatus& modem = link.report.modem;
    if (!modem.known && link.modemLookedAtMs) return;
    if (link.modemLookedAtMs && now - link.modemLookedAtMs < kModemLookMs) return;
    link.modemLookedAtMs = now;
    DWORD lines = 0;
    modem.known = PortModemStatus(link.port, &lines);
    if (!modem.known) lines = 0;
    modem.cts = lines & MS_CTS_ON, modem.dsr = lines & MS_DSR_ON;
    modem.dcd = lines & MS_RLSD_ON, modem.ri = lines & MS_RING_ON;
}

// How long the link may wait for bytes: until a hand-over, a write's limit
// or a look at the modem lines falls due.
DWORD WaitLimitMs(const Link& link, DWORD now)
{
    DWORD limit = RecordingHandOverDueInMs();
    const auto within = [&](DWORD startMs, DWORD periodMs) {
        const DWORD since = now - startMs;
        limit = std::min(limit, since >= periodMs ? 0 : periodMs - since);
    };
    if (link.writing) within(link.writeStartedMs, kSendLimitMs);
    if (link.report.modem.known) within(link.modemLookedAtMs, kModemLookMs);
    return limit;
}

void ReadAndHandOver(Link& link)
{
    DWORD bytes = 0;
    const DWORD before = PortClockMs();
    LookAtModemLines(link, before);
    if (!WriteSends(link, before)) {
        LosePort(link, before);
        return;
    }
    Publish(link);
    const Drained drained = DrainPort(link, WaitLimitMs(link, before), &bytes);
    const DWORD now = PortClockMs();
    link.failedRounds = drained == Drained::Failed ? link.failedRounds + 1 : 0;
    if (drained == Drained::Gone || link.failedRounds >= kFailedRoundsForLoss) {
        LosePort(link, now);
        return;
    }
    const uint32_t skippedBefore = link.area.skippedBytes;
    const int count = TakeFrames(link.area, link.frames, kMaxFramesPerTick);
    if (count) {
        RecordFrames(link.run->number, link.frames, count);
        HandToWindow(link, count, now);
        link.lastFramesMs = now;
    }
    HoldFineTimer(link, now - link.lastFramesMs < kFineTimerHoldMs);
    NoteLinkTick(link.report.health, now, bytes, static_cast<uint32_t>(count), link.area.skippedBytes - skippedBefore);
    HandOverRecordingIfDue(link.run->number);
    if (drained == Drained::Failed)
        RestFor(link, kFailedRoundRestMs);
    else if (count)
        RestFor(link, kGatherMs);
}

void TryToReconnect(Link& link)
{
    Publish(link);
    const DWORD now = PortClockMs();
    if (link.reopenHeld && now - link.heldSinceMs >= kQueryRemoveHoldMs) link.reopenHeld = false;
    if (link.reopenHeld) {
        RestFor(link, kQueryRemoveHoldMs - (now - link.heldSinceMs));
        return;
    }
    if (static_cast<int32_t>(now - link.nextRetryMs) < 0) {
        RestFor(link, link.nextRetryMs - now);
        return;
    }
    link.nextRetryMs = now + kRetryPeriodMs;
    const std::string lostName = link.report.portName;
    const std::string moved =
        link.identity.known ? FollowedPort(link.identity, link.presentAtLoss, ListPresentPorts()) : std::string();
    if (!moved.empty()) SetPortName(link, moved);
    bool busy = false, refused = false;
    if (!OpenConfigured(link, &busy, &refused)) {
        SetPortName(link, lostName);
        SetState(link, busy ? LinkState::Busy : LinkState::Lost);
        return;
    }
    ShowNote(link, now, moved.empty() ? L"reconnected" : L"moved to ", moved.c_str());
    link.reopened = true;
    link.reopenedAtMs = now;
    ResetLinkHealth(link.report.health, now);
    SetState(link, LinkState::Running);
    link.gapPending = true;
}

bool IsOurPort(const Link& link, const WCHAR* name)
{
    WCHAR ours[kReportTextLength];
    swprintf(ours, kReportTextLength, L"%hs", link.report.portName);
    return _wcsicmp(name, ours) == 0;
}

// False once Stop asked.
bool TakeRequests(Link& link)
{
    LinkRun& run = *link.run;
    // The window holds the lock only to copy; if it is held right now, this
    // pass goes by and the next comes at once.
    if (!TryEnterCriticalSection(&run.lock)) {
        SetEvent(run.wake);
        return true;
    }
    LinkRequests requests = {};
    std::swap(requests, run.requests);
    run.requests.lines = requests.lines;
    LeaveCriticalSection(&run.lock);
    for (std::vector<uint8_t>& bytes : requests.sends) link.sends.push_back(std::move(bytes));
    if (!link.port) DropSends(link);
    if (requests.stop) return false;
    const DWORD now = PortClockMs();
    if (requests.removed[0] && IsOurPort(link, requests.removed)) {
        link.reopenHeld = false;
        if (link.port) LosePort(link, now);
    }
    if (requests.queryRemove && link.port) {
        LosePort(link, now);
        link.reopenHeld = true;
        link.heldSinceMs = now;
        SetEvent(run.released);
    }
    if (requests.queryRemoveFailed) link.reopenHeld = false;
    if (requests.retryNow || requests.queryRemoveFailed) link.nextRetryMs = now;
    if (requests.linesChanged) {
        link.lines = requests.lines;
        // Many adapters and Wine's ptys have no modem lines, and the device
        // may not need them: no reason to stop.
        if (link.port && !SetModemLines(link.port, link.lines))
            ShowNote(link, now, L"DTR/RTS not supported by ", link.report.portName);
    }
    return true;
}

}  // namespace

DWORD WINAPI LinkMain(void* param)
{
    Link* link = new Link();
    link->run = static_cast<LinkRun*>(param);
    LinkRun& run = *link->run;
    EnterCriticalSection(&run.lock);
    link->lines = run.requests.lines;
    LeaveCriticalSection(&run.lock);
    SetPortName(*link, run.startPortName);
    bool busy = false;
    const bool opened = OpenConfigured(*link, &busy, &run.startFailure.settingsRefused);
    const DWORD error = opened ? 0 : GetLastError();
    // The port an earlier run's late link still holds comes free when that
    // driver lets go: it is waited for as a busy port is.
    const bool waiting = error == ERROR_ACCESS_DENIED && !run.startFailure.settingsRefused && run.portMayBeHeld;
    run.openFailed = !opened && !waiting;
    run.startFailure.error = run.openFailed ? error : 0;
    link->report.state = opened ? LinkState::Running : waiting ? LinkState::Busy : LinkState::Failed;
    link->report.lostAtMs = link->nextRetryMs = PortClockMs();
    if (!run.openFailed) ReadPortIdentity(run.startPortName.c_str(), &link->identity);
    ResetLinkHealth(link->report.health, PortClockMs());
    Publish(*link);
    SetEvent(run.opened);
    Notify(run.changedSignal);
    // Each pass publishes before its wait, so the window never sees a stale state.
    while (!run.openFailed && TakeRequests(*link)) {
        if (link->port)
            ReadAndHandOver(*link);
        else
            TryToReconnect(*link);
    }
    ClosePort(*link);
    HandOverRecording(run.number);
    HoldFineTimer(*link, false);
    delete link;
    SetEvent(run.notifierStop);
    LeaveRun(&run);
    return 0;
}

void PostFramesReadyOnce(LinkRun& run)
{
    // Pairs with the window's taking the flag back before it looks at the
    // ring: either it sees these frames, or this sees the flag cleared.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (!run.framesPosted.exchange(true)) Notify(run.framesSignal);
}

DWORD WINAPI NotifierMain(void* param)
{
    LinkRun& run = *static_cast<LinkRun*>(param);
    const HANDLE signals[] = {run.framesSignal, run.changedSignal, run.notifierStop};
    for (;;) {
        const DWORD which = WaitForMultipleObjects(3, signals, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0 && run.events.framesReady) run.events.framesReady();
        if (which == WAIT_OBJECT_0 + 1 && run.events.linkChanged) run.events.linkChanged();
        if (which != WAIT_OBJECT_0 && which != WAIT_OBJECT_0 + 1) break;
    }
    LeaveRun(&run);
    return 0;
}

void LeaveRun(LinkRun* run)
{
    if (--run->users > 0) return;
    DeleteCriticalSection(&run->lock);
    for (HANDLE handle : {run->wake, run->opened, run->released, run->framesSignal, run->changedSignal, run->notifierStop})
        CloseHandle(handle);
    delete run;
}
