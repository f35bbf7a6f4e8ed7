// "RequirePassword" over real HTTP: the password at "/connect", the cookie, the 403
// for requests without a known id, the back-off after a failure, list files that only
// their asker fetches, and the default that phones rely on (nothing checked).

#include "config/texts.h"
#include "http/password_attempts.h"
#include "server/http/session_http_fixture.h"

namespace {

class RequirePasswordTest : public SessionHttpTest {
protected:
    void StartRequiring(const std::string& password)
    {
        SetSetting("Password", password);
        SetSetting("PasswordMode", "1");
        SetSetting("RequirePassword", "1");
        StartServer();
    }

    // The id of a password-checked connection, with the cookie that came with it.
    std::string Connect(const std::string& password, std::string* cookie = nullptr)
    {
        HttpReply reply = Get("/connect?password=" + password);
        if (cookie)
            *cookie = reply.Header("set-cookie");
        return PlistValue(reply.body, "result") == "0"
            ? PlistValue(reply.body, "message").value_or("")
            : std::string();
    }
};

TEST_F(RequirePasswordTest, ByDefaultNothingIsCheckedAndNoCookieIsSet)
{
    SetSetting("Password", "1234");
    SetSetting("PasswordMode", "1");
    StartServer();
    HttpReply connect = Get("/connect");
    EXPECT_EQ(PlistValue(connect.body, "result"), "0");
    EXPECT_EQ(PlistValue(connect.body, "password"), "1234");
    EXPECT_EQ(connect.Header("set-cookie"), "");
    HttpReply list = Get("/getList?path=/");
    EXPECT_EQ(list.status, 200);
    EXPECT_EQ(PlistValue(list.body, "result"), "0");
}

TEST_F(RequirePasswordTest, AMissingPasswordIsNeededAndAWrongOneRefusesTheAddressForItsBackOff)
{
    StartRequiring("1234");
    Server().ConnectAttempts().SetLimits({ std::chrono::hours(1), std::chrono::hours(1), 64 });
    // Without a password: asked for, and no failure (the right one still works at once).
    for (const std::string target : { "/connect", "/connect?password=" }) {
        HttpReply reply = Get(target);
        EXPECT_EQ(PlistValue(reply.body, "result"), "-17") << target;
        EXPECT_EQ(PlistValue(reply.body, "message"),
            Server().Texts().Lookup("IDS_ERROR_PASSWORD_NEEDED"));
        EXPECT_EQ(reply.Header("set-cookie"), "") << target;
        EXPECT_EQ(PlistValue(reply.body, "retryafter"), std::nullopt) << target;
    }
    EXPECT_EQ(Server().ConnectAttempts().TrackedAddresses(), 0u);
    HttpReply wrong = Get("/connect?password=4321");
    EXPECT_EQ(PlistValue(wrong.body, "result"), "-17");
    EXPECT_EQ(
        PlistValue(wrong.body, "message"), Server().Texts().Lookup("IDS_ERROR_FAILED_PASSWORD"));
    EXPECT_EQ(PlistValue(wrong.body, "password"), "");
    EXPECT_EQ(wrong.Header("set-cookie"), "");
    EXPECT_EQ(PlistValue(wrong.body, "retryafter"), "3600"); // the back-off, in seconds
    // The back-off refuses at once, the right password too, and says why and how long
    // is left (rounded up, so a client that waits it out finds it over).
    HttpReply waiting = Get("/connect?password=1234");
    EXPECT_EQ(PlistValue(waiting.body, "result"), "-17");
    EXPECT_EQ(
        PlistValue(waiting.body, "message"), Server().Texts().Lookup("IDS_ERROR_PASSWORD_WAIT"));
    EXPECT_EQ(PlistValue(waiting.body, "retryafter"), "3600");
    Server().ConnectAttempts().ForgetAll();
    EXPECT_NE(Connect("1234"), "");
}

TEST_F(RequirePasswordTest, ThePasswordMustMatchWhole)
{
    StartRequiring("1234");
    Server().ConnectAttempts().SetLimits({ std::chrono::seconds(0), std::chrono::seconds(0), 64 });
    for (const std::string password : { "12345", "123", "%2B1234", "01234" })
        EXPECT_EQ(Connect(password), "") << password;
}

TEST_F(RequirePasswordTest, TheCookieAloneLetsABrowserBackInUnderItsIdWithoutAPassword)
{
    StartRequiring("1234");
    std::string cookie;
    std::string id = Connect("1234", &cookie);
    ASSERT_EQ(id.size(), 32u);
    // A reload: "/connect" without a password, with the cookie, hands the same id back.
    HttpReply again = Get("/connect", "Cookie: VembaCastId=" + id + "\r\n");
    EXPECT_EQ(PlistValue(again.body, "result"), "0") << again.body;
    EXPECT_EQ(PlistValue(again.body, "message"), id);
    EXPECT_EQ(again.Header("set-cookie"), cookie);
    // A session released meanwhile is made again under the id.
    Server().Sessions().QZ_FreeClientInfoList();
    ASSERT_EQ(Server().Sessions().QZ_FindClientInfo(id), nullptr);
    Get("/connect", "Cookie: VembaCastId=" + id + "\r\n");
    EXPECT_NE(Server().Sessions().QZ_FindClientInfo(id), nullptr);
    // An unknown id in the cookie is no way in.
    HttpReply stranger = Get("/connect", "Cookie: VembaCastId=" + std::string(32, 'B') + "\r\n");
    EXPECT_EQ(PlistValue(stranger.body, "result"), "-17");
}

TEST_F(RequirePasswordTest, ApiRequestsNeedAKnownIdFromQueryPathOrCookie)
{
    StartRequiring("1234");
    std::string id = Connect("1234");
    ASSERT_FALSE(id.empty());
    const std::string unknown(32, 'A');
    EXPECT_EQ(Get("/getList?path=/").status, 403);
    EXPECT_EQ(Get("/getList?path=/&id=" + unknown).status, 403);
    EXPECT_EQ(Get("/getList?path=/", "Cookie: VembaCastId=" + unknown + "\r\n").status, 403);
    EXPECT_EQ(Get("/file_download/Movies/a.mp4").status, 403);
    EXPECT_EQ(Get("/list/" + unknown + "/files.m3u8").status, 403);
    EXPECT_EQ(Get("/playEnd").status, 403);

    HttpReply byQuery = Get("/getList?path=/&id=" + id);
    EXPECT_EQ(PlistValue(byQuery.body, "result"), "0");
    HttpReply byCookie = Get("/getList?path=/", "Cookie: theme=dark; VembaCastId=" + id + "\r\n");
    EXPECT_EQ(PlistValue(byCookie.body, "result"), "0");
    // A known id in the path reaches the playlist handler (no playlist exists: not 403).
    EXPECT_NE(Get("/list/" + id + "/files.m3u8").status, 403);
}

TEST_F(RequirePasswordTest, TheBrowsersJsonApiNeedsAKnownIdToo)
{
    StartRequiring("1234");
    std::string cookie;
    const std::string id = Connect("1234", &cookie);
    ASSERT_FALSE(id.empty());
    for (const std::string target : { "/api/v1/folder?path=/", "/api/v1/recent",
             "/api/v1/positions", "/api/v1/position/save?path=/Movies/a.mp4&position=1",
             "/api/v1/profiles", "/api/v1/nothing" })
        EXPECT_EQ(Get(target).status, 403) << target;
    EXPECT_EQ(Get("/api/v1/folder?path=/&id=" + id).status, 200);
    EXPECT_EQ(Get("/api/v1/profiles", "Cookie: VembaCastId=" + id + "\r\n").status, 200);
}

TEST_F(RequirePasswordTest, ServerOffIsRefusedWithoutAKnownId)
{
    StartRequiring("1234");
    HttpReply reply = Get("/serverOff");
    EXPECT_EQ(reply.status, 403);
    EXPECT_EQ(PlistValue(reply.body, "result"), std::nullopt);
}

TEST_F(RequirePasswordTest, TheClientsPageStaysOpenAndCarriesItsSecurityHeaders)
{
    StartRequiring("1234");
    HttpReply page = Get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.Header("content-security-policy"),
        "default-src 'self'; media-src 'self' blob:; worker-src 'self' blob:");
    EXPECT_EQ(page.Header("x-content-type-options"), "nosniff");
}

TEST_F(RequirePasswordTest, AListFileIsFetchedOnceAndOnlyWithTheIdThatAskedForIt)
{
    StartRequiring("1234");
    const std::string mine = Connect("1234");
    Server().ConnectAttempts().ForgetAll();
    const std::string other = Connect("1234");
    ASSERT_FALSE(mine.empty());
    ASSERT_FALSE(other.empty());
    HttpReply list = Get("/getList?path=/&id=" + mine);
    const std::string xml = LoopbackServer::PathOf(PlistValue(list.body, "fileurl").value_or(""));
    ASSERT_EQ(xml.rfind("/xml/", 0), 0u) << list.body;
    EXPECT_EQ(Get(xml, "Cookie: VembaCastId=" + other + "\r\n").status, 404);
    EXPECT_EQ(Get(xml + "?id=" + other).status, 404);
    HttpReply fetched = Get(xml, "Cookie: VembaCastId=" + mine + "\r\n");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_NE(fetched.body.find("<plist"), std::string::npos);
    EXPECT_EQ(Get(xml, "Cookie: VembaCastId=" + mine + "\r\n").status, 404);
}

} // namespace
