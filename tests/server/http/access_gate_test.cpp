// The pieces of the browser access gate that read what a request carries.

#include "http/access_gate.h"

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

TEST(AccessGateTest, TheCookieIsHttpOnlyAndStrictForTheWholeSiteOrTheProxysPrefix)
{
    EXPECT_EQ(ClientIdCookieHeader("ABC"),
        "Set-Cookie: VembaCastId=ABC; Path=/; HttpOnly; SameSite=Strict\r\n");
    EXPECT_EQ(ClientIdCookieHeader("ABC", "/media"),
        "Set-Cookie: VembaCastId=ABC; Path=/media/; HttpOnly; SameSite=Strict\r\n");
}

} // namespace
