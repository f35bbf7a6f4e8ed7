// The start-up check, the update check and the mapping worker, with the console as a
// real console service on loopback and the gateway behind the port-mapping seam.

#include "config/settings.h"
#include "config/settings_store.h"
#include "console/console_service.h"
#include "console/sqlite_pin_registry.h"
#include "core/mapping_worker.h"
#include "core/server_errors.h"
#include "core/startup_checks.h"
#include "platform/adapters.h"
#include "platform/ports.h"
#include "remote/embedded_console.h"
#include "remote/remote_context.h"
#include "support/http_client.h"
#include "support/port_holder.h"
#include "support/table_gateway.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

namespace {

using vembatest::TableGateway;

class NetworkChecksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_registry.Open(m_data.Root() + "/pins.sqlite", error)) << error;
        ASSERT_TRUE(m_service.Start("127.0.0.1", 0, [this](const FormRequest& request) {
            return m_console.Answer(ToConsoleRequest(request));
        }));
        Set("TestSeverURL", "http://127.0.0.1:" + std::to_string(m_service.Port()) + "/");
        m_port = PickFreePort();
        for (auto [key, value] : std::map<std::string, std::string> { { "SET", "1" },
                 { "ExtIP", "127.0.0.1" }, { "InIP", "192.168.1.20" },
                 { "InPort", std::to_string(m_port) }, { "ExtPort", std::to_string(m_port) },
                 { "AutoPortMapMode", "1" }, { "PCName", "Den" }, { "MACA", "02:00:00:00:00:07" } })
            Set(key, value);
        m_gateway.table[m_port] = { "192.168.1.20", m_port };
    }
    void Set(const std::string& key, const std::string& value) { m_data.Set(key, value); }
    std::string Get(const std::string& key) { return m_data.Get(key); }
    int Check(std::string* reason = nullptr, int ownPort = 0)
    {
        CRelayServer relay = m_server.Relay();
        return RunStartupCheck(m_data.Settings(), relay, m_gateway, ownPort, reason);
    }
    MappingOutcome Map(const MappingRequest& request)
    {
        return RunMappingWorker(request, m_server);
    }

    vembatest::TestSettingsFolder m_data;
    CSqlitePinRegistry m_registry;
    CConsoleService m_console { [](const ConsoleRequest& r) { return r.requester; }, &m_registry,
        nullptr, ConsoleRelease { "1.2", "0", "http://127.0.0.1/new" } };
    CFormService m_service;
    std::shared_ptr<TableGateway> m_gatewayPart = std::make_shared<TableGateway>();
    TableGateway& m_gateway = *m_gatewayPart;
    RemoteContext m_server { m_data.Parts(), RemoteParts { nullptr, m_gatewayPart } };
    int m_port = 0;
};

TEST(VersionCompare, ComparesPartByPartWithMissingPartsAsZero)
{
    EXPECT_LT(CompareVersions("1.1.0.0", "1.2"), 0);
    EXPECT_EQ(CompareVersions("1.1.0.0", "1.1.0.0"), 0);
    EXPECT_GT(CompareVersions("2.0.0.0", "1.5.0.0"), 0);
    EXPECT_LT(CompareVersions("1.1", "1.1.0.1"), 0);
    EXPECT_EQ(CompareVersions("1..1", "1.1"), 0);
    EXPECT_EQ(CompareVersions("1.x", "1.0"), 0);
    EXPECT_EQ(CompareVersions("1.99999999999999999999", "1.0"), 0);
}

TEST_F(NetworkChecksTest, UpdateCheckFindsTheNewerVersionOrNoAnswer)
{
    CRelayServer relay = m_server.Relay();
    UpdateCheck check = RunUpdateCheck(m_data.Settings(), relay, "1.1.0.0");
    EXPECT_EQ(check.result, kUpdateAvailable);
    EXPECT_EQ(check.serverVersion, "1.2");
    EXPECT_EQ(check.downloadUrl, "http://127.0.0.1/new");
    EXPECT_EQ(RunUpdateCheck(m_data.Settings(), relay, "1.2.0.0").result, kUpdateNone);
    m_service.Stop();
    CRelayServer gone = m_server.Relay();
    EXPECT_EQ(RunUpdateCheck(m_data.Settings(), gone, "1.1.0.0").result, kUpdateNoAnswer);
}

