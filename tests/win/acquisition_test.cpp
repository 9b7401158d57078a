#include <gtest/gtest.h>

#include "acquisition.h"
#include "app.h"
#include "app_session.h"
#include "fake_port.h"
#include "resource.h"

namespace {

constexpr char kConfig[] = "[General]\r\nportname=COM5\r\nportspeed=115200\r\n";

class Acquisition : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFakePort();
        g_fakePort.reportedState.DCBlength = sizeof(DCB);
        g_sweep = {};
        g_receiveArea = {};
    }
    void TearDown() override
    {
        if (main_) CloseApp(main_);
    }

    // Starts the program; again for each case of a table, afresh, with a new
    // port and sweep.
    void Launch(const char* config = kConfig)
    {
        if (main_) {
            CloseApp(main_);
            SetUp();
        }
        main_ = StartApp(config);
        ASSERT_NE(main_, nullptr);
    }

    // Start as the button does; the tests tick by hand, so the timer Start
    // sets is taken back and reported.
    bool StartAndTakeTimer()
    {
        SendMessageW(main_, WM_COMMAND, IDC_START, 0);
        return KillTimer(main_, ID_SWEEP_TIMER);
    }

    // One tick; returns how long it held the loop on the port's clock.
    DWORD Tick()
    {
        const DWORD before = g_fakePort.NowMs();
        OnTick();
        return g_fakePort.NowMs() - before;
    }

    void ExpectOpenFailedState(const ModalAnswer& answer)
    {
        EXPECT_TRUE(answer.seen);
        EXPECT_EQ(answer.caption, L"Внимание!!!");
        EXPECT_EQ(answer.text, L"Не получилось!!!");
        EXPECT_FALSE(IsWindowEnabled(g_startButton));
        EXPECT_TRUE(IsWindowEnabled(g_stopButton));
        EXPECT_FALSE(IsPortOpen());
    }

    HWND main_ = nullptr;
};

