#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "app_session.h"
#include "fake_port.h"
#include "port_io.h"
#include "ports.h"
#include "resource.h"
#include "win_test_util.h"

namespace {

TEST(PortNameFilter, OffersComPortsOfAnyNumberUpToFourDigits)
{
    const struct {
        const wchar_t* name;
        bool offered;
    } cases[] = {{L"COM7", true},     {L"COM12", true},   {L"COM123", true}, {L"COM1000", true},
                 {L"com9999", true},  {L"COM10000", false}, {L"COMBO", true}, {L"COM12A", false},
                 {L"COM", false},     {L"LPT1", false},   {L"CON1", false},  {L"", false}};
    for (const auto& c : cases) EXPECT_EQ(PortNameFilter(c.name), c.offered) << c.name;
}

// The list follows the hardware; the user's choice survives its absence.
TEST(PortList, RefreshAddsAndRemovesNamesAndKeepsTheChoice)
{
    ResetFakePort();
    // The device list grows until the system's namespace fits.
    std::wstring volumes;
    for (int i = 0; i < 3000; ++i) volumes += L"HarddiskVolume" + std::to_wstring(i) + L"|";
    g_fakePort.devices = volumes + L"COM1|COM1000|LPT1|COM5|";
    HWND main = StartApp("[General]\r\nportname=COM1000\r\nportspeed=12582912\r\n");
    EXPECT_EQ(WindowText(g_portList), L"COM1000");
    EXPECT_EQ(SendMessageW(g_portList, CB_GETCOUNT, 0, 0), 3);
    g_fakePort.devices = L"COM1|COM12|";
    SendMessageW(main, WM_DEVICECHANGE, 0x0007, 0);  // DBT_DEVNODES_CHANGED
    EXPECT_EQ(SendMessageW(g_portList, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(WindowText(g_portList), L"") << "the chosen port is away";
    g_fakePort.devices = L"COM1|COM1000|COM12|COM3|";
    SendMessageW(main, WM_COMMAND, MAKEWPARAM(0, CBN_DROPDOWN), reinterpret_cast<LPARAM>(g_portList));
    EXPECT_EQ(WindowText(g_portList), L"COM1000") << "and back";
    EXPECT_EQ(SendMessageW(g_portList, CB_GETCOUNT, 0, 0), 4);

    g_fakePort.reportedState.DCBlength = sizeof(DCB);
    SendMessageW(main, WM_COMMAND, IDC_START, 0);
    EXPECT_EQ(g_fakePort.openedPath, "\\\\.\\COM1000") << "opened whole";
    EXPECT_EQ(g_fakePort.appliedState.BaudRate, 12582912u);
    SendMessageW(main, WM_COMMAND, IDC_STOP, 0);
    EXPECT_EQ(CloseApp(main), 0);
    EXPECT_NE(ReadText().find("portname=COM1000\r\nportspeed=12582912"), std::string::npos) << ReadText();

    g_fakePort.devices = L"";
    main = StartApp(nullptr);
    EXPECT_EQ(SendMessageW(g_speedList, CB_GETCOUNT, 0, 0), kBaudRateCount) << "speeds without any port";
    CloseApp(main);
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

    // Windows' millisecond clock moves only at a scheduler tick of 15.6 ms.
    ResetFakePort();
    g_fakePort.windowsClock = true;
    g_fakePort.clockUs = 15625;
    EXPECT_EQ(PortClockMs(), 15u);
    g_fakePort.clockUs += 15000;
    EXPECT_EQ(PortClockMs(), 15u);
    g_fakePort.clockUs += 625;
    EXPECT_EQ(PortClockMs(), 31u);
}

}  // namespace
