#include "http/home_network.h"

#include <gtest/gtest.h>

TEST(HomeNetworkTest, LoopbackPrivateAndLinkLocalIpv4AreHome)
{
    for (const char* address : { "127.0.0.1", "127.255.0.9", "10.0.0.1", "10.255.255.255",
             "172.16.0.1", "172.31.255.254", "192.168.0.10", "169.254.1.1" })
        EXPECT_TRUE(IsHomeNetworkAddress(address)) << address;
}

TEST(HomeNetworkTest, PublicIpv4AndTheEdgesOfThePrivateRangesAreNotHome)
{
    for (const char* address :
        { "8.8.8.8", "172.15.255.255", "172.32.0.1", "192.167.1.1", "192.169.0.1", "169.253.1.1",
            "11.0.0.1", "100.64.0.1", "0.0.0.0", "255.255.255.255", "198.51.100.7" })
        EXPECT_FALSE(IsHomeNetworkAddress(address)) << address;
}

TEST(HomeNetworkTest, Ipv6LoopbackUniqueLocalLinkLocalAndMappedHomeAddressesAreHome)
{
    for (const char* address : { "::1", "fd12:3456::1", "fc00::5", "fe80::1", "febf::1",
             "fe80::1%eth0", "::ffff:192.168.1.2", "::ffff:127.0.0.1" })
        EXPECT_TRUE(IsHomeNetworkAddress(address)) << address;
}

TEST(HomeNetworkTest, PublicIpv6AndMappedPublicAddressesAreNotHome)
{
    for (const char* address :
        { "2001:db8::1", "fec0::1", "fe00::1", "::", "::ffff:8.8.8.8", "::2", "::127.0.0.1" })
        EXPECT_FALSE(IsHomeNetworkAddress(address)) << address;
}

TEST(HomeNetworkTest, TextThatIsNotAnAddressIsNotHome)
{
    for (const char* address : { "", "localhost", "192.168.1", "192.168.1.1.1", "10.0.0.1 ",
             " 10.0.0.1", "10.0.0.01x", "[::1]", "%", "%fe80::1", "192.168.1.300" })
        EXPECT_FALSE(IsHomeNetworkAddress(address)) << address;
}
