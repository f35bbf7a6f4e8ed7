// "/connect" over real HTTP: ids, sessions, the client host map and the password rule.

#include "config/texts.h"
#include "http/answer.h"
#include "http/client_ids.h"
#include "server/http/session_http_fixture.h"
#include "streaming/session_list.h"

#include <set>
#include <thread>

namespace {

class ConnectTest : public SessionHttpTest {
protected:
    int IsSession(const std::string& id) { return Server().Sessions().QZ_IsClientInfo(id); }
    std::string HostOf(const std::string& id)
    {
        return Server().Clients().FindClientHost(id).value_or("?");
    }
    size_t SessionCount() { return Server().Sessions().GetClientInfoList().size(); }
};

bool IsClientId(const std::string& text)
{
    return text.size() == 32 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

TEST_F(ConnectTest, AConnectionGetsANewIdASessionAndNoPasswordWhenPasswordModeIsOff)
{
    SetSetting("Password", "1234");
    StartServer();
    HttpReply first = Get("/connect");
    HttpReply second = Get("/connect");
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(first.Header("content-type"), "text/xml");
    std::string id = PlistValue(first.body, "message").value_or("");
    std::string other = PlistValue(second.body, "message").value_or("");
    EXPECT_TRUE(IsClientId(id)) << first.body;
    EXPECT_TRUE(IsClientId(other)) << second.body;
    EXPECT_NE(id, other);
    EXPECT_EQ(first.body,
        PlistDocument("<key>result</key><string>0</string><key>message</key><string>" + id
            + "</string><key>password</key><string></string>"));
    EXPECT_EQ(IsSession(id), 1);
    EXPECT_EQ(IsSession(other), 1);
    EXPECT_EQ(HostOf(id), "127.0.0.1");
}

TEST_F(ConnectTest, PasswordModeOneHandsOutThePasswordEscaped)
{
    SetSetting("PasswordMode", "1");
    SetSetting("Password", "1&<2");
    StartServer();
    HttpReply reply = Get("/connect");
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_EQ(PlistValue(reply.body, "password"), "1&amp;&lt;2");
}

TEST_F(ConnectTest, QueryVariablesChangeNothing)
{
    SetSetting("PasswordMode", "1");
    SetSetting("Password", "77");
    StartServer();
    HttpReply plain = Get("/connect");
    HttpReply withQuery = Get("/connect?version=9.9&password=wrong&id=" + std::string(5000, 'A'));
    EXPECT_EQ(PlistValue(withQuery.body, "result"), "0");
    EXPECT_EQ(PlistValue(withQuery.body, "password"), "77");
    EXPECT_TRUE(IsClientId(PlistValue(withQuery.body, "message").value_or("")));
    EXPECT_EQ(plain.body.size(), withQuery.body.size());
}

TEST_F(ConnectTest, TheHostOfTheConnectionIsRemembered)
{
    StartServer();
    HttpReply reply = SendRawRequest(
        m_port, "GET /connect HTTP/1.1\r\nHost: 192.0.2.7:47002\r\nConnection: close\r\n\r\n");
    std::string id = PlistValue(reply.body, "message").value_or("");
    ASSERT_TRUE(IsClientId(id));
    EXPECT_EQ(HostOf(id), "192.0.2.7");
    EXPECT_EQ(HostOf("0123456789ABCDEF0123456789ABCDEF"), "?");
}

TEST_F(ConnectTest, TwentyClientsAtOnceGetTwentyIdsAndSessions)
{
    StartServer();
    size_t before = SessionCount();
    std::vector<std::string> ids(20);
    std::vector<std::thread> clients;
    for (size_t i = 0; i < ids.size(); ++i)
        clients.emplace_back(
            [&, i] { ids[i] = PlistValue(Get("/connect").body, "message").value_or(""); });
    for (std::thread& client : clients)
        client.join();
    std::set<std::string> distinct;
    for (const std::string& id : ids) {
        EXPECT_TRUE(IsClientId(id)) << id;
        EXPECT_EQ(IsSession(id), 1) << id;
        distinct.insert(id);
    }
    EXPECT_EQ(distinct.size(), ids.size());
    EXPECT_EQ(SessionCount(), before + ids.size());
}

TEST_F(ConnectTest, NoGuidMeansResultMinusThreeAndNoSession)
{
    SetSetting("PasswordMode", "1");
    SetSetting("Password", "5<6");
    StartServer();
    Server().Clients().SetGuidSourceForTesting([] { return std::optional<Guid>(); });
    size_t before = SessionCount();
    HttpReply reply = Get("/connect");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(PlistValue(reply.body, "result"), "-3");
    EXPECT_EQ(PlistValue(reply.body, "message"),
        XmlEscape(Server().Texts().Lookup("IDS_ERROR_FAILED_CREATEID")));
    EXPECT_EQ(PlistValue(reply.body, "password"), "5&lt;6");
    EXPECT_EQ(SessionCount(), before);
}

TEST(MakeGUID, BothFormsGiveThirtyTwoUpperCaseDigits)
{
    ClientIds ids;
    std::string id = "unchanged";
    EXPECT_EQ(ids.MakeGUID(id), 1);
    EXPECT_TRUE(IsClientId(id));
    EXPECT_TRUE(IsClientId(ids.MakeGUID()));
    ids.SetGuidSourceForTesting([] { return std::optional<Guid>(); });
    std::string kept = "kept";
    EXPECT_EQ(ids.MakeGUID(kept), 0);
    EXPECT_EQ(kept, "kept");
    EXPECT_EQ(ids.MakeGUID(), "");
    EXPECT_TRUE(IsClientId(ClientIds().MakeGUID())) << "another server's ids were affected";
    ids.SetGuidSourceForTesting(nullptr);
    EXPECT_TRUE(IsClientId(ids.MakeGUID())) << "the real source is back";
}

} // namespace
