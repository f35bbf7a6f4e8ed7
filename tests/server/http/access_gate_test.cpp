// The pieces of the browser access gate that read what a request carries.

#include "http/access_gate.h"
#include "http/client_ids.h"

#include <gtest/gtest.h>

namespace {

TEST(AccessGateTest, FindsACookieByItsExactNameAmongOthers)
{
    EXPECT_EQ(FindCookie("a=1; VembaCastId=ABC; b=2", "VembaCastId").value_or("?"), "ABC");
    EXPECT_EQ(FindCookie("  VembaCastId = ABC ;", "VembaCastId").value_or("?"), "ABC");
    EXPECT_FALSE(FindCookie("XVembaCastId=ABC; VembaCastIdX=DEF", "VembaCastId"));
    EXPECT_FALSE(FindCookie("VembaCastId; ;;=; =x", "VembaCastId"));
    EXPECT_FALSE(FindCookie("", "VembaCastId"));
    EXPECT_EQ(FindCookie("VembaCastId=", "VembaCastId").value_or("?"), "");
}

TEST(AccessGateTest, TakesTheIdFromPlaylistAndSegmentPathsOnly)
{
    EXPECT_EQ(PathClientId("/list/ABC/files.m3u8"), "ABC");
    EXPECT_EQ(PathClientId("/file/ABC/vemba-1-3.ts"), "ABC");
    EXPECT_EQ(PathClientId("/file/ABC"), "");
    EXPECT_EQ(PathClientId("/list//files.m3u8"), "");
    EXPECT_EQ(PathClientId("/xml/ABC/x"), "");
    EXPECT_EQ(PathClientId("/file_download/ABC/x"), "");
}

TEST(AccessGateTest, PasswordsMatchOnlyWhenEqualAndSomethingIsStored)
{
    EXPECT_TRUE(PasswordMatches("1234", "1234"));
    EXPECT_FALSE(PasswordMatches("123", "1234"));
    EXPECT_FALSE(PasswordMatches("12345", "1234"));
    EXPECT_FALSE(PasswordMatches("1235", "1234"));
    EXPECT_FALSE(PasswordMatches("", ""));
    EXPECT_FALSE(PasswordMatches("x", ""));
}

TEST(AccessGateTest, TheCookieIsHttpOnlyStrictUnderTheBasePathForThirtyDaysAndSecureOverHttps)
{
    EXPECT_EQ(ClientIdCookieHeader("ABC", false),
        "Set-Cookie: VembaCastId=ABC; Path=/; Max-Age=2592000; HttpOnly; SameSite=Strict\r\n");
    EXPECT_EQ(ClientIdCookieHeader("ABC", true, "/media"),
        "Set-Cookie: VembaCastId=ABC; Path=/media/; Max-Age=2592000; HttpOnly; SameSite=Strict; "
        "Secure\r\n");
}

TEST(ClientIdsTest, AnIdLivesThirtyDaysUnusedAndTheMapStaysBounded)
{
    std::chrono::steady_clock::time_point now {};
    ClientIds ids([&now] { return now; });
    ids.SetClientHost("USED", "10.0.0.1");
    ids.SetClientHost("IDLE", "10.0.0.2");
    now += ClientIds::kIdLife - std::chrono::hours(1);
    EXPECT_EQ(ids.FindClientHost("USED"), "10.0.0.1"); // a use keeps it
    now += std::chrono::hours(1);
    EXPECT_EQ(ids.FindClientHost("IDLE"), std::nullopt);
    EXPECT_EQ(ids.FindClientHost("USED"), "10.0.0.1");

    for (size_t i = 0; i < ClientIds::kMaxIds + 10; ++i) {
        now += std::chrono::seconds(1);
        ids.SetClientHost("FLOOD" + std::to_string(i), "10.0.0.3");
    }
    EXPECT_EQ(ids.ClientHostCount(), ClientIds::kMaxIds);
    EXPECT_EQ(ids.FindClientHost("FLOOD0"), std::nullopt); // the least recently used went
    EXPECT_EQ(ids.FindClientHost("FLOOD20"), "10.0.0.3");
}

} // namespace
