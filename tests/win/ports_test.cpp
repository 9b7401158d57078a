#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fake_port.h"
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

}  // namespace
