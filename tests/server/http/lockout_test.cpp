// Wrong passwords from twenty LAN addresses (network namespaces, real HTTP) against a
// server that checks its password: each address waits out its own back-off, nobody
// else is locked out, and the table of failures keeps to its bound.

#include "config/texts.h"
#include "server/http/session_http_fixture.h"
#include "support/client_network.h"
#include "support/manual_clock.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

class LockoutTest : public SessionHttpTest {
protected:
    explicit LockoutTest(
        std::shared_ptr<vembatest::ManualClock> clock = std::make_shared<vembatest::ManualClock>())
        : SessionHttpTest(WithClock(clock))
        , m_clock(std::move(clock))
    {
    }
    static LoopbackOptions WithClock(std::shared_ptr<Clock> clock)
    {
        LoopbackOptions options;
        options.clock = std::move(clock);
        return options;
    }

    // "/connect" with a password from a source address to the server's LAN address.
    HttpReply TryFrom(const std::string& from, const std::string& password) const
    {
        return SendRawRequestBetween(from, vembatest::kServerLanAddress, m_port,
            "GET /connect?password=" + password + " HTTP/1.1\r\nHost: "
                + vembatest::kServerLanAddress + "\r\nConnection: close\r\n\r\n");
    }

    std::shared_ptr<vembatest::ManualClock> m_clock;
};

TEST_F(LockoutTest, AThousandWrongTriesFromTwentyAddressesLockOutNobodyElse)
{
    if (std::string why = vembatest::ClientNetwork::WhyUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    std::vector<std::string> attackers;
    for (int i = 0; i < 20; ++i)
        attackers.push_back("10.79.0." + std::to_string(10 + i));
    const std::string fresh = "10.79.0.200";
    std::vector<std::string> clients = attackers;
    clients.push_back(fresh);
    vembatest::ClientNetwork network;
    std::string error;
    ASSERT_TRUE(network.Build(clients, error)) << error;
    SetSetting("Password", "1234");
    SetSetting("PasswordMode", "1");
    SetSetting("RequirePassword", "1");
    StartServer();
    // Fewer places than attackers: the table must stay bounded all the same.
    PasswordAttempts& attempts = Server().ConnectAttempts();
    attempts.SetLimits({ 1s, 15min, 16 });
    const std::string wrongText = Server().Texts().Lookup("IDS_ERROR_FAILED_PASSWORD");
    const std::string waitText = Server().Texts().Lookup("IDS_ERROR_PASSWORD_WAIT");

    // Each round every attacker tries twice: once after its back-off has passed (the
    // try is weighed and fails) and once at once (refused without being weighed).
    size_t weighed = 0, refused = 0, largest = 0;
    std::string odd;
    ASSERT_TRUE(network.OnLan([&] {
        for (int round = 0; round < 25; ++round) {
            m_clock->Advance(15min);
            for (const std::string& attacker : attackers) {
                for (int again = 0; again < 2; ++again) {
                    HttpReply reply = TryFrom(attacker, "9999");
                    const std::string message = PlistValue(reply.body, "message").value_or("");
                    weighed += message == wrongText ? 1 : 0;
                    refused += message == waitText ? 1 : 0;
                    if (PlistValue(reply.body, "result") != "-17" && odd.empty())
                        odd = attacker + ": " + reply.raw;
                    largest = std::max(largest, attempts.TrackedAddresses());
                }
            }
        }
    }));
    EXPECT_EQ(odd, "");
    EXPECT_EQ(weighed, 500u);
    EXPECT_EQ(refused, 500u);
    EXPECT_EQ(largest, 16u);

    // The owner gets in at once from loopback and from an address that never failed.
    HttpReply home = SendRawRequest(m_port,
        "GET /connect?password=1234 HTTP/1.1\r\nHost: "
        "127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(PlistValue(home.body, "result"), "0") << home.raw;
    HttpReply away;
    ASSERT_TRUE(network.OnLan([&] { away = TryFrom(fresh, "1234"); }));
    EXPECT_EQ(PlistValue(away.body, "result"), "0") << away.raw;
    // While an attacker that knows the password still waits out its own back-off.
    HttpReply attacker;
    ASSERT_TRUE(network.OnLan([&] { attacker = TryFrom(attackers.back(), "1234"); }));
    EXPECT_EQ(PlistValue(attacker.body, "message"), waitText);
}

} // namespace
