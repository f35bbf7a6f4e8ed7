// The reading helpers: answers come back whole, a helper that crashes or hangs
// costs one request and its deadline, and helpers hold none of the server's
// descriptors.

#include "library/media_reader_process.h"
#include "platform/places.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string EchoHelper()
{
    return GetProgramFolder() + "/media_reader_echo_helper";
}

class MediaReaderPoolTest : public ::testing::Test {
protected:
    void SetUp() override { m_pool.SetHelperCommand({ EchoHelper() }); }
    MediaReaderPool m_pool { 2 };
};

TEST_F(MediaReaderPoolTest, AnswersComeBackWholeFromAHelperProcess)
{
    std::vector<std::string> values;
    ASSERT_EQ(m_pool.Run("hello", 5s, values), MediaReaderOutcome::Read);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], "hello");
    EXPECT_NE(values[1], std::to_string(getpid()));
    // The helper stays for the next request.
    std::vector<std::string> again;
    ASSERT_EQ(m_pool.Run("again", 5s, again), MediaReaderOutcome::Read);
    EXPECT_EQ(again[1], values[1]);
    EXPECT_EQ(m_pool.Run("missing", 5s, values), MediaReaderOutcome::CannotOpen);
    EXPECT_TRUE(values.empty());
}

TEST_F(MediaReaderPoolTest, AMissingProgramMeansNoProcess)
{
    m_pool.SetHelperCommand({ GetProgramFolder() + "/no-such-reader-helper" });
    std::vector<std::string> values;
    EXPECT_EQ(m_pool.Run("hello", 5s, values), MediaReaderOutcome::NoProcess);
    EXPECT_EQ(m_pool.HelperCount(), 0u);
}

TEST_F(MediaReaderPoolTest, ACrashCostsOneRequest)
{
    std::vector<std::string> values;
    EXPECT_EQ(m_pool.Run("crash", 5s, values), MediaReaderOutcome::Crashed);
    EXPECT_EQ(m_pool.Run("after", 5s, values), MediaReaderOutcome::Read);
    EXPECT_EQ(values[0], "after");
}

TEST_F(MediaReaderPoolTest, AHangingHelperIsKilledAtTheDeadline)
{
    std::vector<std::string> values;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(m_pool.Run("hang", 300ms, values), MediaReaderOutcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(m_pool.Run("after", 5s, values), MediaReaderOutcome::Read);
    EXPECT_LE(m_pool.HelperCount(), 2u);
}

TEST_F(MediaReaderPoolTest, ManyCallersShareAFewHelpers)
{
    std::atomic<int> wrong { 0 };
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                std::string request = std::to_string(t) + "/" + std::to_string(i);
                std::vector<std::string> values;
                if (m_pool.Run(request, 10s, values) != MediaReaderOutcome::Read
                    || values[0] != request)
                    ++wrong;
            }
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(m_pool.HelperCount(), 2u);
}

TEST_F(MediaReaderPoolTest, HelpersHoldNoneOfTheServersDescriptors)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0); // deliberately inheritable, like a careless socket
    std::vector<std::string> values;
    ASSERT_EQ(m_pool.Run("spawn with the pipe open", 5s, values), MediaReaderOutcome::Read);
    close(ends[1]);
    // Only the helper could still hold the write end; end of file means it does not.
    pollfd poller { ends[0], POLLIN, 0 };
    ASSERT_EQ(poll(&poller, 1, 2000), 1);
    char byte;
    EXPECT_EQ(read(ends[0], &byte, 1), 0);
    close(ends[0]);
}

TEST_F(MediaReaderPoolTest, ANewCommandRetiresTheOldHelpers)
{
    std::vector<std::string> values;
    ASSERT_EQ(m_pool.Run("one", 5s, values), MediaReaderOutcome::Read);
    std::string oldHelper = values[1];
    m_pool.SetHelperCommand({ EchoHelper(), "new" });
    ASSERT_EQ(m_pool.Run("two", 5s, values), MediaReaderOutcome::Read);
    EXPECT_EQ(values[0], "new");
    EXPECT_NE(values[1], oldHelper);
    EXPECT_EQ(kill(std::stoi(oldHelper), 0), -1); // killed and reaped
}

} // namespace

namespace {

// Waits (bounded, a guard against a hang) until the pool holds no helper.
bool WaitUntilNoHelper(const MediaReaderPool& pool)
{
    for (int look = 0; look < 30000 && pool.HelperCount() > 0; ++look)
        std::this_thread::sleep_for(1ms);
    return pool.HelperCount() == 0;
}

} // namespace

// A helper that ends while idle (it left, or was killed) is reaped by the pool's
// reaper, not left a zombie until some later request happens to look.
TEST(MediaReaderPoolReaping, AnIdleHelperThatEndsIsReapedWithoutAnotherRequest)
{
    MediaReaderPool pool(2, 1ms);
    pool.SetHelperCommand({ EchoHelper() });
    std::vector<std::string> values;
    ASSERT_EQ(pool.Run("hello", 5s, values), MediaReaderOutcome::Read);
    const pid_t helper = static_cast<pid_t>(std::stol(values[1]));
    ASSERT_EQ(pool.HelperCount(), 1u);
    ASSERT_EQ(::kill(helper, SIGKILL), 0);
    ASSERT_TRUE(WaitUntilNoHelper(pool));
    EXPECT_EQ(::waitpid(helper, nullptr, WNOHANG), -1) << "reaped by the pool";
    EXPECT_EQ(errno, ECHILD);
    // The next read gets a fresh helper.
    ASSERT_EQ(pool.Run("again", 5s, values), MediaReaderOutcome::Read);
    EXPECT_NE(values[1], std::to_string(helper));
}
