// The plain rules of the HTTP front: which proxies are trusted and what they forward,
// which names the server answers to, and which origin a request names.

#include "http/allowed_hosts.h"
#include "http/cross_site.h"
#include "http/trusted_proxy.h"

#include <gtest/gtest.h>
#include <map>

namespace {

HeaderLookup Headers(std::map<std::string, std::string> headers)
{
    return [headers](std::string_view name) -> std::optional<std::string> {
        auto found = headers.find(std::string(name));
        return found == headers.end() ? std::nullopt : std::optional(found->second);
    };
}

TEST(TrustedProxiesTest, AddressesAndNetworksOfBothFamiliesAreTrustedAndNothingElse)
{
    std::vector<std::string> rejected;
    TrustedProxies proxies
        = TrustedProxies::Parse("127.0.0.1, 10.0.0.0/8;fd00::/8  192.168.1.0/33 proxy", &rejected);
    EXPECT_EQ(rejected, (std::vector<std::string> { "192.168.1.0/33", "proxy" }));
    EXPECT_TRUE(proxies.Trusts("127.0.0.1"));
    EXPECT_TRUE(proxies.Trusts("::ffff:127.0.0.1"));
    EXPECT_FALSE(proxies.Trusts("127.0.0.2"));
    EXPECT_TRUE(proxies.Trusts("10.200.3.4"));
    EXPECT_FALSE(proxies.Trusts("11.0.0.1"));
    EXPECT_TRUE(proxies.Trusts("fd12::1"));
    EXPECT_FALSE(proxies.Trusts("fe80::1"));
    EXPECT_FALSE(proxies.Trusts("not an address"));
    EXPECT_TRUE(TrustedProxies::Parse("").Empty());
    EXPECT_TRUE(TrustedProxies::Parse("0.0.0.0/0").Trusts("203.0.113.5"));
    EXPECT_TRUE(TrustedProxies::Parse("10.1.2.3/31").Trusts("10.1.2.2"));
    EXPECT_FALSE(TrustedProxies::Parse("10.1.2.3/31").Trusts("10.1.2.4"));
}

TEST(TrustedProxiesTest, TheClientIsTheRightmostForwardedAddressNoTrustedProxyHolds)
{
    TrustedProxies proxies = TrustedProxies::Parse("127.0.0.1 10.0.0.0/8");
    EXPECT_EQ(ForwardedClient(proxies, "203.0.113.1, 198.51.100.2, 10.0.0.7"), "198.51.100.2");
    EXPECT_EQ(ForwardedClient(proxies, "10.0.0.1, 10.0.0.2"), "10.0.0.1");
    EXPECT_EQ(ForwardedClient(proxies, "198.51.100.2:5555"), "198.51.100.2");
    EXPECT_EQ(ForwardedClient(proxies, "[2001:db8::1]:443"), "2001:db8::1");
    EXPECT_EQ(ForwardedClient(proxies, "unknown, 10.0.0.7"), std::nullopt);
    EXPECT_EQ(ForwardedClient(proxies, " , "), std::nullopt);
}

TEST(TrustedProxiesTest, OnlyATrustedPeerChangesWhatTheRequestSaysOfItsClient)
{
    TrustedProxies proxies = TrustedProxies::Parse("127.0.0.1");
    auto forwarded = Headers({ { "Host", "127.0.0.1:47002" }, { "X-Forwarded-For", "198.51.100.7" },
        { "X-Forwarded-Proto", "HTTPS" }, { "X-Forwarded-Host", "media.example" } });
    ClientView stranger = SeeClient(proxies, "192.168.0.5", false, forwarded);
    EXPECT_EQ(stranger.address, "192.168.0.5");
    EXPECT_FALSE(stranger.secure);
    EXPECT_EQ(stranger.host, "127.0.0.1:47002");
    EXPECT_FALSE(stranger.viaTrustedProxy);

    ClientView proxied = SeeClient(proxies, "127.0.0.1", false, forwarded);
    EXPECT_EQ(proxied.address, "198.51.100.7");
    EXPECT_TRUE(proxied.secure);
    EXPECT_EQ(proxied.host, "media.example");
    EXPECT_TRUE(proxied.forwardedHost);
    EXPECT_EQ(proxied.fault, "");

    ClientView bare = SeeClient(proxies, "127.0.0.1", true, Headers({}));
    EXPECT_EQ(bare.address, "127.0.0.1");
    EXPECT_TRUE(bare.secure);
    EXPECT_NE(
        SeeClient(proxies, "127.0.0.1", false, Headers({ { "X-Forwarded-Host", "a b" } })).fault,
        "");
}

TEST(AllowedHostsTest, HostValuesGiveTheirNameOrNothing)
{
    EXPECT_EQ(HostValueName("Media.Example:47002"), "media.example");
    EXPECT_EQ(HostValueName("localhost."), "localhost");
    EXPECT_EQ(HostValueName("[::1]:80"), "::1");
    EXPECT_EQ(HostValueName("[::1"), std::nullopt);
    EXPECT_EQ(HostValueName("[evil.example]"), std::nullopt);
    EXPECT_EQ(HostValueName("a.example:http"), std::nullopt);
    EXPECT_EQ(HostValueName("a/b"), std::nullopt);
    EXPECT_EQ(HostValueName(""), std::nullopt);
}

TEST(AllowedHostsTest, AddressesLocalhostOwnNamesAndAllowedNamesAreServed)
{
    const std::vector<std::string> own { "box", "box.local" };
    for (const char* name :
        { "127.0.0.1", "192.168.1.9", "::1", "localhost", "box", "BOX.local", "media.example" })
        EXPECT_TRUE(IsAllowedHostName(name, "other.example media.example.", own)) << name;
    for (const char* name : { "evil.example", "box.evil.example", "localhost.evil.example", "" })
        EXPECT_FALSE(IsAllowedHostName(name, "other.example media.example.", own)) << name;
}

TEST(CrossSiteTest, OriginsAreComparedWithoutDefaultPortsAndCase)
{
    EXPECT_EQ(OwnOrigin(false, "Box:80"), "http://box");
    EXPECT_EQ(OwnOrigin(true, "box:443"), "https://box");
    EXPECT_EQ(OwnOrigin(false, "box:443"), "http://box:443");
    EXPECT_EQ(OwnOrigin(false, ""), "");
    EXPECT_EQ(OriginOfUrl("HTTP://Box:80/x?y#z"), "http://box");
    EXPECT_EQ(OriginOfUrl("https://user@box:8443/"), "https://box:8443");
    EXPECT_EQ(OriginOfUrl("http://[::1]:47002/index.html"), "http://[::1]:47002");
    EXPECT_EQ(OriginOfUrl("null"), "");
    EXPECT_EQ(OriginOfUrl("file:///etc/passwd"), "");
}

} // namespace
