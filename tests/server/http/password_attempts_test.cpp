// The failed-password limits of "/connect", driven by a hand-set clock.

#include "http/password_attempts.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class PasswordAttemptsTest : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point m_now {};
    PasswordAttempts m_attempts { [this] { return m_now; } };

    void Fail(const std::string& address, int times)
    {
        for (int i = 0; i < times; ++i) {
            ASSERT_TRUE(m_attempts.MayTry(address)) << address << " failure " << i;
            m_attempts.RecordFailure(address);
        }
    }
};

TEST_F(PasswordAttemptsTest, FiveFailuresAMinuteStopOneAddressButNotAnother)
{
    Fail("10.0.0.1", 5);
    EXPECT_FALSE(m_attempts.MayTry("10.0.0.1"));
    EXPECT_TRUE(m_attempts.MayTry("10.0.0.2"));
    m_now += 59s;
    EXPECT_FALSE(m_attempts.MayTry("10.0.0.1"));
    m_now += 1s;
    EXPECT_TRUE(m_attempts.MayTry("10.0.0.1"));
}

TEST_F(PasswordAttemptsTest, ThirtyFailuresAnHourStopEveryAddress)
{
    // Six addresses, five each, a minute apart: no address passes its own limit.
    for (int address = 0; address < 6; ++address) {
        Fail("10.0.1." + std::to_string(address), 5);
        m_now += 1min;
    }
    EXPECT_FALSE(m_attempts.MayTry("10.0.9.9"));
    // The first five failures age out an hour after they happened.
    m_now += 54min;
    EXPECT_TRUE(m_attempts.MayTry("10.0.9.9"));
    for (int address = 0; address < 5; ++address)
        Fail("10.0.2." + std::to_string(address), 1);
    EXPECT_FALSE(m_attempts.MayTry("10.0.9.9"));
}

TEST_F(PasswordAttemptsTest, FailuresPastTheLimitKeepTheListBoundedAndStillRefuse)
{
    for (int i = 0; i < 500; ++i)
        m_attempts.RecordFailure("10.0.2." + std::to_string(i % 250));
    EXPECT_FALSE(m_attempts.MayTry("10.0.3.1"));
    m_now += 1h;
    EXPECT_TRUE(m_attempts.MayTry("10.0.3.1"));
}

TEST_F(PasswordAttemptsTest, ForgettingAllowsEveryoneAgain)
{
    Fail("10.0.0.1", 5);
    m_attempts.ForgetAll();
    EXPECT_TRUE(m_attempts.MayTry("10.0.0.1"));
}

} // namespace
