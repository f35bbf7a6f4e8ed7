#include "config/settings.h"
#include "config/settings_store.h"
#include "console/console_service.h"
#include "http/form_service.h"
#include "remote/embedded_console.h"
#include "remote/external_ip.h"
#include "remote/remote_context.h"
#include "support/http_client.h"
#include "support/table_gateway.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

class EmbeddedConsoleTest : public ::testing::Test {
protected:
    bool Refresh()
    {
        CRelayServer relay = m_server.Relay();
        return RefreshExternalIp(m_data.Settings(), relay);
    }
    vembatest::TestSettingsFolder m_data;
    RemoteContext m_server { m_data.Parts(), RemoteParts {} };
};

TEST_F(EmbeddedConsoleTest, AnswersTheChosenAdapterThroughTheRealHttpPath)
{
    m_data.Set("InIP", "10.9.8.7");
    CEmbeddedConsole& console = m_server.EmbeddedConsole();
    ASSERT_TRUE(StartEmbeddedConsoleIfNeeded(m_data.Settings(), console));
    ASSERT_GT(console.Port(), 0);
    EXPECT_EQ(
        m_server.BuiltInConsoleRoot(), "http://127.0.0.1:" + std::to_string(console.Port()) + "/");

    EXPECT_TRUE(Refresh());
    EXPECT_EQ(m_data.Get("ExtIP"), "10.9.8.7");

    console.Stop();
    EXPECT_EQ(m_server.BuiltInConsoleRoot(), "");
    m_data.Set("ExtIP", "");
    EXPECT_FALSE(Refresh());
    EXPECT_EQ(m_data.Get("ExtIP"), "");
}

TEST_F(EmbeddedConsoleTest, IsNotStartedWhenAConsoleIsConfigured)
{
    m_data.Set("TestSeverURL", "http://127.0.0.1:9/");
    EXPECT_FALSE(StartEmbeddedConsoleIfNeeded(m_data.Settings(), m_server.EmbeddedConsole()));
    EXPECT_FALSE(m_server.EmbeddedConsole().IsRunning());
}

TEST_F(EmbeddedConsoleTest, AnUnknownPageIsAnEmptyAnswer)
{
    ASSERT_TRUE(m_server.EmbeddedConsole().Start());
    CRelayServer relay = m_server.Relay();
    EXPECT_EQ(relay.PostForm(m_server.BuiltInConsoleRoot(), "nothing.php", "", kFormPost), "");
    EXPECT_NE(
        relay.PostForm(relay.InfoAddress(), "getExternalIP.php", "admin_id=corvane", kFormPost)
            .find("<plist"),
        std::string::npos);
}

TEST_F(EmbeddedConsoleTest, EachServerHasAConsoleOfItsOwn)
{
    vembatest::TestSettingsFolder otherData;
    RemoteContext other(otherData.Parts(), RemoteParts {});
    m_data.Set("InIP", "10.0.0.1");
    otherData.Set("InIP", "10.0.0.2");
    ASSERT_TRUE(m_server.EmbeddedConsole().Start());
    ASSERT_TRUE(other.EmbeddedConsole().Start());
    EXPECT_NE(m_server.BuiltInConsoleRoot(), other.BuiltInConsoleRoot());
    EXPECT_TRUE(Refresh());
    CRelayServer otherRelay = other.Relay();
    EXPECT_TRUE(RefreshExternalIp(otherData.Settings(), otherRelay));
    EXPECT_EQ(m_data.Get("ExtIP"), "10.0.0.1");
    EXPECT_EQ(otherData.Get("ExtIP"), "10.0.0.2");
}

TEST_F(EmbeddedConsoleTest, AConsoleWithoutAnAddressLeavesTheSettingAlone)
{
    CFormService service;
    CConsoleService noAddress([](const ConsoleRequest&) { return std::string(); });
    ASSERT_TRUE(service.Start("127.0.0.1", 0,
        [&](const FormRequest& r) { return noAddress.Answer(ToConsoleRequest(r)); }));
    m_data.Set(
        "TestSeverURL_INFO", "http://127.0.0.1:" + std::to_string(service.Port()) + "/info/");
    m_data.Set("ExtIP", "192.0.2.50");
    EXPECT_FALSE(Refresh());
    EXPECT_EQ(m_data.Get("ExtIP"), "192.0.2.50");
}

TEST_F(EmbeddedConsoleTest, AClosedPortIsNoInternetSession)
{
    int closed = PickFreePort();
    m_data.Set("TestSeverURL_INFO", "http://127.0.0.1:" + std::to_string(closed) + "/");
    CRelayServer relay = m_server.Relay();
    EXPECT_EQ(relay.PostForm(relay.InfoAddress(), "getExternalIP.php", "", kFormPost),
        "ERR: Unable Internet Session");
    EXPECT_EQ(relay.GetExternalIp(), "");
    EXPECT_FALSE(Refresh());
}

TEST_F(EmbeddedConsoleTest, TheFormServiceHandsOverThePostedBody)
{
    CFormService service;
    FormRequest seen;
    ASSERT_TRUE(service.Start(
        "127.0.0.1", 0, [&](const FormRequest& request) -> std::optional<std::string> {
            seen = request;
            return std::string("<plist/>");
        }));
    CRelayServer relay = m_server.Relay();
    std::string base = "http://127.0.0.1:" + std::to_string(service.Port()) + "/pin";
    EXPECT_EQ(relay.PostForm(base, "registerPINCode.php", "mac=AA&name=PC&port=47002", kFormPost),
        "<plist/>");
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.path, "/pin/registerPINCode.php");
    EXPECT_EQ(seen.body, "mac=AA&name=PC&port=47002");
    EXPECT_EQ(seen.remoteAddress, "127.0.0.1");

    HttpReply oversized = SendRawRequest(service.Port(),
        "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 999999999\r\nConnection: close\r\n\r\nabc");
    EXPECT_EQ(oversized.status, 413);
}

// With no console configured the embedded console tells the gateway's external
// address whenever a gateway answers, mapping on or off; the adapter's own address
// only when none does.
TEST(EmbeddedConsoleGateway, AnswersTheGatewaysAddressWheneverAGatewayAnswers)
{
    vembatest::TestSettingsFolder data;
    data.Set(kKeyInIP, "192.168.1.20");
    data.Set(kKeyAutoPortMapMode, "0");
    auto gateway = std::make_shared<vembatest::TableGateway>();
    gateway->externalAddress = "203.0.113.9";
    RemoteContext server(data.Parts(), RemoteParts { nullptr, gateway });
    ASSERT_TRUE(StartEmbeddedConsoleIfNeeded(data.Settings(), server.EmbeddedConsole()));
    CRelayServer relay = server.Relay();
    ASSERT_TRUE(RefreshExternalIp(data.Settings(), relay));
    EXPECT_EQ(data.Get(kKeyExtIP), "203.0.113.9");

    gateway->present = false;
    ASSERT_TRUE(RefreshExternalIp(data.Settings(), relay));
    EXPECT_EQ(data.Get(kKeyExtIP), "192.168.1.20");
}
