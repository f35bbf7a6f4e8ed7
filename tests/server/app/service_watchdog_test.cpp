// The service watchdog vouches for the server only while it answers: its rounds, and
// the loopback probe against a real server, one that never answers, and none.

#include "platform/loopback_probe.h"
#include "service_watchdog.h"
#include "support/loopback_server.h"
#include "support/silent_listener.h"

#include <algorithm>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

// What the watchdog did, in order: "probe" for each round, then "notice" when it sent
// one. Tests wait on it for the rounds they script.
class Rounds {
public:
    void Add(const std::string& step)
    {
        {
            std::lock_guard lock(m_lock);
            m_steps.push_back(step);
        }
        m_changed.notify_all();
    }
    // The steps once count probes have returned (false when they never came).
    bool WaitForProbes(size_t count)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 60s, [&] { return Probes() >= count; });
    }
    std::vector<std::string> Steps()
    {
        std::lock_guard lock(m_lock);
        return m_steps;
    }

private:
    size_t Probes() const
    {
        return std::count(m_steps.begin(), m_steps.end(), "answered")
            + std::count(m_steps.begin(), m_steps.end(), "silent");
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_steps; // guarded by m_lock
};

TEST(ServiceWatchdogTest, OnlyAnsweredRoundsAreVouchedFor)
{
    Rounds rounds;
    std::vector<bool> script { true, false, false, true };
    size_t next = 0;
    std::chrono::milliseconds askedWithin {};
    CServiceWatchdog watchdog(
        40ms,
        [&](std::chrono::milliseconds within, const std::atomic<bool>&) {
            askedWithin = within;
            bool answered = next < script.size() ? script[next++] : false;
            rounds.Add(answered ? "answered" : "silent");
            return answered;
        },
        [&](const std::string& notice) { rounds.Add(notice); });
    watchdog.Start();
    ASSERT_TRUE(rounds.WaitForProbes(5));
    watchdog.Stop();
    std::vector<std::string> steps = rounds.Steps();
    steps.resize(8);
    EXPECT_EQ(steps,
        (std::vector<std::string> { "answered", "WATCHDOG=1", "silent", "silent", "answered",
            "WATCHDOG=1", "silent", steps[7] }));
    EXPECT_EQ(askedWithin, 20ms) << "an answer counts only within half the period";
}

TEST(LoopbackProbeTest, AServerThatAnswersPassesOneThatHangsOrIsGoneDoesNot)
{
    LoopbackServer server;
    ASSERT_TRUE(server.Running());
    EXPECT_TRUE(LoopbackAnswers(server.Port(), "/favicon.svg", 10s));
    EXPECT_FALSE(LoopbackAnswers(server.Port(), "/no-such-file", 10s)) << "only 200 counts";

    vembatest::SilentListener hung;
    EXPECT_FALSE(LoopbackAnswers(hung.Port(), "/favicon.svg", 300ms));
    std::atomic<bool> cancelled { true };
    EXPECT_FALSE(LoopbackAnswers(server.Port(), "/favicon.svg", 10s, &cancelled));

    int port = server.Port();
    server.Stop();
    EXPECT_FALSE(LoopbackAnswers(port, "/favicon.svg", 10s));
}

TEST(LoopbackProbeTest, AWatchdogOverAHungServerStaysSilent)
{
    vembatest::SilentListener hung;
    Rounds rounds;
    CServiceWatchdog watchdog(
        200ms,
        [&](std::chrono::milliseconds within, const std::atomic<bool>& cancel) {
            bool answered = LoopbackAnswers(hung.Port(), "/favicon.svg", within, &cancel);
            rounds.Add(answered ? "answered" : "silent");
            return answered;
        },
        [&](const std::string& notice) { rounds.Add(notice); });
    watchdog.Start();
    ASSERT_TRUE(rounds.WaitForProbes(3));
    watchdog.Stop();
    for (const std::string& step : rounds.Steps())
        EXPECT_EQ(step, "silent");
}

} // namespace
