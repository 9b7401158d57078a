#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <thread>
#include <tuple>
#include <vector>

#include "acquisition.h"
#include "app.h"
#include "app_session.h"
#include "fake_port.h"
#include "port_io.h"
#include "ports.h"
#include "recording.h"
#include "resource.h"
#include "system_text.h"
#include "win_test_util.h"

namespace {

constexpr char kConfig[] = "[General]\r\nportname=COM5\r\nportspeed=115200\r\n";

class Acquisition : public testing::Test {
protected:
    void TearDown() override
    {
        if (main_) CloseApp(main_);
    }

    // Starts the program afresh, on a fresh Windows-like port.
    void Launch(const char* config = kConfig)
    {
        if (main_) CloseApp(main_);
        ResetFakePort();
        main_ = StartApp(config);
        ASSERT_NE(main_, nullptr);
    }

    // Start, and the link thread settled. A box nobody expects is answered,
    // so that it fails the test instead of holding it.
    bool StartAndSettle(ModalAnswer* answer = nullptr)
    {
        static ModalAnswer unexpected;
        AnswerNextModal(answer ? answer : &unexpected, IDOK);
        SendMessageW(main_, WM_COMMAND, IDC_START, 0);
        Settle();
        return IsAcquiring();
    }
    void Stop() { SendMessageW(main_, WM_COMMAND, IDC_STOP, 0); }
    bool PortHeld() { return g_fakePort.opens > g_fakePort.closes; }
    bool Running() { return !IsWindowEnabled(g_startButton) && IsWindowEnabled(g_stopButton); }

    // The link has seen everything, the writer has it, and the window took
    // what the link had for it (unless the test holds the window's thread).
    void Settle(bool windowHeld = false)
    {
        ASSERT_TRUE(WaitUntilLinkIdle());
        if (windowHeld) return;
        SendMessageW(main_, WM_FRAMES_READY, 0, 0);
        SendMessageW(main_, WM_LINK_CHANGED, 0, 0);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }

    // Timer periods of the platform the port models, for `ms`.
    void TickFor(DWORD ms, bool windowHeld = false)
    {
        const uint64_t until = g_fakePort.clockUs + 1000ull * ms;
        do {
            MoveClock(g_fakePort.windowsClock ? 15625 : 10000);
            Settle(windowHeld);
        } while (g_fakePort.clockUs < until);
    }

    // Frames of a ramp on y1 arriving evenly at `perSecond` over `ms`.
    void ArriveRamp(int perSecond, DWORD ms, int16_t from)
    {
        for (int i = 0; i < static_cast<int>(int64_t(perSecond) * ms / 1000); ++i)
            ArriveBytes(g_fakePort.NowMs() + static_cast<DWORD>(int64_t(i) * 1000 / perSecond),
                        FrameBytes(static_cast<int16_t>(from + i), 0, 0));
    }

    std::wstring LinkField()
    {
        WCHAR text[96] = L"";
        FormatLinkField(text, 96);
        return text;
    }

    // WM_DEVICECHANGE as Windows sends it for a port that went or came.
    void PortMessage(WPARAM event, const wchar_t* name)
    {
        std::vector<BYTE> data(sizeof(DEV_BROADCAST_PORT_W) + 2 * wcslen(name));
        auto* port = reinterpret_cast<DEV_BROADCAST_PORT_W*>(data.data());
        port->dbcp_size = static_cast<DWORD>(data.size());
        port->dbcp_devicetype = DBT_DEVTYP_PORT;
        wcscpy(port->dbcp_name, name);
        SendMessageW(main_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(port));
    }

    // WM_DEVICECHANGE for the open port's own handle registration.
    LRESULT HandleMessage(WPARAM event)
    {
        DEV_BROADCAST_HANDLE handle = {};
        handle.dbch_size = sizeof handle;
        handle.dbch_devicetype = DBT_DEVTYP_HANDLE;
        handle.dbch_hdevnotify = static_cast<HDEVNOTIFY>(LastPortNotification());
        return SendMessageW(main_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&handle));
    }

    HWND main_ = nullptr;
};

