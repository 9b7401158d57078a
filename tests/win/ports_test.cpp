#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fake_port.h"
#include "port_io.h"
#include "ports.h"

namespace {

TEST(PortNameFilter, OffersFourAndFiveCharacterComNamesInAnyCase)
{
    const struct {
        const wchar_t* name;
        bool offered;
    } cases[] = {{L"COM1", true},  {L"com7", true}, {L"COM12", true}, {L"COMBO", true}, {L"COM", false},
                 {L"COM123", false}, {L"LPT1", false}, {L"CON1", false}, {L"", false}, {L"cOm99", true}};
    for (const auto& c : cases) EXPECT_EQ(PortNameFilter(c.name), c.offered) << c.name;
}

TEST(ParseSpeed, ReadsLeadingDigitsLikeAtoi)
{
    const struct {
        const char* text;
        int speed;
    } cases[] = {{"115200", 115200}, {"", 0}, {"1200", 1200}, {"12582912", 12582912}, {"96x", 96}, {"x96", 0}};
    for (const auto& c : cases) EXPECT_EQ(ParseSpeed(c.text), c.speed) << c.text;
}

TEST(BaudRateList, OffersTheSeventeenSpeedsInOrder)
{
    const std::vector<std::string> expected = {"1200",   "2400",   "4800",   "9600",    "14400",   "19200",
                                               "28800",  "38400",  "56000",  "57600",   "115200",  "128000",
                                               "256000", "512000", "921600", "1572864", "12582912"};
    EXPECT_EQ(std::vector<std::string>(BaudRateList, BaudRateList + kBaudRateCount), expected);
}

std::vector<std::wstring> g_listed;

TEST(ListPorts, OffersTheSystemsComPortsAndNothingElse)
{
    g_listed.clear();
    ListPorts([](const wchar_t* name) { g_listed.push_back(name); });
    const std::set<std::wstring> listed(g_listed.begin(), g_listed.end());
    EXPECT_EQ(listed.size(), g_listed.size()) << "each port once";
    // The test prefix maps these two to the simulated device's links.
    EXPECT_TRUE(listed.count(L"COM5"));
    EXPECT_TRUE(listed.count(L"COM12"));
    for (const std::wstring& name : g_listed) EXPECT_TRUE(PortNameFilter(name.c_str()));
}

TEST(OpenPort, UsesTheDeviceNamespaceSoHighNumbersOpenToo)
{
    const struct {
        const char* name;
        const char* path;
    } cases[] = {{"COM1", "\\\\.\\COM1"}, {"COM12", "\\\\.\\COM12"}, {"com7", "\\\\.\\com7"}};
    for (const auto& c : cases) {
        ResetFakePort();
        EXPECT_NE(OpenPort(c.name), INVALID_HANDLE_VALUE);
        EXPECT_EQ(g_fakePort.openedPath, c.path);
    }
    ResetFakePort();
    EXPECT_EQ(OpenPort(""), INVALID_HANDLE_VALUE) << "an empty name never opens";
    EXPECT_EQ(g_fakePort.opens, 0);
}

TEST(ConfigurePort, StartsFromAClearedRecordWhenThePortStateCannotBeRead)
{
    ResetFakePort();
    g_fakePort.reportedState = {};  // what a failed read leaves
    EXPECT_TRUE(ConfigurePort(reinterpret_cast<HANDLE>(1), 2400));
    EXPECT_EQ(g_fakePort.appliedState.DCBlength, sizeof(DCB));
    EXPECT_EQ(g_fakePort.appliedState.BaudRate, 2400u);
    EXPECT_EQ(g_fakePort.appliedState.fTXContinueOnXoff, 0u);
    EXPECT_EQ(g_fakePort.appliedState.EofChar, 0);
    EXPECT_FALSE(ConfigurePort(reinterpret_cast<HANDLE>(1), 0)) << "a refused speed is not success";
}

// The scripted port is the Windows model the acquisition tests run against,
// so its own rules are checked here.
TEST(ScriptedPort, RefusesOverrunsAndFailsAsWindowsDocuments)
{
    HANDLE port = reinterpret_cast<HANDLE>(1);
    DCB good = {};
    ApplyLineSettings(good, 115200);
    const struct {
        const char* name;
        void (*change)(DCB&);
    } refused[] = {
        {"XonChar equal to XoffChar", [](DCB& d) { d.XoffChar = d.XonChar; }},
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"5 data bits with 2 stop bits", [](DCB& d) { d.ByteSize = 5; d.StopBits = TWOSTOPBITS; }},
    };
    ResetFakePort();
    EXPECT_TRUE(PortSetState(port, &good));
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        DCB settings = good;
        c.change(settings);
        SetLastError(0);
        EXPECT_FALSE(PortSetState(port, &settings));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        g_fakePort.wineLoose = true;
        EXPECT_TRUE(PortSetState(port, &settings)) << "Wine takes anything";
        g_fakePort.wineLoose = false;
    }

    // A full queue overruns; with abort-on-error reads fail until acknowledged.
    ResetFakePort();
    ASSERT_TRUE(PortSetQueue(port, 16));
    ASSERT_TRUE(PortSetState(port, &good));
    ArriveBytes(g_fakePort.NowMs(), 0, std::vector<uint8_t>(20, 0xAB));
    uint8_t buffer[32];
    DWORD got = 0;
    EXPECT_FALSE(PortRead(port, buffer, sizeof buffer, &got));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    DWORD errors = 0;
    EXPECT_TRUE(PortClearErrors(port, &errors));
    EXPECT_EQ(errors, static_cast<DWORD>(CE_RXOVER));
    EXPECT_TRUE(PortRead(port, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 16u) << "the queue's size, the rest dropped";

    // A removed adapter fails reads and the acknowledgement alike; Wine's pty
    // reads nothing and only the acknowledgement fails.
    for (bool wine : {false, true}) {
        g_fakePort.wineLoose = wine;
        g_fakePort.removedError = ERROR_ACCESS_DENIED;
        EXPECT_EQ(PortRead(port, buffer, sizeof buffer, &got), wine);
        EXPECT_EQ(got, 0u);
        EXPECT_FALSE(PortClearErrors(port, &errors));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(wine ? ERROR_NOT_READY : ERROR_ACCESS_DENIED));
    }

    // Windows' clock: Sleep(1) lasts a scheduler tick and the clock steps by one.
    ResetFakePort();
    g_fakePort.windowsClock = true;
    g_fakePort.clockUs = 0;
    PortPause(1);
    EXPECT_EQ(g_fakePort.clockUs, 15625u);
    const DWORD before = PortClockMs();
    g_fakePort.clockUs += 10000;
    EXPECT_EQ(PortClockMs(), before) << "the clock moves only at a tick";
}

}  // namespace
