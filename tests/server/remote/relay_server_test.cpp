#include "config/settings.h"
#include "fake_transport.h"
#include "remote/relay_server.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

class RelayServerTest : public ::testing::Test {
protected:
    CRelayServer Relay(const std::string& builtInRoot = std::string())
    {
        return CRelayServer(m_data.Settings(), m_transport, builtInRoot);
    }
    vembatest::TestSettingsFolder m_data;
    FakeTransport m_transport;
};

TEST(SplitHttpUrl, TakesHostPortAndObjectOfPlainHttpOnly)
{
    HttpTarget target;
    ASSERT_TRUE(SplitHttpUrl("http://console.example/info/getExternalIP.php", target));
    EXPECT_EQ(target.host, "console.example");
    EXPECT_EQ(target.port, 80);
    EXPECT_EQ(target.object, "/info/getExternalIP.php");
    ASSERT_TRUE(SplitHttpUrl("HTTP://127.0.0.1:8080", target));
    EXPECT_EQ(target.host, "127.0.0.1");
    EXPECT_EQ(target.port, 8080);
    EXPECT_EQ(target.object, "/");
    ASSERT_TRUE(SplitHttpUrl("http://[::1]:81/a", target));
    EXPECT_EQ(target.host, "[::1]");
    EXPECT_EQ(target.port, 81);
    for (const char* bad : { "https://h/a", "ftp://h/", "http://", "http:///a", "http://h:0/",
             "http://h:65536/", "http://h:x/", "http://user@h/", "h/a", "", "http://[::1/a" })
        EXPECT_FALSE(SplitHttpUrl(bad, target)) << bad;
}

TEST_F(RelayServerTest, PostFormAddsASlashOnlyWhenTheBaseEndsWithNeither)
{
    CRelayServer relay = Relay();
    m_transport.reply = { TransportFailure::None, 200, "answer" };
    EXPECT_EQ(relay.PostForm("http://h/info", "p.php", "a=1", kFormPost), "answer");
    EXPECT_EQ(m_transport.lastTarget.object, "/info/p.php");
    EXPECT_EQ(m_transport.lastBody, "a=1");
    EXPECT_TRUE(m_transport.lastPost);
    relay.PostForm("http://h/info/", "p.php", "", kFormPost);
    EXPECT_EQ(m_transport.lastTarget.object, "/info/p.php");
    relay.PostForm("http://h/info\\", "p.php", "", 0);
    EXPECT_EQ(m_transport.lastTarget.object, "/info\\p.php");
    EXPECT_FALSE(m_transport.lastPost);
}

TEST_F(RelayServerTest, TransportFailuresBecomeTheErrorTexts)
{
    CRelayServer relay = Relay();
    EXPECT_EQ(relay.PostForm("https://h/", "p.php", "", kFormPost), "ERR:INVAILD URL");
    EXPECT_EQ(m_transport.calls, 0);
    m_transport.reply = { TransportFailure::Connect, 0, "" };
    EXPECT_EQ(relay.PostForm("http://h/", "p.php", "", kFormPost), "ERR: Unable Internet Session");
    m_transport.reply = { TransportFailure::Request, 0, "" };
    EXPECT_EQ(relay.PostForm("http://h/", "p.php", "", kFormPost), "ERR: Unable Relay Server");
    // A cut-off answer could end inside a value: none of it is taken.
    m_transport.reply = { TransportFailure::Receive, 200, "<plist><di" };
    EXPECT_EQ(relay.PostForm("http://h/", "p.php", "", kFormPost), "");
    m_transport.reply = { TransportFailure::TooLarge, 200, "<plist><dict>" };
    EXPECT_EQ(relay.PostForm("http://h/", "p.php", "", kFormPost), "");
    m_transport.reply = { TransportFailure::None, 404, "not found page" };
    EXPECT_EQ(relay.PostForm("http://h/", "p.php", "", kFormPost), "");
}

TEST_F(RelayServerTest, RequestsClearErrorAnswersOfFiveOrMoreCharacters)
{
    CRelayServer relay = Relay();
    m_transport.reply = { TransportFailure::Connect, 0, "" };
    EXPECT_EQ(relay.Request("http://h/", "p.php", ""), "");
    m_transport.reply = { TransportFailure::None, 200, "ERR" };
    EXPECT_EQ(relay.Request("http://h/", "p.php", ""), "ERR");
    m_transport.reply = { TransportFailure::None, 200, "ERR:x" };
    EXPECT_EQ(relay.Request("http://h/", "p.php", ""), "");
    m_transport.reply = { TransportFailure::None, 200, "ERROR" };
    EXPECT_EQ(relay.Request("http://h/", "p.php", ""), "ERROR");
}

TEST_F(RelayServerTest, AddressesComeFromTheSettingsOrTheBuiltInConsole)
{
    {
        CRelayServer relay = Relay("http://127.0.0.1:9/");
        EXPECT_EQ(relay.InfoAddress(), "http://127.0.0.1:9/info/");
        EXPECT_EQ(relay.PinAddress(), "http://127.0.0.1:9/pin/");
        EXPECT_EQ(relay.UpdateAddress(), "http://127.0.0.1:9/update/");
    }
    m_data.Set("TestSeverURL", "http://console.test");
    m_data.Set("TestSeverURL_INFO", "http://other.test/x/");
    {
        CRelayServer relay = Relay("http://127.0.0.1:9/");
        EXPECT_EQ(relay.InfoAddress(), "http://other.test/x/");
        EXPECT_EQ(relay.PinAddress(), "http://console.test/pin/");
    }
}

TEST_F(RelayServerTest, GetExternalIpPostsTheAdminForm)
{
    m_data.Set("TestSeverURL_INFO", "http://console.test/info");
    CRelayServer relay = Relay();
    m_transport.reply = { TransportFailure::None, 200, "doc" };
    EXPECT_EQ(relay.GetExternalIp(), "doc");
    EXPECT_EQ(m_transport.lastTarget.host, "console.test");
    EXPECT_EQ(m_transport.lastTarget.object, "/info/getExternalIP.php");
    EXPECT_EQ(m_transport.lastBody, "admin_id=corvane");
    EXPECT_TRUE(m_transport.lastPost);
}

TEST_F(RelayServerTest, WithoutAnyConsoleEveryRequestIsEmptyAndNothingIsSent)
{
    CRelayServer relay = Relay();
    EXPECT_EQ(relay.GetExternalIp(), "");
    EXPECT_EQ(m_transport.calls, 0);
}
