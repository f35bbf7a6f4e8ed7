// The network defaults over a remote layer of the test's own: every empty setting is
// filled at once, and the external address is asked of the console in the
// background, never waited for.

#include "config/settings.h"
#include "config/settings_store.h"
#include "console/console_service.h"
#include "core/vemba_server.h"
#include "http/form_service.h"
#include "platform/host.h"
#include "platform/ports.h"
#include "remote/setting_defaults.h"
#include "support/http_client.h"
#include "support/port_holder.h"
#include "support/silent_listener.h"
#include "support/test_server.h"

#include <atomic>
#include <gtest/gtest.h>

namespace {

// A console on loopback that answers every external address request with address.
class AddressConsole {
public:
    explicit AddressConsole(std::string address)
        : m_console([address](const ConsoleRequest&) { return address; })
    {
        m_service.Start("127.0.0.1", 0, [this](const FormRequest& request) {
            ++requests;
            return m_console.Answer(ToConsoleRequest(request));
        });
    }
    std::string Root() const
    {
        return "http://127.0.0.1:" + std::to_string(m_service.Port()) + "/";
    }
    std::atomic<int> requests { 0 };

private:
    CConsoleService m_console;
    CFormService m_service; // last: stopped before the console goes
};

} // namespace

class SettingDefaultsTest : public ::testing::Test {
protected:
    void Fill() { FillSettingDefaults(m_server, m_addresses, m_hardware); }
    // Fills, then lets the console request the fill started come to its end.
    void FillAndWait()
    {
        Fill();
        ASSERT_TRUE(m_server.ExternalAddress().WaitIdle());
    }
    std::string Get(const std::string& key) const { return m_data.Get(key); }
    void Set(const std::string& key, const std::string& value) const { m_data.Set(key, value); }

    vembatest::TestSettingsFolder m_data;
    AddressConsole m_console { "198.51.100.1" };
    bool m_consoleSet = [this] {
        m_data.Set(kKeyTestServerURL, m_console.Root());
        return true;
    }();
    RemoteContext m_server { m_data.Parts(), RemoteParts {} };
    std::vector<std::string> m_addresses { "10.0.0.5", "10.0.0.6" };
    std::vector<std::string> m_hardware { "02:00:00:00:00:05", "02:00:00:00:00:06" };
};

TEST_F(SettingDefaultsTest, EmptySettingsGetEveryDefault)
{
    std::string expectedPort = IsPortFree(kDefaultPort) ? "47002" : std::to_string(FindFreePort());
    FillAndWait();
    EXPECT_EQ(Get("InIP"), "10.0.0.5");
    EXPECT_EQ(Get("InPort"), expectedPort);
    // The console's answer replaced the local address standing in for it.
    EXPECT_EQ(Get("ExtIP"), "198.51.100.1");
    EXPECT_EQ(m_server.ExternalAddress().Successes(), 1u);
    EXPECT_EQ(Get("ExtPort"), Get("InPort")); // manual mapping forwards the same port
    EXPECT_EQ(Get("MACA"), "02:00:00:00:00:05");
    EXPECT_EQ(Get("PCName"), GetHostName());
    EXPECT_EQ(m_data.Settings().ReadInt(kKeySet, 0), 0); // defaults do not set the server up
}

TEST_F(SettingDefaultsTest, TheConsoleIsAskedInTheBackgroundAndNeverWaitedFor)
{
    vembatest::SilentListener silent; // a console that never answers
    ASSERT_GT(silent.Port(), 0);
    Set(kKeyTestServerURL, silent.Root());
    Fill();
    // Back before the console was even asked: the local address stands in meanwhile.
    EXPECT_EQ(Get("ExtIP"), "10.0.0.5");
    EXPECT_EQ(Get("InIP"), "10.0.0.5");
    EXPECT_NE(silent.TakeRequest().find("/info/getExternalIP.php"), std::string::npos)
        << "the console is asked in the background";
    EXPECT_EQ(m_server.ExternalAddress().Successes(), 0u);
    // The server's stop ends the unanswered request (the test would hang otherwise).
    m_server.ExternalAddress().Stop();
    EXPECT_EQ(Get("ExtIP"), "10.0.0.5");
}

TEST_F(SettingDefaultsTest, WithoutTheConsoleTheLocalAddressStandsIn)
{
    Set(kKeyTestServerURL, "http://127.0.0.1:" + std::to_string(PickFreePort()) + "/");
    FillAndWait();
    EXPECT_EQ(Get("ExtIP"), "10.0.0.5");
    EXPECT_EQ(m_server.ExternalAddress().Successes(), 0u);
}

TEST_F(SettingDefaultsTest, ValuesPresentAreKept)
{
    Set("InIP", "10.0.0.6");
    Set("ExtIP", "203.0.113.9");
    Set("MACA", "02:00:00:00:00:06");
    Set("PCName", "living-room");
    FillAndWait();
    EXPECT_EQ(m_console.requests, 0) << "a stored external address asks no console";
    EXPECT_EQ(Get("InIP"), "10.0.0.6");
    EXPECT_EQ(Get("ExtIP"), "203.0.113.9");
    EXPECT_EQ(Get("MACA"), "02:00:00:00:00:06");
    EXPECT_EQ(Get("PCName"), "living-room");
}

TEST_F(SettingDefaultsTest, ATakenPortIsReplacedByTheFirstFreeOne)
{
    vembatest::PortHolder holder;
    ASSERT_GT(holder.Port(), 0);
    Set("InPort", std::to_string(holder.Port()));
    FillAndWait();
    int port = std::stoi(Get("InPort"));
    EXPECT_NE(port, holder.Port());
    EXPECT_GE(port, kFirstFreePortSearched);
    EXPECT_LE(port, kLastFreePortSearched);
}

TEST_F(SettingDefaultsTest, AutomaticMappingKeepsADifferentExternalPort)
{
    int port = PickFreePort();
    Set("InPort", std::to_string(port));
    Set("ExtPort", "50000");
    m_data.Settings().WriteInt("AutoPortMapMode", 1);
    FillAndWait();
    EXPECT_EQ(Get("ExtPort"), "50000");
    m_data.Settings().WriteInt("AutoPortMapMode", 0);
    FillAndWait();
    EXPECT_EQ(Get("ExtPort"), std::to_string(port));
}

TEST_F(SettingDefaultsTest, WithoutAdaptersTheAddressesStayEmpty)
{
    m_addresses.clear();
    m_hardware.clear();
    Set(kKeyTestServerURL, "http://127.0.0.1:" + std::to_string(PickFreePort()) + "/");
    FillAndWait();
    EXPECT_EQ(Get("InIP"), "");
    EXPECT_EQ(Get("MACA"), "");
    EXPECT_EQ(Get("ExtIP"), "");
    EXPECT_FALSE(Get("InPort").empty());
}

TEST(SettingDefaults, TheRunningServersPortWins)
{
    vembatest::TestSettingsFolder data;
    int port = vembatest::WriteServedSettings(data.Settings());
    CVembaServer server(data.Parts());
    ASSERT_TRUE(server.Start());
    data.Set("InPort", "47002");
    FillSettingDefaults(server, { "10.0.0.5" }, { "02:00:00:00:00:05" });
    EXPECT_EQ(data.Get("InPort"), std::to_string(port));
    EXPECT_TRUE(server.Stop());
}
