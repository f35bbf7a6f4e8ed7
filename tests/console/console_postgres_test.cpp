// Consoles on a real PostgreSQL server that each test starts for itself: instances
// that share registrations and limits, the schema brought up from nothing and from
// the previous layout, expiry and the bound per server in the database's own time,
// and the database stopped and started under load.

#include "console/pg_pin_registry.h"
#include "console/pg_pool.h"
#include "console/pg_schema.h"
#include "nginx_balancer.h"
#include "pg_server.h"
#include "remote/console_answer.h"
#include "server/app/probe_client.h"
#include "server/platform/temp_folder.h"
#include "standalone_console.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

const std::string kRegistration = "mac=02:00:00:00:00:01&name=Den+%EC%84%9C%EB%B2%84&port=47002";

class ConsolePostgresTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_pg.Missing().empty() && m_pg.Missing().find("failed") == std::string::npos)
            GTEST_SKIP() << m_pg.Missing();
        ASSERT_EQ(m_pg.Missing(), "");
    }

    std::unique_ptr<StandaloneConsole> Console(std::vector<std::string> extra = {})
    {
        std::string folder = m_folder.path() + "/" + std::to_string(m_consoles++);
        std::filesystem::create_directory(folder);
        auto console = std::make_unique<StandaloneConsole>(folder, m_pg.ConnInfo(), extra);
        EXPECT_GT(console->Port(), 0) << console->Process().Err();
        return console;
    }

    static std::string Register(StandaloneConsole& console, const std::string& headers = {})
    {
        std::string pin;
        EXPECT_EQ(ParseRegistrationAnswer(
                      console.Post("registerPINCode.php", kRegistration, headers).body, pin),
            "");
        return pin;
    }

    static std::string LookUp(StandaloneConsole& console, const std::string& pin, ServerInfo& info,
        const std::string& headers = {})
    {
        return ParseServerInfoAnswer(
            console.Post("getServerInfoFromPINCode.php", "pincode=" + pin, headers).body, info);
    }

    PgServer m_pg;
    TempFolder m_folder;
    int m_consoles = 0;
};

TEST_F(ConsolePostgresTest, ACodeRegisteredThroughOneInstanceIsFoundAndMovedThroughAnother)
{
    // Both start at once on an empty database and make its tables once between them.
    auto first = Console();
    auto second = Console();
    ASSERT_GT(first->Port(), 0);
    ASSERT_GT(second->Port(), 0);
    std::string version;
    ASSERT_TRUE(m_pg.Sql("SELECT version FROM console_schema", &version)) << version;
    EXPECT_EQ(version, std::to_string(kPgSchemaVersion));

    std::string pin = Register(*first);
    ASSERT_EQ(pin.size(), 8u);
    ServerInfo info;
    EXPECT_EQ(LookUp(*second, pin, info), "");
    EXPECT_EQ(info.ip, "127.0.0.1");
    EXPECT_EQ(info.port, "47002");
    EXPECT_EQ(info.name, "Den \xEC\x84\x9C\xEB\xB2\x84");

    EXPECT_EQ(ParsePinUpdateAnswer(second
                                       ->Post("updatePINCode.php",
                                           "pincode=" + pin
                                               + "&port=47010&name=Den&mac=02:00:00:00:00:01"
                                                 "&modeon=1")
                                       .body),
        "");
    EXPECT_EQ(LookUp(*first, pin, info), "");
    EXPECT_EQ(info.port, "47010");
    EXPECT_EQ(HttpGet(first->Port(), "/health").status, 200);
}

