#include "config/settings.h"
#include "http/web_server.h"
#include "platform/host.h"
#include "platform/ports.h"
#include "remote/setting_defaults.h"
#include "server/platform/temp_folder.h"
#include "support/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class SettingDefaultsTest : public ::testing::Test {
protected:
    void Set(const std::string& key, const std::string& value)
    {
        SetSettingString("", kSettingSection, key, value);
    }
    std::string Get(const std::string& key) { return GetSettingString(key); }

    void Fill(bool refreshSucceeds = true)
    {
        FillSettingDefaults(m_addresses, m_hardware, [&] {
            ++m_refreshCalls;
            if (refreshSucceeds)
                Set("ExtIP", "198.51.100.1");
            return refreshSucceeds;
        });
    }

    TempFolder m_data;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_data.path() };
    std::vector<std::string> m_addresses { "10.0.0.5", "10.0.0.6" };
    std::vector<std::string> m_hardware { "02:00:00:00:00:05", "02:00:00:00:00:06" };
    int m_refreshCalls = 0;
};

TEST_F(SettingDefaultsTest, EmptySettingsGetEveryDefault)
{
    Fill();
    EXPECT_EQ(Get("InIP"), "10.0.0.5");
    std::string expectedPort = IsPortFree(kDefaultPort) ? "47002" : std::to_string(FindFreePort());
    EXPECT_EQ(Get("InPort"), expectedPort);
    EXPECT_EQ(Get("ExtIP"), "198.51.100.1");
    EXPECT_EQ(Get("ExtPort"), Get("InPort")); // manual mapping forwards the same port
    EXPECT_EQ(Get("MACA"), "02:00:00:00:00:05");
    EXPECT_EQ(Get("PCName"), GetHostName());
    EXPECT_EQ(GetSettingInt(kSettingSection, "SET", 0), 0); // defaults do not set the server up
}

TEST_F(SettingDefaultsTest, WithoutTheConsoleTheLocalAddressStandsIn)
{
    Fill(false);
    EXPECT_EQ(Get("ExtIP"), "10.0.0.5");
}

TEST_F(SettingDefaultsTest, ValuesPresentAreKept)
{
    Set("InIP", "10.0.0.6");
    Set("ExtIP", "203.0.113.9");
    Set("MACA", "02:00:00:00:00:06");
    Set("PCName", "living-room");
    Fill();
    EXPECT_EQ(m_refreshCalls, 0);
    EXPECT_EQ(Get("InIP"), "10.0.0.6");
    EXPECT_EQ(Get("ExtIP"), "203.0.113.9");
    EXPECT_EQ(Get("MACA"), "02:00:00:00:00:06");
    EXPECT_EQ(Get("PCName"), "living-room");
}

TEST_F(SettingDefaultsTest, ATakenPortIsReplacedByTheFirstFreeOne)
{
    int held = PickFreePort();
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(held));
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    Set("InPort", std::to_string(held));
    Fill();
    close(holder);
    int port = std::stoi(Get("InPort"));
    EXPECT_NE(port, held);
    EXPECT_GE(port, kFirstFreePortSearched);
    EXPECT_LE(port, kLastFreePortSearched);
}

TEST_F(SettingDefaultsTest, AutomaticMappingKeepsADifferentExternalPort)
{
    int port = PickFreePort();
    Set("InPort", std::to_string(port));
    Set("ExtPort", "50000");
    SetSettingInt("AutoPortMapMode", 1);
    Fill();
    EXPECT_EQ(Get("ExtPort"), "50000");
    SetSettingInt("AutoPortMapMode", 0);
    Fill();
    EXPECT_EQ(Get("ExtPort"), std::to_string(port));
}

TEST_F(SettingDefaultsTest, WithoutAdaptersTheAddressesStayEmpty)
{
    m_addresses.clear();
    m_hardware.clear();
    Fill(false);
    EXPECT_EQ(Get("InIP"), "");
    EXPECT_EQ(Get("MACA"), "");
    EXPECT_EQ(Get("ExtIP"), "");
    EXPECT_FALSE(Get("InPort").empty());
}

TEST_F(SettingDefaultsTest, TheRunningServersPortWins)
{
    int port = PickFreePort();
    Set("InIP", "127.0.0.1");
    Set("InPort", std::to_string(port));
    Set("ExtIP", "127.0.0.1");
    Set("ExtPort", std::to_string(port));
    Set("MACA", "02:00:00:00:00:01");
    SetSettingInt("SET", 1);
    WebServerHooks hooks;
    hooks.refreshExternalIp = [] { return true; };
    CWebServer server(hooks);
    ASSERT_TRUE(server.Start());
    Set("InPort", "47002");
    Fill();
    EXPECT_EQ(Get("InPort"), std::to_string(port));
    EXPECT_TRUE(server.Stop());
}
