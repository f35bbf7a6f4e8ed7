#include "platform/adapters.h"
#include "platform/host.h"
#include "platform/ports.h"
#include "server/platform/text_shape.h"
#include "support/port_holder.h"

#include <gtest/gtest.h>

namespace {

using vembatest::PortHolder;

TEST(Ports, AListeningPortIsNotFreeAndTheSearchSkipsIt)
{
    PortHolder taken;
    ASSERT_GT(taken.Port(), 0);
    EXPECT_FALSE(IsPortFree(taken.Port()));
    int found = FindFreePort(taken.Port(), taken.Port() + 20);
    EXPECT_GT(found, taken.Port());
    EXPECT_TRUE(IsPortFree(found));
}

TEST(Ports, ARangeOfTakenPortsGivesMinusOne)
{
    PortHolder a;
    EXPECT_EQ(FindFreePort(a.Port(), a.Port()), -1);
    EXPECT_EQ(FindFreePort(10, 9), -1);
    EXPECT_FALSE(IsPortFree(0));
    EXPECT_FALSE(IsPortFree(70000));
}

TEST(Ports, AClosedPortIsFreeAgain)
{
    int port = 0;
    {
        PortHolder once;
        port = once.Port();
    }
    EXPECT_TRUE(IsPortFree(port));
}

TEST(Adapters, EveryListedAdapterIsAnUpIpv4Interface)
{
    std::vector<Adapter> adapters = ListAdapters();
    for (const Adapter& adapter : adapters) {
        EXPECT_TRUE(IsDottedNumbers(adapter.address, 4, 4, 3)) << adapter.address;
        EXPECT_NE(adapter.address.rfind("127.", 0), 0u) << "loopback listed";
        EXPECT_NE(adapter.description, "lo");
        if (!adapter.hardwareAddress.empty()) {
            EXPECT_TRUE(HasShape(adapter.hardwareAddress, "FF:FF:FF:FF:FF:FF"));
        }
    }
    std::vector<std::string> addresses, descriptions, hardwares;
    EXPECT_EQ(ListAdapters(addresses, descriptions, hardwares), !adapters.empty());
    ASSERT_EQ(addresses.size(), adapters.size());
    EXPECT_EQ(descriptions.size(), adapters.size());
    EXPECT_EQ(hardwares.size(), adapters.size());
}

TEST(Adapters, HardwareAddressTextUsesTheFirstSixBytes)
{
    const unsigned char bytes[8] = { 0x00, 0x1a, 0x2B, 0xff, 0x09, 0x10, 0x77, 0x88 };
    EXPECT_EQ(FormatHardwareAddress(bytes, 8), "00:1A:2B:FF:09:10");
    EXPECT_EQ(FormatHardwareAddress(bytes, 5), "");
}

TEST(Host, NameIsNotEmpty)
{
    EXPECT_FALSE(GetHostName().empty());
}

} // namespace
