// CEncoder driving the real engine: a live run to its completion notice, a
// thumbnail request, an error notice, quit and terminate, and an engine started
// from a thread that ends before it.

#include "engine/test_media.h"
#include "enginectl/encoder.h"
#include "enginectl/engine_context.h"
#include "support/test_server.h"

#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using SteadyTime = std::chrono::steady_clock;

namespace {

// Collects the notices the encoder posts, as the server's notice queue would.
class NoticeBox {
public:
    EngineNotify Target()
    {
        return [this](EngineNotice notice, uint32_t value) {
            std::lock_guard lock(m_lock);
            m_notices.emplace_back(notice, value);
            m_changed.notify_all();
        };
    }
    bool WaitFor(EngineNotice wanted, std::chrono::milliseconds timeout, uint32_t& value)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const auto& [notice, carried] : m_notices) {
                if (notice == wanted) {
                    value = carried;
                    return true;
                }
            }
            return false;
        });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::pair<EngineNotice, uint32_t>> m_notices; // guarded by m_lock
};

class EncoderWithEngine : public ::testing::Test {
protected:
    void SetUp() override { m_out = MakeTempFolder("vemba-encoder"); }
    void TearDown() override { RemoveTree(m_out); }

    // The start sequence of a live session.
    bool StartLive(CEncoder& encoder, const std::string& input, bool preset4 = false)
    {
        int number = encoder.CreateEnginePipe();
        if (number < 50001)
            return false;
        Words line = preset4
            ? LivePreset4CommandLine(input, m_out, number)
            : LiveCommandLine(input, { "-vf", "scale=240:180" }, m_out, 1, -1, number);
        return encoder.RunQZEncEngine(line) == 1 && encoder.StartEncoding() == 1;
    }

    bool WaitNotRunning(CEncoder& encoder, std::chrono::milliseconds timeout)
    {
        for (auto deadline = SteadyTime::now() + timeout; SteadyTime::now() < deadline;
             std::this_thread::sleep_for(10ms)) {
            if (!encoder.IsENCRunning())
                return true;
        }
        return false;
    }

    std::string m_out;
    // The engine from the program folder, with the pipe folder and census of a server.
    vembatest::TestDataFolder m_data { "vemba-encoder-server" };
    EngineContext m_server { m_data.Parts() };
};

} // namespace

TEST_F(EncoderWithEngine, LiveRunPostsCompletionAndIsThenNoLongerRunning)
{
    NoticeBox notices;
    EngineStatus status;
    CEncoder encoder(m_server.Launch());
    encoder.SetNotifyTarget(notices.Target());
    encoder.SetStatusTarget(&status);
    ASSERT_TRUE(StartLive(encoder, TestMedia::Get().Main()));
    EXPECT_GT(encoder.GetEngineProcessId(), 0);
    uint32_t totalMs = 0;
    ASSERT_TRUE(notices.WaitFor(EngineNotice::Complete, 60s, totalMs));
    EXPECT_NEAR(static_cast<double>(totalMs), 12000, 100);
    EXPECT_NEAR(status.PositionSeconds(), 12.0, 0.1);
    EXPECT_EQ(status.TotalMs(), totalMs);
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(std::filesystem::exists(m_out + "/vemba-1-" + std::to_string(n) + ".ts")) << n;
    EXPECT_TRUE(WaitNotRunning(encoder, 3s)) << "a finished engine never reads as running";
    EXPECT_EQ(encoder.QuitEncoding(), 1);
}

TEST_F(EncoderWithEngine, ThumbnailRequestsReturnThePictureOrNothing)
{
    CEncoder encoder(m_server.Launch());
    {
        int number = encoder.CreateEnginePipe();
        ASSERT_GE(number, 50001);
        ASSERT_EQ(encoder.RunQZThumbEngine({ "-pipename=" + std::to_string(number) }), 1);
    }
    std::shared_ptr<const EngineImage> image = encoder.EngineRequest(TestMedia::Get().Main());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 320);
    EXPECT_EQ(image->HeightWord(), -240);
    EXPECT_EQ(image->pixels.size(), 320u * 3 * 240);
    EXPECT_EQ(encoder.EngineRequest(m_out + "/missing.mp4"), nullptr)
        << "no stale picture for a failed request";
    ASSERT_NE(encoder.EngineRequest(TestMedia::Get().Silent()), nullptr);
    auto quitAt = SteadyTime::now();
    EXPECT_EQ(encoder.QuitEncoding(), 1);
    EXPECT_LT(SteadyTime::now() - quitAt, 1600ms);
    EXPECT_EQ(encoder.GetEngineProcessId(), 0);
    EXPECT_EQ(encoder.IsENCRunning(), 0);
}

TEST_F(EncoderWithEngine, MissingInputPostsTheErrorNotice)
{
    NoticeBox notices;
    CEncoder encoder(m_server.Launch());
    encoder.SetNotifyTarget(notices.Target());
    ASSERT_TRUE(StartLive(encoder, m_out + "/gone.mp4"));
    uint32_t code = 0;
    ASSERT_TRUE(notices.WaitFor(EngineNotice::Error, 20s, code));
    EXPECT_EQ(code, 2u);
    EXPECT_TRUE(WaitNotRunning(encoder, 3s));
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
}

TEST_F(EncoderWithEngine, QuitAndTerminateStopARunningEngine)
{
    EngineStatus status;
    CEncoder encoder(m_server.Launch());
    encoder.SetStatusTarget(&status);
    ASSERT_TRUE(StartLive(encoder, TestMedia::Get().Long(), true));
    for (auto deadline = SteadyTime::now() + 10s;
         status.TotalMs() == 0 && SteadyTime::now() < deadline;)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(status.TotalMs(), 20000u);
    auto quitAt = SteadyTime::now();
    EXPECT_EQ(encoder.QuitEncoding(), 1);
    EXPECT_LT(SteadyTime::now() - quitAt, 1600ms);
    EXPECT_EQ(encoder.IsENCRunning(), 0);

    // The same object runs again, and TerminateEngine kills it.
    ASSERT_TRUE(StartLive(encoder, TestMedia::Get().Long(), true));
    EXPECT_EQ(encoder.IsENCRunning(), 1);
    EXPECT_EQ(encoder.TerminateEngine(), 1);
    EXPECT_EQ(encoder.IsENCRunning(), 0);
    EXPECT_EQ(encoder.TerminateEngine(), 0);
    EXPECT_EQ(encoder.QuitEncoding(), 1);
}

TEST_F(EncoderWithEngine, EngineOutlivesTheThreadThatStartedIt)
{
    // The kernel's parent-death signal is sent when the starting thread ends; the
    // engine must tell that apart from its server going away.
    CEncoder encoder(m_server.Launch());
    std::thread starter([&] {
        int number = encoder.CreateEnginePipe();
        EXPECT_EQ(encoder.RunQZThumbEngine({ "-pipename=" + std::to_string(number) }), 1);
    });
    starter.join();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(encoder.IsENCRunning(), 1);
    EXPECT_NE(encoder.EngineRequest(TestMedia::Get().Silent()), nullptr);
    EXPECT_EQ(encoder.QuitEncoding(), 1);
}
