// The daemon's remote access end to end: its port mapped on a real miniupnpd in
// network namespaces, and its PIN code found by a phone-side look-up at the real
// standalone console.

#include "config/settings.h"
#include "config/settings_store.h"
#include "daemon_process.h"
#include "remote/console_answer.h"
#include "remote/relay_server.h"
#include "support/http_client.h"
#include "support/test_server.h"
#include "support/upnp_gateway.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class DaemonRemoteTest : public ::testing::Test {
protected:
    DaemonRemoteTest() { fs::create_directories(m_trace); }

    // Runs the daemon until it serves and its network steps have printed until (by
    // default the start-up check's line, the last step unless the network changed),
    // then stops it; returns its standard output.
    std::string RunOnce(
        std::vector<std::string> arguments, const std::string& until = "start-up check:")
    {
        arguments.insert(arguments.begin(), { "--data-dir", m_data });
        std::string folder = m_root.path() + "/run" + std::to_string(++m_runs);
        fs::create_directories(folder);
        DaemonProcess daemon(arguments, folder);
        bool served = daemon.WaitForOutput("listening on port", std::chrono::seconds(120))
            && daemon.WaitForOutput(until, std::chrono::seconds(120));
        daemon.Signal(SIGTERM);
        daemon.WaitExit(std::chrono::seconds(60));
        EXPECT_TRUE(served) << daemon.Out() << daemon.Err();
        return daemon.Out();
    }

    std::string Setting(const std::string& key) { return SettingsStore(m_data).ReadText(key); }

    TempFolder m_root;
    std::string m_data = m_root.path() + "/data";
    std::string m_trace = m_root.path() + "/trace";
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_trace };
    int m_runs = 0;
};

class DaemonBehindGateway : public DaemonRemoteTest {
protected:
    void SetUp() override
    {
        std::string why = vembatest::UpnpGateway::WhyUnavailable();
        if (!why.empty())
            GTEST_SKIP() << "real UPnP gateway test skipped: " << why;
        std::string error;
        ASSERT_TRUE(vembatest::UpnpGateway::EnterPrivateNetwork(error)) << error;
        ASSERT_TRUE(m_gateway.BuildNetwork(error)) << error;
    }
    vembatest::UpnpGateway m_gateway;
};

TEST_F(DaemonBehindGateway, MappingStaysAcrossRestartsUntilSwitchedOff)
{
    std::string error;
    ASSERT_TRUE(m_gateway.StartDaemon(error)) << error;
    const std::string port = "47002";
    const std::string mapped = "TCP " + port + "->192.168.77.2:" + port + " 'VamboCast'";

    std::string first = RunOnce({ "--port", port, "--port-mapping", "on" });
    EXPECT_NE(
        first.find("port mapping: external port " + port + " on 11.22.33.44"), std::string::npos)
        << first;
    EXPECT_NE(first.find("start-up check: settings good (0)"), std::string::npos) << first;
    EXPECT_NE(m_gateway.Listing().find(mapped), std::string::npos) << m_gateway.Listing();
    EXPECT_EQ(Setting("ExtIP"), "11.22.33.44");

    std::string second = RunOnce({});
    EXPECT_NE(second.find("start-up check: settings good (0)"), std::string::npos) << second;
    EXPECT_NE(m_gateway.Listing().find(mapped), std::string::npos) << m_gateway.Listing();

    std::string third = RunOnce({ "--port-mapping", "off" });
    EXPECT_NE(third.find("port mapping removed"), std::string::npos) << third;
    EXPECT_EQ(m_gateway.Listing().find(port + "->"), std::string::npos) << m_gateway.Listing();
    EXPECT_EQ(Setting("AutoPortMapMode"), "0");
}

TEST_F(DaemonBehindGateway, AMappingRemovedBehindItsBackIsMadeAgainAtTheNextStart)
{
    std::string error;
    ASSERT_TRUE(m_gateway.StartDaemon(error)) << error;
    RunOnce({ "--port", "47002", "--port-mapping", "on" });
    ASSERT_TRUE(vembatest::RunCommand("upnpc -d 47002 TCP"));
    ASSERT_EQ(m_gateway.Listing().find("47002->"), std::string::npos);

    // The check finds the mapping gone; the steps then map the port again.
    std::string next = RunOnce({}, "port mapping: external port");
    EXPECT_NE(next.find("start-up check: network changed (3): the gateway no longer maps the port"),
        std::string::npos)
        << next;
    EXPECT_NE(m_gateway.Listing().find("TCP 47002->192.168.77.2:47002"), std::string::npos)
        << next << m_gateway.Listing();
    EXPECT_EQ(Setting("AutoPortMapMode"), "1"); // never switched off by itself
}

