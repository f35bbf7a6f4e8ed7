#include "platform/adapters.h"
#include "platform/host.h"
#include "platform/ports.h"
#include "server/platform/text_shape.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback socket bound to an ephemeral port and listening, closed with the object.
class ListeningSocket {
public:
    ListeningSocket()
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
            || listen(m_fd, 1) != 0)
            return;
        socklen_t length = sizeof(address);
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~ListeningSocket() { close(m_fd); }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

TEST(Ports, AListeningPortIsNotFreeAndTheSearchSkipsIt)
{
    ListeningSocket taken;
    ASSERT_GT(taken.port(), 0);
    EXPECT_FALSE(IsPortFree(taken.port()));
    int found = FindFreePort(taken.port(), taken.port() + 20);
    EXPECT_GT(found, taken.port());
    EXPECT_TRUE(IsPortFree(found));
}

TEST(Ports, ARangeOfTakenPortsGivesMinusOne)
{
    ListeningSocket a;
    EXPECT_EQ(FindFreePort(a.port(), a.port()), -1);
    EXPECT_EQ(FindFreePort(10, 9), -1);
    EXPECT_FALSE(IsPortFree(0));
    EXPECT_FALSE(IsPortFree(70000));
}

TEST(Ports, AClosedPortIsFreeAgain)
{
    int port = 0;
    {
        ListeningSocket once;
        port = once.port();
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
