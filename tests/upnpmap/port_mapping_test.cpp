// The port-mapping library against a real miniupnpd in network namespaces, and its
// argument checks, which must refuse before anything is sent.

#include "support/upnp_gateway.h"
#include "vembacastupnp.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

using vembatest::kGatewayWanAddress;
using vembatest::kTestLanAddress;

struct ReadMapping {
    int result = -1;
    int error = 0;
    char externalIp[16] = {};
    char client[16] = {};
    int internalPort = -1;
    int enabled = -1;
    char description[80] = {};
};

ReadMapping Read(int externalPort, int tcp)
{
    ReadMapping read;
    read.result = Vemba_GetPortMapInfo(externalPort, tcp, read.externalIp, 16, read.client, 16,
        &read.internalPort, &read.enabled, read.description, 80, 500);
    read.error = Vemba_GetLastError();
    return read;
}

class RealGateway : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = vembatest::UpnpGateway::WhyUnavailable();
        if (!why.empty())
            GTEST_SKIP() << "real UPnP gateway test skipped: " << why;
        std::string error;
        ASSERT_TRUE(vembatest::UpnpGateway::EnterPrivateNetwork(error)) << error;
        ASSERT_TRUE(m_gateway.BuildNetwork(error)) << error;
        if (StartsGateway()) {
            ASSERT_TRUE(m_gateway.StartDaemon(error)) << error;
        }
    }
    virtual bool StartsGateway() const { return true; }

    vembatest::UpnpGateway m_gateway;
};

class NoGateway : public RealGateway {
protected:
    bool StartsGateway() const override { return false; }
};

TEST_F(RealGateway, AddedMappingIsReadBackListedByUpnpcAndRemoved)
{
    ASSERT_EQ(Vemba_SetPortMapInfo(47002, 1, kTestLanAddress, 47002, 1, "VamboCast", 500), 1)
        << Vemba_GetLastError();
    EXPECT_EQ(Vemba_GetLastError(), 0);
    EXPECT_NE(
        m_gateway.Listing().find("TCP 47002->192.168.77.2:47002 'VamboCast'"), std::string::npos)
        << m_gateway.Listing();

    ReadMapping read = Read(47002, 1);
    ASSERT_EQ(read.result, 1) << read.error;
    EXPECT_STREQ(read.externalIp, kGatewayWanAddress);
    EXPECT_STREQ(read.client, kTestLanAddress);
    EXPECT_EQ(read.internalPort, 47002);
    EXPECT_EQ(read.enabled, 1);
    EXPECT_STREQ(read.description, "VamboCast");

    ASSERT_EQ(Vemba_RemovePortMapInfo(47002, 1, 500), 1) << Vemba_GetLastError();
    EXPECT_EQ(m_gateway.Listing().find("47002->"), std::string::npos) << m_gateway.Listing();
    ReadMapping gone = Read(47002, 1);
    EXPECT_EQ(gone.result, 0);
    EXPECT_EQ(gone.error, 0); // no match is no error
    EXPECT_STREQ(gone.externalIp, kGatewayWanAddress);
    EXPECT_STREQ(gone.client, "");
    EXPECT_EQ(gone.internalPort, 0);
}

TEST_F(RealGateway, ReadingFindsTheMappingAmongOthersAndOnlyWithItsProtocol)
{
    ASSERT_TRUE(m_gateway.AddMappingAs("192.168.77.3", 48000, 80));
    ASSERT_EQ(Vemba_SetPortMapInfo(47005, 0, kTestLanAddress, 47002, 1, "VamboCast", 500), 1)
        << Vemba_GetLastError();
    ReadMapping tcp = Read(47005, 1);
    EXPECT_EQ(tcp.result, 0);
    EXPECT_EQ(tcp.error, 0);
    ReadMapping udp = Read(47005, 0);
    ASSERT_EQ(udp.result, 1);
    EXPECT_EQ(udp.internalPort, 47002);
    ReadMapping other = Read(48000, 1);
    ASSERT_EQ(other.result, 1);
    EXPECT_STREQ(other.client, "192.168.77.3");
    EXPECT_EQ(other.internalPort, 80);
}

TEST_F(RealGateway, PortMappedToAnotherDeviceGivesTheGatewaysErrorCode)
{
    ASSERT_TRUE(m_gateway.AddMappingAs("192.168.77.3", 47002, 47002));
    EXPECT_EQ(Vemba_SetPortMapInfo(47002, 1, kTestLanAddress, 47002, 1, "VamboCast", 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), 718);
    // The other device's mapping is untouched.
    EXPECT_NE(m_gateway.Listing().find("47002->192.168.77.3:47002"), std::string::npos);
}

TEST_F(NoGateway, EveryCallFailsWithNoDevice)
{
    EXPECT_EQ(Vemba_SetPortMapInfo(47002, 1, kTestLanAddress, 47002, 1, "VamboCast", 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -11);
    ReadMapping read = Read(47002, 1);
    EXPECT_EQ(read.result, 0);
    EXPECT_EQ(read.error, -11);
    EXPECT_EQ(Vemba_RemovePortMapInfo(47002, 1, 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -11);
}

// These are refused before the discovery, so they run anywhere without a network.
TEST(PortMappingArguments, BadArgumentsAreRefusedBeforeAnythingIsSent)
{
    char ip[16], client[16], description[80];
    int port = 0, enabled = 0;
    EXPECT_EQ(Vemba_SetPortMapInfo(47002, 1, "1.2.3.", 47002, 1, "x", 500), 0); // 6 characters
    EXPECT_EQ(Vemba_GetLastError(), -2);
    EXPECT_EQ(Vemba_SetPortMapInfo(47002, 1, nullptr, 47002, 1, "x", 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
    EXPECT_EQ(Vemba_SetPortMapInfo(0, 1, "1.2.3.4", 47002, 1, "x", 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
    EXPECT_EQ(Vemba_SetPortMapInfo(47002, 1, "1.2.3.4", 65536, 1, "x", 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
    EXPECT_EQ(
        Vemba_GetPortMapInfo(47002, 1, ip, 15, client, 16, &port, &enabled, nullptr, 0, 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
    EXPECT_EQ(
        Vemba_GetPortMapInfo(47002, 1, ip, 16, client, 16, &port, &enabled, description, 79, 500),
        0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
    EXPECT_EQ(
        Vemba_GetPortMapInfo(47002, 1, ip, 16, client, 16, nullptr, &enabled, nullptr, 0, 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
    EXPECT_EQ(Vemba_RemovePortMapInfo(-5, 1, 500), 0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
}

TEST(PortMappingArguments, EachThreadReadsItsOwnLastError)
{
    EXPECT_EQ(Vemba_RemovePortMapInfo(0, 1, 500), 0);
    int otherThreadsError = 1;
    std::thread other([&] { otherThreadsError = Vemba_GetLastError(); });
    other.join();
    EXPECT_EQ(otherThreadsError, 0);
    EXPECT_EQ(Vemba_GetLastError(), -2);
}

TEST(PortMappingLibrary, ExportsExactlyTheFourCalls)
{
    std::string listing;
    ASSERT_TRUE(vembatest::RunCommand(
        "nm -D --defined-only " + vembatest::ShellQuote(VEMBACASTUPNP_LIBRARY), &listing))
        << listing;
    std::istringstream lines(listing);
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);)
        names.push_back(line.substr(line.find_last_of(' ') + 1));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
        (std::vector<std::string> { "Vemba_GetLastError", "Vemba_GetPortMapInfo",
            "Vemba_RemovePortMapInfo", "Vemba_SetPortMapInfo" }));
}

} // namespace