TEST_F(ConsolePostgresTest, BehindABalancerTheClientsAddressIsTheRequester)
{
    if (!NginxBalancer::Installed())
        GTEST_SKIP() << "nginx is not installed; tools/bootstrap installs nginx-light";
    auto first = Console({ "--trust-proxy", "127.0.0.1" });
    auto second = Console({ "--trust-proxy", "127.0.0.1" });
    int port = PickFreePort();
    NginxBalancer nginx(m_folder.path() + "/nginx", port, { first->Port(), second->Port() });
    HttpReply health;
    for (int i = 0; i < 500 && health.status != 200; ++i) {
        health = HttpGet(port, "/health", std::chrono::seconds(2));
        if (health.status != 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(health.status, 200);
    // A client at 127.0.0.5 registers and looks up through the balancer: the code
    // carries that address, whichever instance answered.
    auto post = [port](const std::string& page, const std::string& body) {
        ProbeSocket socket(port, "127.0.0.5");
        socket.Send("POST /pin/" + page + " HTTP/1.1\r\nHost: c\r\nContent-Length: "
            + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        return ParseRawReply(socket.ReadToEnd().bytes).body;
    };
    std::string pin;
    ASSERT_EQ(ParseRegistrationAnswer(post("registerPINCode.php", kRegistration), pin), "");
    for (int i = 0; i < 4; ++i) {
        ServerInfo info;
        EXPECT_EQ(
            ParseServerInfoAnswer(post("getServerInfoFromPINCode.php", "pincode=" + pin), info),
            "");
        EXPECT_EQ(info.ip, "127.0.0.5");
    }
    std::string ip;
    EXPECT_EQ(ParseExternalIpAnswer(post("getExternalIP.php", "admin_id=corvane"), ip), "");
    EXPECT_EQ(ip, "127.0.0.5");
}

TEST_F(ConsolePostgresTest, LimitsPerAddressAreSharedByTheInstances)
{
    std::vector<std::string> options { "--trust-proxy", "127.0.0.1", "--max-failed-lookups", "3",
        "--max-registrations", "2" };
    auto first = Console(options);
    auto second = Console(options);
    const std::string guesser = "X-Forwarded-For: 198.51.100.66\r\n";
    std::string pin = Register(*first, "X-Forwarded-For: 192.0.2.10\r\n");
    ServerInfo info;
    EXPECT_EQ(LookUp(*first, "00000001", info, guesser), "unknown PIN code");
    EXPECT_EQ(LookUp(*second, "00000002", info, guesser), "unknown PIN code");
    EXPECT_EQ(LookUp(*first, "00000003", info, guesser), "unknown PIN code");
    // Three failures between them: both refuse this address now, the right code too.
    for (auto* console : { first.get(), second.get() })
        EXPECT_NE(LookUp(*console, pin, info, guesser).find("too many"), std::string::npos);
    EXPECT_EQ(LookUp(*second, pin, info, "X-Forwarded-For: 198.51.100.67\r\n"), "");

    // Two registrations from one address, whichever instance takes them.
    Register(*second, "X-Forwarded-For: 192.0.2.10\r\n");
    std::string refused;
    std::string message = ParseRegistrationAnswer(
        first->Post("registerPINCode.php", kRegistration, "X-Forwarded-For: 192.0.2.10\r\n").body,
        refused);
    EXPECT_NE(message.find("too many registrations"), std::string::npos) << message;
    EXPECT_EQ(refused, "");
}

TEST_F(ConsolePostgresTest, ADatabaseOfThePreviousLayoutKeepsItsCodes)
{
    PgPoolOptions options { m_pg.ConnInfo(), 2 };
    CPgPool pool(options, {});
    std::string error;
    auto connection = pool.Connect(error);
    ASSERT_TRUE(connection) << error;
    ASSERT_TRUE(MigratePgSchema(connection.get(), 1, error)) << error;
    EXPECT_EQ(PgSchemaVersion(connection.get()), 1);
    ASSERT_TRUE(m_pg.Sql("INSERT INTO pins VALUES ('12345678', '02:00:00:00:00:09', 'Old', "
                         "'198.51.100.9', '47002', true)",
        &error))
        << error;

    auto console = Console();
    EXPECT_EQ(PgSchemaVersion(connection.get()), kPgSchemaVersion);
    ServerInfo info;
    EXPECT_EQ(LookUp(*console, "12345678", info), "");
    EXPECT_EQ(info.name, "Old");
    EXPECT_EQ(info.ip, "198.51.100.9");
    // Migrating again changes nothing; a newer database is refused.
    EXPECT_TRUE(MigratePgSchema(connection.get(), kPgSchemaVersion, error)) << error;
    ASSERT_TRUE(m_pg.Sql("UPDATE console_schema SET version = 99"));
    EXPECT_FALSE(MigratePgSchema(connection.get(), kPgSchemaVersion, error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST_F(ConsolePostgresTest, CodesExpireInTheDatabasesTimeAndOneServerKeepsItsNewest)
{
    auto console = Console(); // makes the tables
    std::vector<PgStatement> statements = CPgPinRegistry::Statements();
    CPgPool pool(PgPoolOptions { m_pg.ConnInfo(), 2 }, statements);
    CPgPinRegistry registry(pool, RegistryPolicy { std::chrono::hours(24 * 30), 2 });
    std::vector<std::string> codes;
    for (int i = 0; i < 3; ++i) {
        PinRecord record { "", "02:00:00:00:00:05", "Den", "198.51.100.5", "47002", true };
        ASSERT_EQ(registry.Add(record), RegistryOutcome::Done);
        codes.push_back(record.pinCode);
    }
    PinRecord found;
    EXPECT_EQ(registry.Lookup(codes[0], found), RegistryOutcome::NotFound);
    ASSERT_EQ(registry.Lookup(codes[1], found), RegistryOutcome::Done);
    ASSERT_EQ(registry.Lookup(codes[2], found), RegistryOutcome::Done);

    ASSERT_TRUE(m_pg.Sql("UPDATE pins SET renewed_at = now() - interval '31 days' WHERE pincode = '"
        + codes[1] + "'"));
    EXPECT_EQ(registry.Lookup(codes[1], found), RegistryOutcome::NotFound);
    EXPECT_EQ(registry.Replace(PinRecord { codes[1], "02:00:00:00:00:05", "Den", "a", "1", true }),
        RegistryOutcome::NotFound);
    EXPECT_EQ(registry.RemoveExpired(), 1);
    std::string left;
    ASSERT_TRUE(m_pg.Sql("SELECT count(*) FROM pins", &left));
    EXPECT_EQ(left, "1");
}

// Look-ups from a thread of their own until told to stop (or a bound of requests).
class LookUpLoad {
public:
    LookUpLoad(StandaloneConsole& console, std::string pin)
        : m_thread([this, &console, pin] {
            for (int i = 0; i < 200000 && !m_stop; ++i) {
                HttpReply reply = console.Post("getServerInfoFromPINCode.php", "pincode=" + pin);
                ServerInfo info;
                if (reply.status == 200 && ParseServerInfoAnswer(reply.body, info).empty()
                    && info.port == "47002")
                    ++m_found;
                else if (reply.status == 503
                    && reply.body.find("try again later") != std::string::npos)
                    ++m_unavailable;
                else
                    ++m_other;
            }
        })
    {
    }
    ~LookUpLoad() { Stop(); }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Waits (boundedly) until counter passes target; false when it never did.
    static bool WaitFor(const std::atomic<int>& counter, int target)
    {
        for (int i = 0; i < 6000 && counter < target; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return counter >= target;
    }
    std::atomic<int> m_found { 0 };
    std::atomic<int> m_unavailable { 0 };
    std::atomic<int> m_other { 0 };

private:
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

TEST_F(ConsolePostgresTest, RequestsFailCleanlyWhileTheDatabaseIsDownAndSucceedAfter)
{
    auto console = Console({ "--max-failed-lookups", "3" });
    std::string pin = Register(*console);
    LookUpLoad load(*console, pin);
    ASSERT_TRUE(LookUpLoad::WaitFor(load.m_found, 20));

    ASSERT_TRUE(m_pg.Stop()) << m_pg.Output();
    ASSERT_TRUE(LookUpLoad::WaitFor(load.m_unavailable, 20));
    EXPECT_EQ(HttpGet(console->Port(), "/health").status, 503);
    HttpReply registration = console->Post("registerPINCode.php", kRegistration);
    EXPECT_EQ(registration.status, 503);
    ServerInfo info;
    EXPECT_NE(ParseServerInfoAnswer(registration.body, info), "");

    ASSERT_TRUE(m_pg.Start()) << m_pg.Output();
    int before = load.m_found;
    ASSERT_TRUE(LookUpLoad::WaitFor(load.m_found, before + 20));
    load.Stop();
    EXPECT_EQ(load.m_other, 0);
    EXPECT_TRUE(console->Running());
    EXPECT_EQ(HttpGet(console->Port(), "/health").status, 200);
    // Unanswered look-ups were no failed guesses: the limit of three is untouched.
    EXPECT_EQ(LookUp(*console, pin, info), "");
    EXPECT_EQ(Register(*console).size(), 8u);
    EXPECT_NE(console->Process().Err().find("database unreachable"), std::string::npos);
    EXPECT_NE(console->Process().Err().find("reachable again"), std::string::npos);
}

} // namespace
