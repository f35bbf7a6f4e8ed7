// CEncoder driving the real engine: a live run to its completion notice, a
// thumbnail request, an error notice, quit and terminate, and an engine started
// from a thread that ends before it.

#include "engine/test_media.h"
#include "enginectl/encoder.h"

#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Collects the notices the encoder posts, as the main window's queue would.
class NoticeBox {
public:
    EngineNotify Target()
    {
        return [this](uint32_t message, uintptr_t wParam, uintptr_t lParam) {
            std::lock_guard lock(m_lock);
            m_notices.push_back({ message, wParam, lParam });
            m_changed.notify_all();
        };
    }
    bool WaitFor(
        uint32_t message, std::chrono::milliseconds timeout, uintptr_t& wParam, uintptr_t& lParam)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const auto& notice : m_notices) {
                if (notice[0] == message) {
                    wParam = notice[1];
                    lParam = notice[2];
                    return true;
                }
            }
            return false;
        });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::array<uintptr_t, 3>> m_notices; // guarded by m_lock
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
        for (auto deadline = Clock::now() + timeout; Clock::now() < deadline;
             std::this_thread::sleep_for(10ms)) {
            if (!encoder.IsENCRunning())
                return true;
        }
        return false;
    }

    std::string m_out;
};

} // namespace

TEST_F(EncoderWithEngine, LiveRunPostsCompletionAndIsThenNoLongerRunning)
{
    NoticeBox notices;
    EngineStatus status;
    CEncoder encoder;
    encoder.SetNotifyTarget(notices.Target(), 77);
    encoder.SetStatusTarget(&status);
    ASSERT_TRUE(StartLive(encoder, TestMedia::Get().Main()));
    EXPECT_GT(encoder.GetEngineProcessId(), 0);
    uintptr_t wParam = 0;
    uintptr_t lParam = 0;
    ASSERT_TRUE(notices.WaitFor(WM_APP_ENC_COMPLETE, 60s, wParam, lParam));
    EXPECT_NEAR(static_cast<double>(wParam), 12000, 100);
    EXPECT_EQ(lParam, 77u);
    EXPECT_NEAR(status.PositionSeconds(), 12.0, 0.1);
    EXPECT_EQ(status.TotalMs(), wParam);
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(std::filesystem::exists(m_out + "/vemba-1-" + std::to_string(n) + ".ts")) << n;
    EXPECT_TRUE(WaitNotRunning(encoder, 3s)) << "a finished engine never reads as running";
    EXPECT_EQ(encoder.QuitEncoding(), 1);
}

TEST_F(EncoderWithEngine, ThumbnailRequestsReturnThePictureOrNothing)
{
    CEncoder encoder;
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
    auto quitAt = Clock::now();
    EXPECT_EQ(encoder.QuitEncoding(), 1);
    EXPECT_LT(Clock::now() - quitAt, 1600ms);
    EXPECT_EQ(encoder.GetEngineProcessId(), 0);
    EXPECT_EQ(encoder.IsENCRunning(), 0);
}

TEST_F(EncoderWithEngine, MissingInputPostsTheErrorNotice)
{
    NoticeBox notices;
    CEncoder encoder;
    encoder.SetNotifyTarget(notices.Target(), 5);
    ASSERT_TRUE(StartLive(encoder, m_out + "/gone.mp4"));
    uintptr_t code = 0;
    uintptr_t value = 0;
    ASSERT_TRUE(notices.WaitFor(WM_APP_ENC_ERROR, 20s, code, value));
    EXPECT_EQ(code, 2u);
    EXPECT_EQ(value, 5u);
    EXPECT_TRUE(WaitNotRunning(encoder, 3s));
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
}

TEST_F(EncoderWithEngine, QuitAndTerminateStopARunningEngine)
{
    EngineStatus status;
    CEncoder encoder;
    encoder.SetStatusTarget(&status);
    ASSERT_TRUE(StartLive(encoder, TestMedia::Get().Long(), true));
    for (auto deadline = Clock::now() + 10s; status.TotalMs() == 0 && Clock::now() < deadline;)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(status.TotalMs(), 20000u);
    auto quitAt = Clock::now();
    EXPECT_EQ(encoder.QuitEncoding(), 1);
    EXPECT_LT(Clock::now() - quitAt, 1600ms);
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
    CEncoder encoder;
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