// No console is configured: the embedded console answers the gateway's external
// address, with mapping off too, never the adapter's own.
TEST_F(DaemonBehindGateway, TheExternalAddressIsTheGatewaysWithMappingOff)
{
    std::string error;
    ASSERT_TRUE(m_gateway.StartDaemon(error)) << error;
    RunOnce({ "--port", "47002" });
    EXPECT_EQ(Setting("AutoPortMapMode"), "");
    EXPECT_EQ(Setting("InIP"), vembatest::kTestLanAddress);
    EXPECT_EQ(Setting("ExtIP"), vembatest::kGatewayWanAddress);
}

// A new port with mapping on: the old mapping goes and one for the new port is made.
TEST_F(DaemonBehindGateway, ANewPortMovesTheMapping)
{
    std::string error;
    ASSERT_TRUE(m_gateway.StartDaemon(error)) << error;
    RunOnce({ "--port", "47002", "--port-mapping", "on" });
    ASSERT_NE(m_gateway.Listing().find("TCP 47002->192.168.77.2:47002"), std::string::npos)
        << m_gateway.Listing();

    std::string out = RunOnce({ "--port", "47010" });
    EXPECT_NE(out.find("port mapping: external port 47010 on 11.22.33.44"), std::string::npos)
        << out;
    const std::string listing = m_gateway.Listing();
    EXPECT_NE(listing.find("TCP 47010->192.168.77.2:47010"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("47002->"), std::string::npos) << listing;
    EXPECT_EQ(Setting("ExtPort"), "47010");
    EXPECT_NE(out.find("start-up check: settings good (0)"), std::string::npos) << out;
}

TEST_F(DaemonBehindGateway, WithoutAGatewayMappingFailsWithCodeSeven)
{
    std::string out = RunOnce({ "--port", "47002", "--port-mapping", "on" });
    EXPECT_NE(
        out.find("port mapping failed: no UPnP gateway took the port (code 7)"), std::string::npos)
        << out;
}

// In the namespaces the server's adapter is the veth end, with a hardware address the
// console can keep; no gateway runs, so mapping stays off.
TEST_F(DaemonBehindGateway, APhoneFindsTheServerByItsPinAndSeesAPortChange)
{
    std::string consoleFolder = m_root.path() + "/console";
    fs::create_directories(consoleFolder);
    DaemonProcess console(GetProgramFolder() + "/vembacast-console",
        { "--address", "127.0.0.1", "--port", "0", "--database", consoleFolder + "/pins.sqlite" },
        consoleFolder, {});
    ASSERT_TRUE(console.WaitForOutput("listening on 127.0.0.1:")) << console.Err();
    std::string out = console.Out();
    std::string root = "http://127.0.0.1:" + out.substr(out.find("127.0.0.1:") + 10);
    root = root.substr(0, root.find('\n')) + "/";

    int firstPort = PickFreePort();
    std::string first
        = RunOnce({ "--port", std::to_string(firstPort), "--console", root, "--pin", "on" });
    std::string pin = Setting("PINCode");
    ASSERT_EQ(pin.size(), 8u) << first;
    EXPECT_NE(first.find("PIN code " + pin + " is registered"), std::string::npos) << first;

    // The phone: another process with nothing but the console's address and the code.
    auto lookUp = [&] {
        vembatest::TestSettingsFolder phone;
        phone.Set(kKeyTestServerURL, root);
        std::shared_ptr<IHttpTransport> transport = MakeConsoleTransport();
        CRelayServer relay(phone.Settings(), *transport);
        ServerInfo info;
        EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode(pin, "EN"), info), "");
        return info;
    };
    ServerInfo info = lookUp();
    EXPECT_EQ(info.ip, "127.0.0.1");
    EXPECT_EQ(info.port, std::to_string(firstPort));
    EXPECT_EQ(info.name, Setting("PCName"));

    int secondPort = PickFreePort();
    ASSERT_NE(secondPort, firstPort);
    // The check finds the console holding the old port; the steps then update it.
    std::string second
        = RunOnce({ "--port", std::to_string(secondPort) }, "PIN code " + pin + " is registered");
    EXPECT_EQ(Setting("PINCode"), pin) << second; // updated, not replaced
    EXPECT_EQ(lookUp().port, std::to_string(secondPort)) << second;
    console.Signal(SIGTERM);
    console.WaitExit();
}

} // namespace