TEST_F(Acquisition, StartOpensThroughTheDeviceNamespaceAndSetsTheLine)
{
    DCB& reported = g_fakePort.reportedState;
    reported.BaudRate = 9600;
    reported.StopBits = TWOSTOPBITS;
    reported.Parity = ODDPARITY;
    reported.fOutX = reported.fInX = 1;
    reported.fDtrControl = DTR_CONTROL_HANDSHAKE;
    reported.fOutxCtsFlow = 1;
    reported.XonChar = 0x13;
    reported.fTXContinueOnXoff = 1;
    reported.fDsrSensitivity = 1;
    reported.EofChar = 0x1A;
    reported.ErrorChar = '?';
    reported.EvtChar = 7;
    Launch();
    EXPECT_TRUE(StartAndTakeTimer());

    EXPECT_EQ(g_fakePort.openedPath, "\\\\.\\COM5");
    const DCB& applied = g_fakePort.appliedState;
    EXPECT_EQ(applied.DCBlength, 28u);
    EXPECT_EQ(applied.BaudRate, 115200u);
    EXPECT_EQ(applied.ByteSize, 8);
    EXPECT_EQ(applied.Parity, NOPARITY);
    EXPECT_EQ(applied.StopBits, ONESTOPBIT);
    EXPECT_EQ(applied.fBinary, 1u);
    EXPECT_EQ(applied.fParity, 0u);
    EXPECT_EQ(applied.fOutxCtsFlow, 0u);
    EXPECT_EQ(applied.fOutxDsrFlow, 0u);
    EXPECT_EQ(applied.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(applied.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(applied.fOutX, 0u);
    EXPECT_EQ(applied.fInX, 0u);
    EXPECT_EQ(applied.fErrorChar, 0u);
    EXPECT_EQ(applied.fNull, 0u);
    EXPECT_EQ(applied.fAbortOnError, 1u);
    EXPECT_EQ(applied.XonChar, 0x11);
    EXPECT_EQ(applied.XoffChar, 0x13);
    EXPECT_EQ(applied.XonLim, 128);
    EXPECT_EQ(applied.XoffLim, 128);
    // The port's own values of the fields the line settings do not name.
    EXPECT_EQ(applied.fTXContinueOnXoff, 1u);
    EXPECT_EQ(applied.fDsrSensitivity, 1u);
    EXPECT_EQ(applied.EofChar, 0x1A);
    EXPECT_EQ(applied.ErrorChar, '?');
    EXPECT_EQ(applied.EvtChar, 7);

    // Reads return at once: the tick bounds its own wait.
    ASSERT_TRUE(g_fakePort.timeoutsSet);
    EXPECT_EQ(g_fakePort.timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(g_fakePort.timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(g_fakePort.timeouts.ReadTotalTimeoutConstant, 0u);

    EXPECT_FALSE(IsWindowEnabled(g_startButton));
    EXPECT_TRUE(IsWindowEnabled(g_stopButton));
    SendMessageW(main_, WM_COMMAND, IDC_STOP, 0);
    EXPECT_EQ(g_fakePort.closes, 1);
    EXPECT_TRUE(IsWindowEnabled(g_startButton));
    EXPECT_FALSE(IsWindowEnabled(g_stopButton));
}

TEST_F(Acquisition, RefusedSettingsAreReportedAndThePortClosed)
{
    const struct {
        const char* name;
        const char* config;
        bool refuses;
    } cases[] = {
        {"driver refuses the speed", kConfig, true},
        // No entry matches, so the speed list has no selection and gives an empty text.
        {"empty speed text", "[General]\r\nportname=COM5\r\nportspeed=fast\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launch(c.config);
        g_fakePort.refusesSettings = c.refuses;
        ModalAnswer answer;
        AnswerNextModal(&answer, IDOK);
        EXPECT_FALSE(StartAndTakeTimer()) << "no timer runs";
        ExpectOpenFailedState(answer);
        EXPECT_EQ(g_fakePort.opens, 1);
        EXPECT_EQ(g_fakePort.closes, 1);
        SendMessageW(main_, WM_COMMAND, IDC_STOP, 0);
        EXPECT_EQ(g_fakePort.closes, 1);
        EXPECT_TRUE(IsWindowEnabled(g_startButton));
    }
}

TEST_F(Acquisition, FailedOpenIsReportedAndStopReturnsToIdle)
{
    g_fakePort.openFails = true;
    Launch();
    ModalAnswer answer;
    AnswerNextModal(&answer, IDOK);
    EXPECT_FALSE(StartAndTakeTimer());
    ExpectOpenFailedState(answer);
    SendMessageW(main_, WM_COMMAND, IDC_STOP, 0);
    EXPECT_EQ(g_fakePort.closes, 0);
    EXPECT_TRUE(IsWindowEnabled(g_startButton));
    EXPECT_FALSE(IsWindowEnabled(g_stopButton));
}

TEST_F(Acquisition, FrameAtTheSlowestSpeedIsReadWholeInOneTick)
{
    Launch();
    ASSERT_TRUE(StartAndTakeTimer());
    // 1200 baud: a byte every 8.3 ms, the frame's first byte still on the wire.
    ArriveBytes(g_fakePort.NowMs(), 10000.0 / 1200, FrameBytes(1000, -2000, 3000));
    const DWORD held = Tick();
    EXPECT_EQ(g_sweep.column, 2);
    EXPECT_EQ(g_sweep.raw[1], 1000);
    EXPECT_EQ(g_sweep.raw[2], -2000);
    EXPECT_EQ(g_sweep.raw[3], 3000);
    EXPECT_LE(held, kFrameWaitMs);
    EXPECT_EQ(g_sweep.tickCount, 1);
}

TEST_F(Acquisition, SilentOrVanishedDeviceCostsABoundedTickWithoutReplotting)
{
    const struct {
        const char* name;
        bool hungUp;
        bool windowsClock;
    } cases[] = {{"silent", false, false}, {"hung up", true, false}, {"silent, Windows clock", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Launch();
        g_fakePort.windowsClock = c.windowsClock;
        ASSERT_TRUE(StartAndTakeTimer());
        ArriveBytes(g_fakePort.NowMs(), 0, FrameBytes(500, 600, 700));
        Tick();
        ASSERT_EQ(g_sweep.column, 2);
        g_fakePort.wineLoose = c.hungUp;
        if (c.hungUp) g_fakePort.removedError = ERROR_ACCESS_DENIED;
        for (int tick = 0; tick < 20; ++tick) EXPECT_LE(Tick(), kIdleWaitMs + 16);
        EXPECT_EQ(g_sweep.column, 2) << "no frame, no new column";
        EXPECT_EQ(g_sweep.tickCount, 21) << "every tick counts";
        EXPECT_EQ(g_sweep.raw[1], 500);
        EXPECT_GT(g_fakePort.reads, 20);

    }
}

TEST_F(Acquisition, LineErrorIsAcknowledgedAndTheStreamResumes)
{
    Launch();
    ASSERT_TRUE(StartAndTakeTimer());
    const DWORD start = g_fakePort.NowMs();
    g_fakePort.lineErrorsAtMs = {start};
    for (int frame = 0; frame < 5; ++frame)
        ArriveBytes(start + 10 * frame, 0, FrameBytes(static_cast<int16_t>(100 * (frame + 1)), 0, 0));
    for (int tick = 0; tick < 5; ++tick) Tick();
    EXPECT_GE(g_fakePort.errorAcknowledgements, 1);
    EXPECT_EQ(g_sweep.column, 6);
    EXPECT_EQ(g_sweep.raw[1], 500);
}

TEST_F(Acquisition, StreamJoinedAtAnyByteIsBackInStepAfterOneTick)
{
    // Marker bytes inside the values (though never the pair in order, which
    // no reader of this format can tell from a frame start).
    const std::vector<uint8_t> frameA = FrameBytes(0x1234, 0x5511, 0x0011);
    const std::vector<uint8_t> frameB = FrameBytes(-1234, 0x1100, 0x5555);
    for (int offset = 0; offset < 8; ++offset) {
        SCOPED_TRACE(offset);
        Launch();
        ASSERT_TRUE(StartAndTakeTimer());
        std::vector<uint8_t> stream(frameB.begin() + offset, frameB.end());
        for (int repeat = 0; repeat < 2; ++repeat) {
            stream.insert(stream.end(), frameA.begin(), frameA.end());
            stream.insert(stream.end(), frameB.begin(), frameB.end());
        }
        ArriveBytes(g_fakePort.NowMs(), 0, stream);
        Tick();
        const bool joinedAtFrameB = offset == 0;
        EXPECT_EQ(g_sweep.raw[1], joinedAtFrameB ? -1234 : 0x1234);
        EXPECT_EQ(g_sweep.raw[3], joinedAtFrameB ? 0x5555 : 0x0011);
        Tick();
        EXPECT_EQ(g_sweep.raw[1], joinedAtFrameB ? 0x1234 : -1234);
        EXPECT_EQ(g_sweep.raw[2], joinedAtFrameB ? 0x5511 : 0x1100);
        EXPECT_EQ(g_sweep.column, 3);
    }
}

TEST_F(Acquisition, FrameCutShortDecodesWithTheBytesLeftFromTheLastOne)
{
    Launch();
    ASSERT_TRUE(StartAndTakeTimer());
    ArriveBytes(g_fakePort.NowMs(), 0, FrameBytes(0x0102, 0x0304, 0x0506));
    Tick();
    ArriveBytes(g_fakePort.NowMs(), 0, {0x11, 0x55, 0x7F});
    EXPECT_LE(Tick(), kFrameWaitMs + 1);
    EXPECT_EQ(g_sweep.raw[1], 0x7F02);
    EXPECT_EQ(g_sweep.raw[2], 0x0304);
    EXPECT_EQ(g_sweep.column, 3);
}

TEST_F(Acquisition, TricklingBytesHoldTheLoopNoLongerThanAboutATenthOfASecond)
{
    Launch();
    ASSERT_TRUE(StartAndTakeTimer());
    ArriveBytes(g_fakePort.NowMs(), 15, FrameBytes(1, 2, 3));
    EXPECT_LE(Tick(), kFrameWaitMs + 1);
    EXPECT_EQ(g_sweep.column, 2) << "what did arrive is plotted";
}

TEST_F(Acquisition, LogoffSavesTheSettings)
{
    Launch("");
    SendMessageW(main_, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(ReadConfig(), "") << "a cancelled logoff writes nothing";
    SendMessageW(main_, WM_ENDSESSION, TRUE, 0);
    EXPECT_NE(ReadConfig().find("portspeed=9600"), std::string::npos);
}

}  // namespace
