// The failed-password back-off of "/connect", driven by a hand-set clock.

#include "http/password_attempts.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class PasswordAttemptsTest : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point m_now {};
    PasswordAttempts m_attempts { [this] { return m_now; } };

    void Fail(const std::string& address) { m_attempts.RecordFailure(address); }
};

TEST_F(PasswordAttemptsTest, EachFailureRefusesTheAddressForADoublingBackOffUpToFifteenMinutes)
{
    const std::chrono::seconds waits[]
        = { 1s, 2s, 4s, 8s, 16s, 32s, 64s, 128s, 256s, 512s, 900s, 900s };
    for (std::chrono::seconds wait : waits) {
        ASSERT_TRUE(m_attempts.MayTry("10.0.0.1"));
        EXPECT_EQ(m_attempts.RecordFailure("10.0.0.1"), wait);
        m_now += wait - 1ms;
        EXPECT_FALSE(m_attempts.MayTry("10.0.0.1")) << wait.count();
        EXPECT_EQ(m_attempts.WaitLeft("10.0.0.1"), 1ms);
        m_now += 1ms;
    }
    EXPECT_TRUE(m_attempts.MayTry("10.0.0.1"));
}

TEST_F(PasswordAttemptsTest, FailuresFromManyAddressesNeverRefuseAnother)
{
    for (int round = 0; round < 50; ++round) {
        for (int address = 0; address < 20; ++address)
            Fail("198.51.100." + std::to_string(address));
        m_now += 1s;
    }
    EXPECT_TRUE(m_attempts.MayTry("127.0.0.1"));
    EXPECT_TRUE(m_attempts.MayTry("192.168.1.20"));
    EXPECT_FALSE(m_attempts.MayTry("198.51.100.3"));
}

TEST_F(PasswordAttemptsTest, ARightPasswordOrALongQuietSpellStartsTheCountAfresh)
{
    for (int i = 0; i < 5; ++i) {
        Fail("10.0.0.1");
        m_now += 1h;
    }
    m_attempts.RecordSuccess("10.0.0.1");
    Fail("10.0.0.1");
    m_now += 1s;
    EXPECT_TRUE(m_attempts.MayTry("10.0.0.1"));

    for (int i = 0; i < 6; ++i)
        Fail("10.0.0.2"); // 32 s back-off
    m_now += 32s + 15min;
    Fail("10.0.0.2");
    m_now += 1s;
    EXPECT_TRUE(m_attempts.MayTry("10.0.0.2"));
}

TEST_F(PasswordAttemptsTest, TheTableStaysBoundedAndLosesTheEntriesThatMatterLeast)
{
    m_attempts.SetLimits({ 1s, 900s, 8 });
    for (int i = 0; i < 6; ++i)
        Fail("203.0.113.1"); // refused longest
    for (int address = 0; address < 1000; ++address) {
        Fail("198.51." + std::to_string(address / 250) + "." + std::to_string(address % 250));
        ASSERT_LE(m_attempts.TrackedAddresses(), 8u);
    }
    EXPECT_FALSE(m_attempts.MayTry("203.0.113.1"));
}

TEST_F(PasswordAttemptsTest, AnIpv6NetworkCountsAsOneAddressAndMappedIpv4AsItself)
{
    Fail("2001:db8:1:2::5");
    EXPECT_FALSE(m_attempts.MayTry("2001:db8:1:2:ffff::9"));
    EXPECT_TRUE(m_attempts.MayTry("2001:db8:1:3::5"));
    Fail("::ffff:10.1.2.3");
    EXPECT_FALSE(m_attempts.MayTry("10.1.2.3"));
    EXPECT_EQ(AttemptKey("2001:db8:1:2:aa::1"), "2001:db8:1:2::/64");
}

} // namespace