TEST_F(NetworkChecksTest, StartupCheckOutcomes)
{
    std::string reason;
    EXPECT_EQ(Check(&reason), kStartupGood) << reason;

    Set("ExtIP", "10.0.0.1"); // the home network's address changed
    EXPECT_EQ(Check(&reason), kStartupNetworkChanged);
    EXPECT_EQ(reason, "the external address changed");
    Set("ExtIP", "127.0.0.1");

    { // the port is taken by someone else
        vembatest::PortHolder holder(m_port);
        ASSERT_EQ(holder.Port(), m_port);
        EXPECT_EQ(Check(&reason), kStartupNetworkChanged);
        EXPECT_EQ(reason, "the listening port is taken");
        // ... but not when the taker is this server itself (a check after its start).
        EXPECT_EQ(Check(&reason, m_port), kStartupGood) << reason;
    }

    m_gateway.table.clear(); // the mapping is gone from the router
    EXPECT_EQ(Check(&reason), kStartupNetworkChanged);
    EXPECT_EQ(reason, "the gateway no longer maps the port");
    m_gateway.table[m_port] = { "192.168.1.99", m_port }; // mapped to another device
    EXPECT_EQ(Check(&reason), kStartupNetworkChanged);
    m_gateway.table[m_port] = { "192.168.1.20", m_port };

    Set("SET", "0");
    int reads = m_gateway.reads;
    EXPECT_EQ(Check(), kStartupNeverSetUp);
    EXPECT_EQ(m_gateway.reads, reads); // no network request for a server never set up
    Set("SET", "1");

    m_service.Stop();
    EXPECT_EQ(Check(), kStartupConsoleUnreachable);
}

TEST_F(NetworkChecksTest, StartupCheckComparesThePinRecordWithTheSettings)
{
    Set("PINCodeMode", "1");
    EXPECT_EQ(Check(), kStartupGood); // no PIN code yet: the step is skipped
    PinRecord record { "", "02:00:00:00:00:07", "Den", "127.0.0.1", std::to_string(m_port), true };
    std::string pin = m_registry.Register(record);
    Set("PINCode", pin);
    EXPECT_EQ(Check(), kStartupGood);
    record.pinCode = pin;
    record.port = "1";
    ASSERT_TRUE(m_registry.Update(record));
    std::string reason;
    EXPECT_EQ(Check(&reason), kStartupNetworkChanged);
    EXPECT_EQ(reason, "the console holds another address");
    Set("PINCode", "99999999x");
    EXPECT_EQ(Check(&reason), kStartupNetworkChanged);
    EXPECT_EQ(reason, "the console refused the PIN code");
}

TEST_F(NetworkChecksTest, ManualMappingNeedsTheStoredAdapterAndEqualPorts)
{
    std::vector<Adapter> adapters = ListAdapters();
    if (adapters.empty() || adapters.front().hardwareAddress.empty())
        GTEST_SKIP() << "no network adapter with a hardware address here";
    Set("AutoPortMapMode", "0");
    Set("MACA", adapters.front().hardwareAddress);
    Set("InIP", adapters.front().address);
    EXPECT_EQ(Check(), kStartupGood);
    Set("ExtPort", std::to_string(m_port + 1));
    EXPECT_EQ(Check(), kStartupNetworkChanged);
    Set("ExtPort", std::to_string(m_port));
    Set("MACA", "02:00:00:00:00:00");
    EXPECT_EQ(Check(), kStartupNetworkChanged);
}