TEST_F(Acquisition, StartSetsTheLineAsWindowsAcceptsIt)
{
    const struct {
        const char* name;
        bool queueRefused;
        const char* lines;  // added to [General]
        DWORD dtrControl, rtsControl;
    } rows[] = {{"queue granted, lines low", false, "", DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
                {"driver keeps its own queue, lines raised", true, "dtr=1\r\nrts=1\r\n", DTR_CONTROL_ENABLE,
                 RTS_CONTROL_ENABLE},
                {"RTS alone raised", false, "rts=1\r\n", DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Launch((std::string(kConfig) + row.lines).c_str());
        // What another program left in the driver: DSR sensitivity with DSR
        // low drops every byte, and bytes from before Start wait in the queue.
        DCB& reported = g_fakePort.reportedState;
        reported.StopBits = TWOSTOPBITS, reported.Parity = ODDPARITY, reported.EofChar = 0x1A;
        reported.fOutX = reported.fInX = reported.fOutxCtsFlow = reported.fTXContinueOnXoff = 1;
        reported.fDsrSensitivity = 1, reported.EvtChar = reported.ErrorChar = 0x7E;
        reported.fDtrControl = DTR_CONTROL_HANDSHAKE;
        g_fakePort.dsrLow = true;
        g_fakePort.sendsOnlyWithDtr = row.dtrControl == DTR_CONTROL_ENABLE;  // a native-USB board, after a restart
        ArriveBytes(g_fakePort.NowMs(), {0x11, 0x55, 0x01, 0x02, 0x99});
        g_fakePort.refusesQueueSize = row.queueRefused;
        ASSERT_TRUE(StartAndSettle());
        ASSERT_TRUE(PortHeld() && Running());
        EXPECT_EQ(g_fakePort.requestedQueue, kInputQueueBytes);
        const DCB& a = g_fakePort.appliedState;
        EXPECT_EQ(std::tuple(a.BaudRate, a.ByteSize, a.Parity, a.StopBits, a.XonChar, a.XoffChar),
                  std::tuple(115200ul, 8, NOPARITY, ONESTOPBIT, 0x11, 0x13));
        EXPECT_EQ(std::tuple(a.fDtrControl, a.fRtsControl), std::tuple(row.dtrControl, row.rtsControl));
        EXPECT_EQ(a.fOutxCtsFlow + a.fOutxDsrFlow + a.fOutX + a.fInX + a.fParity + a.fDsrSensitivity +
                      a.fTXContinueOnXoff + a.EofChar + a.EvtChar + a.ErrorChar,
                  0u);
        EXPECT_EQ(std::tuple(a.fBinary, a.fAbortOnError), std::tuple(1u, 0u)) << "an unasked abort is the driver's";
        // Reads return at once: a tick never waits for bytes.
        const COMMTIMEOUTS& t = g_fakePort.timeouts;
        EXPECT_EQ(std::tuple(t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant),
                  std::tuple(MAXDWORD, 0ul, 0ul));
        ArriveRamp(100, 100, 1);
        TickFor(100);
        EXPECT_EQ(g_sweep.raw[1], 10);
        EXPECT_NE(LinkField().find(L"skipped 0 "), std::wstring::npos) << "what came before Start is not this run's";
        Stop();
        EXPECT_FALSE(g_fakePort.closes != 1 || Running() || IsWindowEnabled(g_stopButton));
        SendMessageW(main_, WM_COMMAND, IDC_START, 0);
        Stop();
        EXPECT_FALSE(IsAcquiring()) << "Stop leaves no thread running";
    }
}

// A board whose chip is its USB device sends only while DTR is high: the
// hint names the menu, and the item takes effect at once. A pty has no modem
// lines, which is no reason to stop.
TEST_F(Acquisition, NativeUsbBoardPlotsOnceDtrIsRaised)
{
    for (bool wine : {false, true}) {
        SCOPED_TRACE(wine ? "Wine's pty" : "Windows");
        Launch();
        g_fakePort.sendsOnlyWithDtr = !wine;
        g_fakePort.wineLoose = wine;
        ASSERT_TRUE(StartAndSettle());
        ArriveRamp(100, 8000, 1);
        TickFor(2900);
        EXPECT_EQ(LinkField().substr(0, 7), wine ? L"100 fr/" : L"no data");
        TickFor(200);
        EXPECT_EQ(LinkField(), wine ? L"100 fr/s  skipped 0  overrun 0  framing 0" : L"no data; DTR is off (Порт → DTR)");
        SendMessageW(main_, WM_COMMAND, IDM_DTR, 0);
        EXPECT_TRUE(GetMenuState(GetMenu(main_), IDM_DTR, MF_BYCOMMAND) & MF_CHECKED);
        TickFor(100);
        EXPECT_TRUE(PortHeld() && (LinkField() == L"DTR/RTS not supported by COM5") == wine) << "and the hint is gone";
        const int16_t before = g_sweep.raw[1];
        TickFor(3000);
        EXPECT_TRUE(g_sweep.raw[1] == before + 300 && LinkField().substr(0, 7) == L"100 fr/") << "plotting";
        TickFor(6000);
        EXPECT_EQ(LinkField().substr(0, 9), L"no data  ") << "silent for 4 s with DTR on: no hint";
    }
}

// What the send row hands over is written in order between reads; a line
// that does not take it is given up after a second while frames keep
// coming. The modem lines are lit as the driver reports them, or not known.
TEST_F(Acquisition, SendsAreWrittenInOrderAndTheModemLinesFollowTheDriver)
{
    for (bool wine : {false, true}) {
        SCOPED_TRACE(wine ? "Wine's pty" : "Windows");
        Launch();
        g_fakePort.wineLoose = wine;
        g_fakePort.modemLines = MS_CTS_ON | MS_RLSD_ON;
        ASSERT_TRUE(StartAndSettle());
        ArriveRamp(100, 5000, 1);
        TickFor(100);
        const ModemStatus lamps = LinkModemStatus();
        EXPECT_EQ(std::tuple(lamps.known, lamps.cts, lamps.dsr, lamps.dcd, lamps.ri),
                  wine ? std::tuple(false, false, false, false, false) : std::tuple(true, true, false, true, false));
        g_fakePort.modemLines = MS_DSR_ON | MS_RING_ON;
        TickFor(150);
        EXPECT_EQ(LinkModemStatus().dsr && LinkModemStatus().ri && !LinkModemStatus().cts, !wine) << "a change";
        const auto sendLine = [&](const wchar_t* text) {
            SetWindowTextW(GetDlgItem(main_, IDC_SEND_TEXT), text);
            SendMessageW(main_, WM_COMMAND, IDC_SEND, 0);
        };
        sendLine(L"rate 10");
        TickFor(10);
        EXPECT_EQ(LinkField(), L"sent 8 bytes");
        sendLine(L"\\x11\\x55");
        TickFor(10);
        EXPECT_EQ(g_fakePort.sent, "rate 10\n\x11\x55\n") << "in order, each with its line end";
        EXPECT_EQ(LinkField(), L"sent 3 bytes");
        g_fakePort.lineHeld = true;
        sendLine(L"held");
        const int16_t before = g_sweep.raw[1];
        TickFor(900);
        EXPECT_EQ(LinkField().substr(0, 5), L"sent ");
        TickFor(200);
        EXPECT_TRUE(LinkField() == L"not sent: the line did not take it in 1 s" && g_sweep.raw[1] == before + 110)
            << "frames kept coming";
        const std::string big(60 * 1024, 'x');
        const auto* bigBytes = reinterpret_cast<const uint8_t*>(big.data());
        EXPECT_TRUE(SendToPort(bigBytes, big.size()) && !SendToPort(bigBytes, big.size()));
        EXPECT_EQ(LinkField(), L"not sent: 64 KiB already wait to be sent");
        g_fakePort.lineHeld = false;
        TickFor(50);
        EXPECT_EQ(g_fakePort.sent.size(), 11 + big.size()) << "the first big send went, nothing else";
        EXPECT_TRUE(SendToPort(bigBytes, big.size())) << "and its room is free again";
        g_fakePort.sendError = ERROR_GEN_FAILURE;  // as a removed adapter's
        g_fakePort.openError = ERROR_FILE_NOT_FOUND;
        sendLine(L"lost?");
        TickFor(20);
        EXPECT_FALSE(PortHeld()) << "a write failing as a removed device's is a loss";
        sendLine(L"again");
        EXPECT_EQ(LinkField(), L"not sent: COM5 is lost");
    }
}

// The box says why, in the system's words, and the buttons are as before Start.
TEST_F(Acquisition, FailedStartIsReportedAndStopReturnsToIdle)
{
    const struct {
        const char* name;
        const char* config;
        DWORD openError;
        bool refuses;
        std::wstring why;
        bool late = false;  // the open outlasts Start's wait
    } cases[] = {
        {"driver refuses the speed", kConfig, 0, true,
         SystemMessage(ERROR_INVALID_PARAMETER) + L"\nThe driver refused 8N1 at 115200 baud."},
        {"driver refuses the speed after a slow open", kConfig, 0, true,
         SystemMessage(ERROR_INVALID_PARAMETER) + L"\nThe driver refused 8N1 at 115200 baud.", true},
        {"port cannot be opened", kConfig, ERROR_FILE_NOT_FOUND, false, SystemMessage(ERROR_FILE_NOT_FOUND)},
        {"another program holds it", kConfig, ERROR_ACCESS_DENIED, false,
         SystemMessage(ERROR_ACCESS_DENIED) + L"\nThe port is in use by another program."},
        {"driver refuses the time-outs: reads would return at once", kConfig, 0, false,
         SystemMessage(ERROR_INVALID_PARAMETER)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launch(c.config);
        g_fakePort.refusesSettings = c.refuses;
        g_fakePort.refusesTimeouts = !c.refuses && !c.openError;
        g_fakePort.openError = c.openError;
        ModalAnswer answer;
        g_fakePort.holdOpen = c.late;
        StartAndSettle(&answer);
        if (c.late) {
            EXPECT_EQ(LinkField(), L"opening COM5…");
            g_fakePort.holdOpen = false;
            TickFor(1);
            PumpUntil([&] { return answer.seen; }, 2000);
        }
        EXPECT_EQ(answer.caption + L"|" + answer.text, L"Внимание!!!|Не получилось!!!\nCOM5: " + c.why);
        EXPECT_TRUE(!IsAcquiring() && IsWindowEnabled(g_startButton) && !IsWindowEnabled(g_stopButton) && !PortHeld() &&
                    g_fakePort.closes == g_fakePort.opens && LinkField().empty()) << "nothing runs";
    }
}

TEST_F(Acquisition, LineErrorsAreAcknowledgedAndATickTakesAllTheDriverHolds)
{
    Launch();
    ASSERT_TRUE(StartAndSettle());
    g_fakePort.lineErrorsAtMs = {g_fakePort.NowMs() + 1, g_fakePort.NowMs() + 25};
    ArriveBytes(g_fakePort.NowMs(), {0x00, 0x55, 0x11});
    ArriveRamp(200, 100, 1);
    TickFor(100);
    EXPECT_TRUE(g_sweep.picture.cursor == 20 && g_sweep.raw[1] == 20);
    EXPECT_NE(LinkField().find(L"skipped 3  overrun 0  framing 2"), std::wstring::npos) << LinkField();
    ArriveRamp(100000, 10, 21);
    TickFor(1);
    EXPECT_EQ(g_sweep.picture.cursor, 1020) << "a tick takes all the driver holds, read by read";
    // A driver holding more than a round's 64 KiB: the rest waits for the next round.
    g_fakePort.queueSize = 1 << 20;
    const History& history = *g_sweep.history;
    const int64_t before = history.total;
    ArriveRamp(12000000, 1, 0);  // all at once
    TickFor(30);
    ASSERT_EQ(history.total - before, 12000) << "none lost";
    for (int i = 0; i < 12000; ++i) ASSERT_EQ(HistoryFrame(history, before + i).value[1], i);
    g_fakePort.queueSize = 4096;  // as a driver that kept its own queue
    ArriveBytes(g_fakePort.NowMs() + 1, std::vector<uint8_t>(8192, 0x11));
    TickFor(1);
    EXPECT_NE(LinkField().find(L"overrun 1"), std::wstring::npos) << "a burst past the queue: " << LinkField();
}

// A removed adapter fails its reads, and often ClearCommError too; Windows
// may say so first. The run waits for it and resumes after a gap, with no
// message box.
TEST_F(Acquisition, LostPortIsReopenedEveryHalfSecondAndResumesAfterAGap)
{
    enum class Return { Back, Moved, Busy, Refuses, Stopped, Closed };
    enum class Sign { ReadAndClear, Read, Message };
    const struct {
        const char* name;
        DWORD error;
        bool wine;
        Return onReturn;
        Sign sign = Sign::Read;
        bool slowOpen = false;  // each open takes seconds (a Bluetooth port)
    } cases[] = {
        {"access denied", ERROR_ACCESS_DENIED, false, Return::Back, Sign::ReadAndClear},
        {"access denied, ClearCommError still fine", ERROR_ACCESS_DENIED, false, Return::Back},
        {"bad command", ERROR_BAD_COMMAND, false, Return::Back},
        {"general failure", ERROR_GEN_FAILURE, false, Return::Back},
        {"device not connected", ERROR_DEVICE_NOT_CONNECTED, false, Return::Back},
        {"invalid handle", ERROR_INVALID_HANDLE, false, Return::Back},
        {"no such device", 433, false, Return::Back},
        {"device removed", ERROR_DEVICE_REMOVED, false, Return::Back},
        {"Windows says the port went, and came back", ERROR_DEVICE_REMOVED, false, Return::Back, Sign::Message},
        {"Wine's pty hung up: reads succeed empty", ERROR_NOT_READY, true, Return::Back, Sign::ReadAndClear},
        {"held by another program", ERROR_ACCESS_DENIED, false, Return::Busy},
        {"refuses the settings", ERROR_ACCESS_DENIED, false, Return::Refuses},
        {"an open that takes seconds", ERROR_ACCESS_DENIED, false, Return::Back, Sign::Read, true},
        {"a board with no serial number, back in another socket", ERROR_ACCESS_DENIED, false, Return::Moved},
        {"Stop while lost", ERROR_ACCESS_DENIED, false, Return::Stopped},
        {"window closed while lost", ERROR_ACCESS_DENIED, false, Return::Closed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launch();
        g_fakePort.windowsClock = true;
        g_fakePort.wineLoose = c.wine;
        const wchar_t* ch340 = L"USB\\VID_1A86&PID_7523&REV_0264";
        const FakeDevice twin = {L"COM7", L"USB-SERIAL CH340", ch340, L"USB\\VID_1A86&PID_7523\\5&AAAA&0&1"};
        g_fakePort.setupDevices = {{L"COM5", L"USB-SERIAL CH340", ch340, L"USB\\VID_1A86&PID_7523\\5&2F1E3A0&0&2"}, twin};
        ASSERT_TRUE(StartAndSettle());
        ArriveRamp(100, 100, 1);
        TickFor(100);
        ASSERT_EQ(g_sweep.picture.cursor, 10);
        ArriveBytes(g_fakePort.NowMs(), {0x11, 0x55, 0x7F});  // a frame the loss cuts short
        TickFor(1);

        g_fakePort.clearsWhenRemoved = c.sign != Sign::ReadAndClear;
        ModalAnswer noBox;
        AnswerNextModal(&noBox, IDOK);
        if (c.sign == Sign::Message) {
            // No read has failed yet, and the clock stands still.
            PortMessage(DBT_DEVICEREMOVECOMPLETE, L"COM55");
            Settle();
            EXPECT_TRUE(PortHeld()) << "another port went";
            PortMessage(DBT_DEVICEREMOVECOMPLETE, L"COM5");
            Settle();
            g_fakePort.removedError = c.error;
        } else {
            g_fakePort.removedError = c.error;
            TickFor(1);
        }
        EXPECT_TRUE(!PortHeld() && g_fakePort.closes == 1 && Running()) << "the handle is closed at once";
        EXPECT_EQ(LinkField(), L"port lost: waiting for COM5, 0 s");
        const int attemptsAtLoss = g_fakePort.openAttempts;
        g_fakePort.holdOpen = c.slowOpen;
        TickFor(2000);
        EXPECT_EQ(std::tuple(g_fakePort.openAttempts - attemptsAtLoss, LinkField(), g_sweep.picture.cursor),
                  std::tuple(c.slowOpen ? 0 : 4, std::wstring(L"port lost: waiting for COM5, 2 s"), 10))
            << "every 500 ms; the sweep holds";
        PumpMessages(50);
        EXPECT_FALSE(noBox.seen) << "a loss during a run shows no message box";

        if (c.onReturn == Return::Closed) {
            EXPECT_EQ(CloseApp(main_), 0);
            main_ = nullptr;
            EXPECT_NE(ReadText().find("portname=COM5"), std::string::npos);
            continue;
        }
        if (c.onReturn == Return::Stopped) {
            Stop();
            TickFor(1000);
            EXPECT_TRUE(g_fakePort.openAttempts - attemptsAtLoss == 4 && LinkField().empty()) << "no attempt after Stop";
            EXPECT_FALSE(IsWindowEnabled(g_stopButton));
            continue;
        }
        g_fakePort.removedError = 0;
        g_fakePort.openError = c.onReturn == Return::Busy ? ERROR_ACCESS_DENIED : 0;
        g_fakePort.refusesSettings = c.onReturn == Return::Refuses;
        g_fakePort.appliedState = {}, g_fakePort.requestedQueue = 0, g_fakePort.timeouts = {};
        g_fakePort.holdOpen = false;
        if (c.onReturn == Return::Moved) {
            g_fakePort.setupDevices = {{L"COM9", L"USB-SERIAL CH340", ch340, L"USB\\VID_1A86&PID_7523\\5&1C0FFEE&0&4"}, twin};
            g_fakePort.devices = L"COM1|COM9|COM12|";
        }
        if (c.sign == Sign::Message) {
            PortMessage(DBT_DEVICEARRIVAL, L"COM5");
            Settle();
            EXPECT_TRUE(PortHeld()) << "at once";
        }
        TickFor(600);
        if (c.onReturn == Return::Moved) {
            EXPECT_EQ(g_fakePort.openedPath, "\\\\.\\COM9");
            EXPECT_EQ(LinkField() + L"|" + WindowText(g_portList), L"moved to COM9|COM9");
            EXPECT_NE(ReadText().find("portname=COM9"), std::string::npos) << "saved at once";
            SendMessageW(g_portList, CB_SETCURSEL, 0, 0);  // the user picks COM1 meanwhile
            SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(g_portList));
            PortMessage(DBT_DEVICEREMOVECOMPLETE, L"COM9");
            Settle();
            EXPECT_EQ(WindowText(g_portList), L"COM1") << "followed once, never over the user's choice";
            continue;
        }
        if (c.onReturn != Return::Back) {
            EXPECT_EQ(LinkField(), L"COM5 busy, 2 s");
            ModalAnswer ask;
            AnswerNextModal(&ask, IDNO);
            SendMessageW(main_, WM_COMMAND, IDM_OPEN, 0);
            EXPECT_TRUE(ask.text == L"Остановить приём?" && Running()) << "Open asks while the port is busy";
            g_fakePort.openError = 0, g_fakePort.refusesSettings = false;  // and then free
            TickFor(500);
        }
        ASSERT_TRUE(PortHeld() && LinkField() == L"reconnected");
        EXPECT_EQ(LinkModemStatus().known, !c.wine) << "the modem lines are read again";
        const DCB& a = g_fakePort.appliedState;
        EXPECT_EQ(std::tuple(a.BaudRate, a.XoffChar, g_fakePort.requestedQueue, g_fakePort.timeouts.ReadIntervalTimeout),
                  std::tuple(115200ul, 0x13, kInputQueueBytes, MAXDWORD))
            << "configured as at Start";
        ArriveRamp(100, 100, 500);
        TickFor(3000);
        EXPECT_NE(LinkField(), L"reconnected") << "for 3 s";
        const Column* columns = g_sweep.picture.column;
        EXPECT_TRUE(g_sweep.picture.cursor == 20 && g_sweep.raw[1] == 509 && columns[11].afterGap &&
                    columns[11].trace[1].first == 500 && std::none_of(columns + 12, columns + 21, [](auto& c) { return c.afterGap; }));
    }
}

// Whatever a driver answers, the link rests between failed rounds: a driver
// that fails every call at once is a loss within a second, not a spinning
// core. Windows asking for the device gets the port closed before the
// answer, and no reopen until it gives up.
TEST_F(Acquisition, NoDriverAnswerMakesTheLinkSpinAndWindowsCanTakeTheDevice)
{
    enum class Ask { No, Removed, GivesUp };
    const struct {
        const char* name;
        DWORD fails;
        Ask ask;
    } cases[] = {
        {"an abort the link did not ask for", ERROR_OPERATION_ABORTED, Ask::No},
        {"semaphore time-out", ERROR_SEM_TIMEOUT, Ask::No},
        {"not ready", ERROR_NOT_READY, Ask::No},
        {"network device gone", ERROR_DEV_NOT_EXIST, Ask::No},
        {"Windows takes the device", 0, Ask::Removed},
        {"Windows asks, then gives up", 0, Ask::GivesUp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launch();
        g_fakePort.windowsClock = true;
        ASSERT_TRUE(StartAndSettle());
        ArriveRamp(100, 100, 1);
        TickFor(100);
        const int callsBefore = g_fakePort.portCalls, attemptsBefore = g_fakePort.openAttempts;
        g_fakePort.failsReads = c.fails;
        if (c.ask != Ask::No) {
            EXPECT_EQ(HandleMessage(DBT_DEVICEQUERYREMOVE), TRUE);
            EXPECT_EQ(g_fakePort.closes, 1) << "closed before the answer";
        }
        TickFor(50);
        EXPECT_FALSE(PortHeld()) << "lost at once";
        TickFor(950);
        EXPECT_LE(g_fakePort.portCalls - callsBefore, 200) << "calls in a second";
        EXPECT_EQ(g_fakePort.openAttempts - attemptsBefore, c.ask == Ask::No ? 2 : 0) << "reopens";
        if (c.ask == Ask::GivesUp) {
            HandleMessage(DBT_DEVICEQUERYREMOVEFAILED);
            Settle();
            EXPECT_TRUE(PortHeld()) << "taken again at once";
        }
        if (c.ask == Ask::Removed) PortMessage(DBT_DEVICEREMOVECOMPLETE, L"COM5");
        g_fakePort.failsReads = 0;
        TickFor(600);
        ASSERT_TRUE(PortHeld());
        ArriveRamp(100, 100, 500);
        TickFor(100);
        EXPECT_EQ(g_sweep.raw[1], 509);
    }
}

std::wstring RecordingName()
{
    WCHAR text[96] = L"";
    FormatRecordingField(text, 96);
    return text;
}

bool RecordChecked(HWND main)
{
    return GetMenuState(GetMenu(main), IDM_RECORD, MF_BYCOMMAND) & MF_CHECKED;
}

// Rows "frame,time_ms,y1,..." of a recording: each frame's number and y1.
std::vector<std::pair<long, long>> RecordedRows(const std::wstring& name)
{
    std::vector<std::pair<long, long>> rows;
    const std::string text = ReadText(name.c_str());
    long frame = 0, y1 = 0;
    for (size_t at = text.find('\n'); at != std::string::npos && at + 1 < text.size(); at = text.find('\n', at + 1))
        if (sscanf(text.c_str() + at + 1, "%ld,%*u,%ld", &frame, &y1) == 2) rows.emplace_back(frame, y1);
    return rows;
}

// Every frame numbered from 0 in order, with y1 counting up by one.
bool Consecutive(const std::vector<std::pair<long, long>>& rows)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].first != static_cast<long>(i) || rows[i].second != rows[0].second + static_cast<long>(i)) return false;
    return !rows.empty();
}

// A driver that ignores Stop's cancel, or a disk that stalls a write, gives
// its thread back after the next run or recording began: it finishes its
// own and never touches the next.
TEST_F(Acquisition, ALateDriverOrWriterNeverReachesTheNextRunOrRecording)
{
    enum class Late { Read, Write, FailedWrite };
    const struct {
        const char* name;
        Late late;
        const char* nextPort;
        bool backBeforeStart = false;  // the held read comes back between Stop and the next Start
    } cases[] = {
        {"a read held past Stop, the next run on the same port", Late::Read, "COM5"},
        {"a read held past Stop, the next run on another port", Late::Read, "COM12"},
        {"a read held past Stop, back before the next Start", Late::Read, "COM12", true},
        {"a write held past the recording's stop", Late::Write, "COM5"},
        {"a held write that then fails", Late::FailedWrite, "COM5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launch();
        SendMessageW(main_, WM_COMMAND, IDM_RECORD, 0);
        const std::wstring first = RecordingName();
        ASSERT_TRUE(StartAndSettle());
        ArriveRamp(100, 200, 1);
        TickFor(400);
        if (c.late == Late::Read) {
            g_fakePort.lateBytes = FrameBytes(7777, 0, 0);
            g_fakePort.holdRead = true;
        } else {
            g_fakePort.holdFileWrite = true;
            ArriveRamp(100, 300, 21);
        }
        // A held thread is never idle: the clock moves without waiting for it.
        for (int tick = 0; tick < 30; ++tick) MoveClock(15625), PumpMessages(5);
        ASSERT_EQ(g_fakePort.heldCalls, 1);
        std::wstring second = first;
        if (c.late == Late::Read) {
            Stop();
            if (c.backBeforeStart) ReleaseHeld();
            SendMessageW(g_portList, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(
                std::wstring(c.nextPort, c.nextPort + 5).c_str()));
            ASSERT_TRUE(StartAndSettle()) << "the port the late link holds is waited for, not refused";
        } else {
            SendMessageW(main_, WM_COMMAND, IDM_RECORD, 0);
            SendMessageW(main_, WM_COMMAND, IDM_RECORD, 0);
            second = RecordingName();
            ASSERT_NE(second, first);
        }
        ModalAnswer box;
        AnswerNextModal(&box, IDOK);
        if (c.late == Late::FailedWrite) g_fakePort.heldWriteError = ERROR_DISK_FULL;
        ReleaseHeld();
        TickFor(600);
        ASSERT_TRUE(PortHeld());
        const long nextFrom = 1000;
        ArriveRamp(100, 500, static_cast<int16_t>(nextFrom));
        TickFor(800);
        EXPECT_EQ(g_sweep.raw[1], nextFrom + 49) << "the next run plots all its frames";
        EXPECT_EQ(IsRecording(), true) << "the late one stops nothing";
        PumpMessages(50);
        EXPECT_EQ(box.seen, c.late == Late::FailedWrite);
        EXPECT_TRUE(!box.seen || box.text.find(first) != std::wstring::npos) << "the failure names its own file";
        SendMessageW(main_, WM_COMMAND, IDM_RECORD, 0);
        const auto firstRows = RecordedRows(first), secondRows = RecordedRows(second);
        EXPECT_TRUE(Consecutive(c.late == Late::Read ? std::vector(firstRows.begin(), firstRows.begin() + 20) : firstRows));
        for (const auto& row : firstRows) EXPECT_NE(row.second, 7777) << "the late link records nothing";
        if (c.late != Late::Read) {
            EXPECT_TRUE(Consecutive(secondRows) && secondRows.back().second == nextFrom + 49) << "every frame";
            EXPECT_LE(firstRows.size(), c.late == Late::FailedWrite ? 20u : 50u) << "its own rows only";
        } else {
            EXPECT_EQ(std::count_if(firstRows.begin(), firstRows.end(), [](auto& r) { return r.second >= 1000; }), 50);
        }
    }
}

// The file is there, with its header, as soon as recording is on, under a
// name no other file has; every frame follows within 250 ms, timed by the
// precise clock; a failed write stops the recording, not the plot.
TEST_F(Acquisition, RecordingKeepsEveryFrameNeverOverwritesAndStopsOnAFailedWrite)
{
    Launch();
    g_fakePort.windowsClock = true;
    // Taken names for this second and the next, so the program must add a suffix.
    SYSTEMTIME now;
    GetLocalTime(&now);
    WCHAR taken[2][64];
    for (int second = 0; second < 2; ++second) {
        swprintf(taken[second], 64, L"tarquell-%04u%02u%02u-%02u%02u%02u.csv", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond + second);
        WriteText(taken[second], "keep me");
    }
    SendMessageW(main_, WM_COMMAND, IDM_RECORD, 0);
    ASSERT_TRUE(IsRecording() && RecordChecked(main_));
    const std::wstring name = RecordingName();
    EXPECT_EQ(name.substr(0, 9) + name.substr(name.size() - 6), L"tarquell--2.csv");
    EXPECT_EQ(ReadText(name.c_str()), "frame,time_ms,y1,y2,y3\r\n") << "there at once";
    for (const WCHAR* other : taken) EXPECT_EQ(ReadText(other), "keep me");

    g_fakePort.clockUs += 7000;  // the ticks fall between the coarse clock's steps
    ASSERT_TRUE(StartAndSettle());
    ArriveRamp(1440, 1000, -720);
    size_t handedOver = 0;
    uint64_t handedOverUs = g_fakePort.clockUs;
    const auto written = [&](const std::wstring& file, const char* text) {  // by the writer the link woke
        return PumpUntil([&] { return ReadText(file.c_str()).find(text) != std::string::npos; }, 2000); };
    for (int tick = 0; tick < 80; ++tick) {
        TickFor(1);
        const bool due = tick < 64 && g_fakePort.clockUs - handedOverUs > 250000u;
        PumpUntil([&] { return ReadText(name.c_str()).size() != handedOver; }, due ? 2000 : 0);
        const size_t size = ReadText(name.c_str()).size();
        if (size != handedOver) handedOver = size, handedOverUs = g_fakePort.clockUs;
        EXPECT_TRUE(tick >= 64 || g_fakePort.clockUs - handedOverUs <= 250000u) << "tick " << tick;
    }
    EXPECT_TRUE(written(name, "\r\n1439,1007,719,0,0\r\n")) << "read at 1007 ms";
    std::string rows = ReadText(name.c_str());
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1441);
    ArriveBytes(g_fakePort.NowMs(), FrameBytes(4242, 0, 0));
    TickFor(1);
    Stop();
    EXPECT_TRUE(written(name, ",4242,0,0\r\n")) << "Stop hands over what was read";

    ASSERT_TRUE(StartAndSettle());
    ArriveBytes(g_fakePort.NowMs(), FrameBytes(4343, 0, 0));
    TickFor(1);
    g_fakePort.removedError = ERROR_ACCESS_DENIED;
    TickFor(1);
    EXPECT_TRUE(written(name, ",4343,0,0\r\n")) << "a lost port hands over what was read";
    g_fakePort.removedError = 0;
    ArriveRamp(100, 1100, 1);  // over before the last stage begins
    TickFor(300);
    g_fakePort.fileWriteError = ERROR_DISK_FULL;
    ModalAnswer answer;
    AnswerNextModal(&answer, IDOK);
    TickFor(300);
    PumpUntil([&] { return answer.seen; }, 2000);
    EXPECT_TRUE(answer.text.rfind(L"Запись остановлена: ", 0) == 0 && answer.text.size() > 22) << "with the system's message";
    EXPECT_FALSE(IsRecording() || RecordChecked(main_));
    rows = ReadText(name.c_str());
    EXPECT_TRUE(rows.substr(rows.size() - 2) == "\r\n" && std::count(rows.begin(), rows.end(), '\n') >= 1443 + 10)
        << "no partial line";
    const int cursor = g_sweep.picture.cursor;
    ModalAnswer again;
    AnswerNextModal(&again, IDOK);
    TickFor(200);
    PumpMessages(50);
    EXPECT_FALSE(again.seen) << "one box, though the disk stays full";
    EXPECT_GT(g_sweep.picture.cursor, cursor) << "the plot runs on";
    g_fakePort.fileWriteError = 0;
    SendMessageW(main_, WM_COMMAND, IDM_RECORD, 0);
    TickFor(300);
    EXPECT_TRUE(written(RecordingName(), "y3\r\n0,")) << "a new recording counts from 0";

    // The window's thread held for 2 s while the device fills a driver that
    // kept its own 4 KiB: 44 ms of it at this rate. It sends on while the
    // program reads, as a real line does.
    Stop();
    g_fakePort.refusesQueueSize = true;
    g_fakePort.usPerLook = 1000;
    ASSERT_TRUE(StartAndSettle());
    const std::wstring held = RecordingName();
    const size_t rowsBefore = ReadText(held.c_str()).size();
    ArriveRamp(11520, 2000, -11520);
    TickFor(2000, true);
    TickFor(250);
    rows = ReadText(held.c_str()).substr(rowsBefore);
    EXPECT_TRUE(std::count(rows.begin(), rows.end(), '\n') == 23040 && rows.find(",-11520,0,0\r\n") != std::string::npos &&
                rows.substr(rows.size() - 12) == ",11519,0,0\r\n") << "no frame lost, none reordered";
    unsigned longestStep = 0, ms = 0, previousMs = 0;
    for (size_t at = rows.find('\n'); at + 1 < rows.size(); at = rows.find('\n', at + 1), previousMs = ms)
        if (sscanf(rows.c_str() + at + 1, "%*d,%u", &ms) == 1 && previousMs) longestStep = std::max(longestStep, ms - previousMs);
    EXPECT_LE(longestStep, 100u) << "a steady stream is taken as it comes, not once the receive area is full";
    EXPECT_EQ(g_sweep.raw[1], 11519) << "and the view has caught up";
    const History& h = *g_sweep.history;
    EXPECT_GE(HistoryFrameMs(h, h.total - 1) - HistoryFrameMs(h, h.total - 23040), 1950u) << "arrival times per batch";
    EXPECT_EQ(LinkField().find(L"overrun 0"), 23u) << LinkField();

    // A cancelled logoff changes nothing; the session's end, with no
    // WM_DESTROY to follow, saves the settings and the recording to its last frame.
    const std::string config = ReadText();
    SendMessageW(main_, WM_COMMAND, IDM_DTR, 0);
    for (int16_t last : {4443, 4444}) ArriveBytes(g_fakePort.NowMs(), FrameBytes(last, 0, 0)), TickFor(1);  // the last kept
    SendMessageW(main_, WM_ENDSESSION, FALSE, 0);
    EXPECT_TRUE(IsRecording() && ReadText() == config) << "a cancelled logoff";
    g_fakePort.holdFileWrite = true;  // a disk that takes 100 ms: the logoff waits for it
    std::thread disk([] { Sleep(100), ReleaseHeld(); });
    SendMessageW(main_, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(IsRecording()) << "closed";
    rows = ReadText(held.c_str());
    EXPECT_EQ(rows.substr(rows.size() - 11), ",4444,0,0\r\n");
    EXPECT_NE(ReadText().find("dtr=1"), std::string::npos);
    disk.join();
}

std::wstring ListEntries(HWND list)
{
    std::wstring entries;
    WCHAR text[kPortTextCount];
    for (WPARAM i = 0; SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text)) != CB_ERR; ++i)
        entries += text + std::wstring(L"|");
    return entries;
}

