#include "config/settings.h"
#include "console/console_service.h"
#include "http/form_service.h"
#include "remote/embedded_console.h"
#include "remote/external_ip.h"
#include "remote/relay_server.h"
#include "server/platform/temp_folder.h"
#include "support/http_client.h"

#include <gtest/gtest.h>

class EmbeddedConsoleTest : public ::testing::Test {
protected:
    void Set(const std::string& key, const std::string& value)
    {
        SetSettingString("", kSettingSection, key, value);
    }
    TempFolder m_data;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_data.path() };
};

TEST_F(EmbeddedConsoleTest, AnswersTheChosenAdapterThroughTheRealHttpPath)
{
    Set("InIP", "10.9.8.7");
    CEmbeddedConsole console;
    ASSERT_TRUE(StartEmbeddedConsoleIfNeeded(console));
    ASSERT_GT(console.Port(), 0);
    EXPECT_EQ(GetBuiltInConsoleRoot(), "http://127.0.0.1:" + std::to_string(console.Port()) + "/");

    EXPECT_TRUE(RefreshExternalIp());
    EXPECT_EQ(GetSettingString("ExtIP"), "10.9.8.7");

    console.Stop();
    EXPECT_EQ(GetBuiltInConsoleRoot(), "");
    Set("ExtIP", "");
    EXPECT_FALSE(RefreshExternalIp());
    EXPECT_EQ(GetSettingString("ExtIP"), "");
}

TEST_F(EmbeddedConsoleTest, IsNotStartedWhenAConsoleIsConfigured)
{
    Set("TestSeverURL", "http://127.0.0.1:9/");
    CEmbeddedConsole console;
    EXPECT_FALSE(StartEmbeddedConsoleIfNeeded(console));
    EXPECT_FALSE(console.IsRunning());
}

TEST_F(EmbeddedConsoleTest, AnUnknownPageIsAnEmptyAnswer)
{
    CEmbeddedConsole console;
    ASSERT_TRUE(console.Start());
    CRelayServer relay;
    EXPECT_EQ(relay.PostForm(GetBuiltInConsoleRoot(), "nothing.php", "", kFormPost), "");
    EXPECT_NE(
        relay.PostForm(relay.InfoAddress(), "getExternalIP.php", "admin_id=corvane", kFormPost)
            .find("<plist"),
        std::string::npos);
}

TEST_F(EmbeddedConsoleTest, AConsoleWithoutAnAddressLeavesTheSettingAlone)
{
    CFormService service;
    CConsoleService noAddress([](const ConsoleRequest&) { return std::string(); });
    ASSERT_TRUE(service.Start("127.0.0.1", 0,
        [&](const FormRequest& r) { return noAddress.Answer(ToConsoleRequest(r)); }));
    Set("TestSeverURL_INFO", "http://127.0.0.1:" + std::to_string(service.Port()) + "/info/");
    Set("ExtIP", "192.0.2.50");
    EXPECT_FALSE(RefreshExternalIp());
    EXPECT_EQ(GetSettingString("ExtIP"), "192.0.2.50");
}

TEST_F(EmbeddedConsoleTest, AClosedPortIsNoInternetSession)
{
    int closed = PickFreePort();
    Set("TestSeverURL_INFO", "http://127.0.0.1:" + std::to_string(closed) + "/");
    CRelayServer relay;
    EXPECT_EQ(relay.PostForm(relay.InfoAddress(), "getExternalIP.php", "", kFormPost),
        "ERR: Unable Internet Session");
    EXPECT_EQ(relay.GetExternalIp(), "");
    EXPECT_FALSE(RefreshExternalIp());
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
    CRelayServer relay;
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
