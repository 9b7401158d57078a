// The real port layer (port_win32.cpp) in-process, on Wine's COM12 backed by
// the simulated device's pty, which run-e2e serves: what the link takes from
// the driver and the scripted port of tests/win can only assume.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "../frame_bytes.h"
#include "port_io.h"
#include "ports.h"
#include "win_test_util.h"

namespace {

struct Read {
    bool ok;
    DWORD error;
    std::vector<uint8_t> bytes;
    DWORD ms;
};

class Port : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Silent until resumed, so that a wait meets no byte.
        ASSERT_TRUE(Device("start com12 --silent-after 0 --values 4660,-2,300"));
        port_ = OpenPort("COM12", nullptr);
        ASSERT_TRUE(port_) << GetLastError();
        bool lineRefused = false;
        ASSERT_TRUE(ConfigurePort(port_, 115200, {false, false}, &lineRefused)) << GetLastError();
    }
    void TearDown() override
    {
        Device("stop");
        PortClose(port_);
        CloseHandle(wake_);
    }
    Read WaitRead(DWORD timeoutMs)
    {
        uint8_t buffer[256];
        DWORD got = 0;
        const DWORD start = GetTickCount();
        const bool ok = PortWaitRead(port_, wake_, timeoutMs, buffer, sizeof buffer, &got);
        return {ok, ok ? 0 : GetLastError(), {buffer, buffer + got}, GetTickCount() - start};
    }
    // A wait on another thread while `act` runs here after 100 ms; a wait
    // that does not end by itself is ended by a byte 2 s later.
    Read WaitReadWhile(DWORD timeoutMs, void (*act)(HANDLE wake))
    {
        HANDLE returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        Read read = {};
        std::thread waiter([&] {
            read = WaitRead(timeoutMs);
            SetEvent(returned);
        });
        Sleep(100);
        act(wake_);
        if (WaitForSingleObject(returned, 2000) == WAIT_TIMEOUT) Device("control garbage 1");
        waiter.join();
        CloseHandle(returned);
        return read;
    }
    PortIo* port_ = nullptr;
    HANDLE wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

TEST_F(Port, SetsTheLineAtTheSpeedAsked)
{
    EXPECT_TRUE(Device("speed 115200"));
}

// The first wait also meets WaitCommEvent's refusal (Wine's pty: 50 at
// once), which must not end it; the second waits as a learnt port does.
TEST_F(Port, WaitsOutTheSilenceThenReadsWholeFrames)
{
    for (int wait = 0; wait < 2; ++wait) {
        const uint64_t startUs = PortPreciseMicroseconds();
        const Read silent = WaitRead(300);
        EXPECT_NEAR((PortPreciseMicroseconds() - startUs) / 1000.0, silent.ms, 20) << "the recordings' clock, in ms";
        EXPECT_TRUE(silent.ok && silent.bytes.empty()) << "wait " << wait;
        EXPECT_GE(silent.ms, 250u) << "wait " << wait;
    }
    ASSERT_TRUE(Device("control resume"));
    std::vector<uint8_t> stream;
    for (int reads = 0; stream.size() < 32 && reads < 50; ++reads) {
        const Read read = WaitRead(1000);
        ASSERT_TRUE(read.ok) << read.error;
        stream.insert(stream.end(), read.bytes.begin(), read.bytes.end());
    }
    const std::vector<uint8_t> frame = FrameBytes(4660, -2, 300);
    ASSERT_GE(stream.size(), 32u);
    for (size_t i = 0; i < stream.size(); ++i) ASSERT_EQ(stream[i], frame[i % 8]) << "byte " << i;
}

// Stop's cancel: the link waits with no time-out and the window wakes it.
TEST_F(Port, WakeEndsAWaitPromptly)
{
    const Read woken = WaitReadWhile(INFINITE, PortWake);
    EXPECT_TRUE(woken.ok && woken.bytes.empty()) << woken.error;
    EXPECT_LT(woken.ms, 1000u);
}

// A hung-up pty ends the waiting read, but not as a lost device's reads fail
// (Wine: 109); the look at the driver that follows is what tells the link.
TEST_F(Port, TheDeviceGoneFailsTheLookAtTheDriver)
{
    const Read ended = WaitReadWhile(3000, [](HANDLE) { Device("stop"); });
    EXPECT_LT(ended.ms, 1000u);
    DWORD errors = 0, queued = 0;
    EXPECT_FALSE(PortClearErrors(port_, &errors, &queued));
    EXPECT_FALSE(WaitRead(0).ok);
}

// The run goes on without them, saying so.
TEST_F(Port, ThePtyRefusesTheModemLines)
{
    DWORD lines = 0;
    EXPECT_FALSE(PortEscape(port_, SETDTR));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_SUPPORTED});
    EXPECT_FALSE(PortModemStatus(port_, &lines));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_SUPPORTED});
}

}  // namespace