// The list follows the hardware, by number, with SetupAPI's descriptions
// beside the names; the user's choice survives its absence.
TEST(PortList, RefreshAddsAndRemovesNamesAndKeepsTheChoice)
{
    ResetFakePort();
    // The device list grows until the system's namespace fits.
    std::wstring volumes;
    for (int i = 0; i < 3000; ++i) volumes += L"HarddiskVolume" + std::to_wstring(i) + L"|";
    g_fakePort.devices = volumes + L"COM1|COM1000|LPT1|COM5|COM10000|COM12A|CON1|COM|";
    g_fakePort.setupDevices = {
        {L"COM5", L"USB-SERIAL CH340 (COM5)", L"USB\\VID_1A86&PID_7523&REV_0264", L"USB\\VID_1A86&PID_7523\\5&2F&0&2"},
        {L"COM10", L"Arduino Uno (COM10)", L"USB\\VID_2341&PID_0043", L"USB\\VID_2341&PID_0043\\7573532"},
        {L"LPT1", L"Printer Port (LPT1)", L"", L""}};
    HWND main = StartApp("[General]\r\nportname=COM1000\r\nportspeed=250000\r\n");
    EXPECT_EQ(WindowText(g_portList), L"COM1000");
    EXPECT_EQ(ListEntries(g_portList), L"COM1|COM5|COM10|COM1000|");
    std::wstring listed;
    ListPortDescriptions([](const WCHAR* name, const WCHAR* description, void* all) {
        *static_cast<std::wstring*>(all) += std::wstring(name) + L" " + description + L"|"; }, &listed);
    EXPECT_EQ(listed, L"COM1 |COM5 USB-SERIAL CH340|COM10 Arduino Uno|COM1000 |");
    RECT box;
    GetWindowRect(g_portList, &box);
    EXPECT_GT(SendMessageW(g_portList, CB_GETDROPPEDWIDTH, 0, 0), box.right - box.left) << "room for the descriptions";
    g_fakePort.setupDevices.clear();
    g_fakePort.devices = L"COM1|COM12|";
    const int listings = g_fakePort.setupListings;
    for (int i = 0; i < 3; ++i) SendMessageW(main, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);  // a plug's burst
    PumpUntil([] { return SendMessageW(g_portList, CB_GETCOUNT, 0, 0) == 2; }, 1000);
    EXPECT_EQ(g_fakePort.setupListings - listings, 1) << "one enumeration for the burst";
    EXPECT_EQ(ListEntries(g_portList) + WindowText(g_portList), L"COM1|COM12|") << "the chosen port is away";
    g_fakePort.devices = L"COM1|COM1000|COM12|COM3|";
    SendMessageW(main, WM_COMMAND, MAKEWPARAM(0, CBN_DROPDOWN), reinterpret_cast<LPARAM>(g_portList));
    EXPECT_EQ(ListEntries(g_portList) + WindowText(g_portList), L"COM1|COM3|COM12|COM1000|COM1000") << "and back";

    // An unlisted saved speed is shown and used; a bad typed one never reaches the port.
    static ModalAnswer unexpected;  // still armed after this test if no box came
    AnswerNextModal(&unexpected, IDOK);
    SetWindowTextW(g_speedList, L"abc");
    SendMessageW(main, WM_COMMAND, IDC_START, 0);
    EXPECT_EQ(g_fakePort.openedPath, "\\\\.\\COM1000") << "opened whole";
    EXPECT_TRUE(g_fakePort.appliedState.BaudRate == 250000 && WindowText(g_speedList) == L"250000");
    SendMessageW(main, WM_COMMAND, IDC_STOP, 0);
    EXPECT_EQ(CloseApp(main), 0);
    EXPECT_NE(ReadText().find("portname=COM1000\r\nportspeed=250000"), std::string::npos) << ReadText();
}

}  // namespace
