// "RequirePassword" over real HTTP: the password at "/connect", the cookie, the 403
// for requests without a known id, the failure limit, and the default that phones
// rely on (nothing checked).

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

TEST_F(RequirePasswordTest, AMissingOrWrongPasswordGetsMinusSeventeenAndNoId)
{
    StartRequiring("1234");
    for (const std::string target : { "/connect", "/connect?password=", "/connect?password=4321",
             "/connect?password=12345", "/connect?password=+1234" }) {
        HttpReply reply = Get(target);
        EXPECT_EQ(reply.status, 200) << target;
        EXPECT_EQ(PlistValue(reply.body, "result"), "-17") << target;
        EXPECT_EQ(PlistValue(reply.body, "message"),
            Server().Texts().Lookup("IDS_ERROR_FAILED_PASSWORD"));
        EXPECT_EQ(PlistValue(reply.body, "password"), "") << target;
        EXPECT_EQ(reply.Header("set-cookie"), "") << target;
        // The failures of this loop stay below the limit of one address.
    }
}

TEST_F(RequirePasswordTest, TheRightPasswordGivesAnIdInAStrictHttpOnlyCookieAndNoPassword)
{
    StartRequiring("1234");
    HttpReply reply = Get("/connect?password=1234");
    std::string id = PlistValue(reply.body, "message").value_or("");
    ASSERT_EQ(PlistValue(reply.body, "result"), "0") << reply.body;
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(PlistValue(reply.body, "password"), "");
    EXPECT_EQ(
        reply.Header("set-cookie"), "VembaCastId=" + id + "; Path=/; HttpOnly; SameSite=Strict");
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

TEST_F(RequirePasswordTest, FiveWrongPasswordsAMinuteShutOutEvenTheRightOne)
{
    StartRequiring("1234");
    for (int i = 0; i < PasswordAttempts::kPerAddressPerMinute; ++i)
        EXPECT_EQ(Connect("9" + std::to_string(i)), "");
    EXPECT_EQ(Connect("1234"), "");
    Server().ConnectAttempts().ForgetAll();
    EXPECT_NE(Connect("1234"), "");
}

} // namespace