TEST_F(NetworkChecksTest, WorkerTakesTheNextExternalPortWhenAnotherDeviceHoldsIt)
{
    m_gateway.table.clear();
    m_gateway.table[m_port] = { "192.168.1.99", 80 };
    m_gateway.table[m_port + 1] = { "192.168.1.98", 80 };
    Set("PINCodeMode", "1");
    MappingOutcome outcome = Map({ true, false, true });
    EXPECT_TRUE(outcome.mappingOn);
    EXPECT_EQ(outcome.externalPort, m_port + 2);
    EXPECT_EQ(Get("ExtPort"), std::to_string(m_port + 2));
    EXPECT_EQ(Get("InPort"), std::to_string(m_port)); // the server keeps its port
    EXPECT_EQ(
        m_gateway.table[m_port + 2], (std::pair<std::string, int> { "192.168.1.20", m_port }));
    // The changed external port was registered at the console.
    EXPECT_TRUE(outcome.pinSynced);
    std::optional<PinRecord> record = m_registry.Find(Get("PINCode"));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->port, std::to_string(m_port + 2));
    // Nothing listens on the external address's port: the probe fails, code 8.
    EXPECT_EQ(outcome.serverError, kServerErrorNoExternalAccess);

    // The next start's check accepts the mapping: its internal port is the server's.
    EXPECT_EQ(Check(), kStartupGood);
}

TEST_F(NetworkChecksTest, WorkerWithoutAGatewayGivesCodeSevenAfterOneTry)
{
    m_gateway.present = false;
    int reads = m_gateway.reads;
    MappingOutcome outcome = Map({ true, false, false });
    EXPECT_EQ(outcome.serverError, kServerErrorNoUpnpDevice);
    EXPECT_FALSE(outcome.mappingOn);
    EXPECT_EQ(m_gateway.reads, reads + 1);
}

TEST_F(NetworkChecksTest, SwitchingMappingOffRemovesItAndReportsARefusal)
{
    Set("ExtPort", std::to_string(m_port + 3));
    m_gateway.table[m_port + 3] = { "192.168.1.20", m_port };
    MappingOutcome off = Map({ false, false, false });
    EXPECT_TRUE(off.removed);
    EXPECT_EQ(m_gateway.table.count(m_port + 3), 0u);
    EXPECT_EQ(Get("ExtPort"), std::to_string(m_port));

    m_gateway.refuseRemoval = true;
    MappingOutcome refused = Map({ false, false, false });
    EXPECT_FALSE(refused.removed);
}

TEST_F(NetworkChecksTest, WithHttpsOnItsPortIsMappedBesideThePlainOneAndRemovedWithIt)
{
    // Another device holds the plain port's own number, so the plain port goes out on
    // the next one, which is also the HTTPS port's own number: HTTPS never takes the
    // plain port's external port, it takes the one after.
    int https = m_port + 1;
    Set("TlsPort", std::to_string(https));
    m_gateway.table.clear();
    m_gateway.table[m_port] = { "192.168.1.99", 80 };
    MappingOutcome on = Map({ true, false, false });
    EXPECT_TRUE(on.mappingOn);
    EXPECT_EQ(on.externalPort, m_port + 1);
    EXPECT_TRUE(on.httpsOn);
    EXPECT_EQ(on.httpsExternalPort, m_port + 2);
    EXPECT_EQ(Get("TlsExtPort"), std::to_string(m_port + 2));
    EXPECT_EQ(
        m_gateway.table[m_port + 1], (std::pair<std::string, int> { "192.168.1.20", m_port }));
    EXPECT_EQ(m_gateway.table[m_port + 2], (std::pair<std::string, int> { "192.168.1.20", https }));

    MappingOutcome off = Map({ false, false, false });
    EXPECT_TRUE(off.removed);
    EXPECT_EQ(m_gateway.table.count(m_port + 1), 0u);
    EXPECT_EQ(m_gateway.table.count(m_port + 2), 0u);
    EXPECT_EQ(m_gateway.table.count(m_port), 1u) << "another device's mapping stays";
    EXPECT_EQ(Get("TlsExtPort"), "");

    // No port left for HTTPS: it says so, and the plain mapping stands.
    m_gateway.table.clear();
    for (int k = 1; k <= 11; ++k)
        m_gateway.table[m_port + k] = { "192.168.1.98", 1 };
    MappingOutcome crowded = Map({ true, false, false });
    EXPECT_TRUE(crowded.mappingOn);
    EXPECT_EQ(crowded.externalPort, m_port);
    EXPECT_TRUE(crowded.httpsOn);
    EXPECT_EQ(crowded.httpsExternalPort, 0);
    EXPECT_EQ(Get("TlsExtPort"), "");
}

} // namespace
