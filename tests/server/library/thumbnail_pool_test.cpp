#include "library/thumbnail_pool.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

ThumbInfo Job(int n)
{
    const std::string name = "Movies/clip" + std::to_string(n) + ".avi";
    return { "/media/" + name, "64", "50", "00:00:01", name };
}

std::vector<ThumbInfo> Jobs(int first, int count)
{
    std::vector<ThumbInfo> jobs;
    for (int i = first; i < first + count; ++i)
        jobs.push_back(Job(i));
    return jobs;
}

// A maker that records what it made and how many ran at once, and that can be
// held at a gate to keep a round running.
struct RecordingMaker {
    ManualResetEvent gate { EventState::Set };
    std::atomic<int> running { 0 };
    std::atomic<int> peak { 0 };
    std::mutex lock;
    std::condition_variable runningChanged; // with lock
    std::map<std::string, int> made; // guarded by lock

    ThumbnailMaker Bind()
    {
        return [this](const ThumbInfo& job) {
            const int now = ++running;
            Announce();
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) { }
            gate.Wait(10s);
            {
                std::lock_guard<std::mutex> hold(lock);
                ++made[job.path];
            }
            --running;
            Announce();
            return job.path + "_s.jpg";
        };
    }
    // Wakes a waiter of WaitRunning; taking the lock first means none misses it.
    void Announce()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
        }
        runningChanged.notify_all();
    }
    int Made(const std::string& path)
    {
        std::lock_guard<std::mutex> hold(lock);
        auto it = made.find(path);
        return it == made.end() ? 0 : it->second;
    }
    size_t Total()
    {
        std::lock_guard<std::mutex> hold(lock);
        size_t total = 0;
        for (auto& [path, n] : made)
            total += size_t(n);
        return total;
    }
};

// Waits until the maker holds `count` jobs at once; false when that did not happen
// within the bound (a fault: the bound only keeps the test from hanging).
bool WaitRunning(RecordingMaker& maker, int count)
{
    std::unique_lock<std::mutex> hold(maker.lock);
    return maker.runningChanged.wait_for(hold, 60s, [&] { return maker.running.load() == count; });
}

} // namespace

TEST(ThumbnailPool, RoundSizeIsProcessorsPlusOneAtMostOnePerJob)
{
    EXPECT_EQ(CThumbnailPool::WorkerCount(4, 12), 5u);
    EXPECT_EQ(CThumbnailPool::WorkerCount(4, 2), 2u);
    EXPECT_EQ(CThumbnailPool::WorkerCount(0, 9), 2u);
    EXPECT_EQ(CThumbnailPool::WorkerCount(2, 0), 0u);
}

TEST(ThumbnailPool, MakesEveryJobOnceWithAtMostProcessorsPlusOneAtATime)
{
    RecordingMaker maker;
    CThumbnailPool pool(maker.Bind(), 2);
    EXPECT_EQ(pool.AddJobs(Jobs(0, 40)), 40u);
    EXPECT_TRUE(pool.Start(10s));
    EXPECT_FALSE(pool.IsRunning());
    EXPECT_EQ(pool.QueuedJobs(), 0u);
    EXPECT_EQ(maker.Total(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(maker.Made(Job(i).path), 1) << i;
    EXPECT_LE(maker.peak.load(), 3);
    EXPECT_GE(maker.peak.load(), 1);
    // Nothing queued: nothing starts, and the answer is at once "idle".
    EXPECT_TRUE(pool.Start(0ms));
}

TEST(ThumbnailPool, LateRoundGoesOnInTheBackgroundAndTakesNewJobs)
{
    RecordingMaker maker;
    maker.gate.Reset();
    CThumbnailPool pool(maker.Bind(), 1);
    pool.AddJobs(Jobs(0, 5));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(pool.Start(100ms)); // the starter gives up waiting, the round goes on
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_TRUE(pool.IsRunning());
    EXPECT_TRUE(WaitRunning(maker, 2));

    // A second listing's jobs join the running round; no second round starts.
    pool.AddJobs(Jobs(5, 3));
    EXPECT_FALSE(pool.Start(50ms));
    EXPECT_EQ(maker.running.load(), 2);

    maker.gate.Set();
    EXPECT_TRUE(pool.Start(10s)); // waits for the running round
    EXPECT_EQ(maker.Total(), 8u);
    EXPECT_LE(maker.peak.load(), 2);

    // The pool starts again for later jobs.
    pool.AddJobs(Jobs(8, 1));
    EXPECT_TRUE(pool.Start(10s));
    EXPECT_EQ(maker.Made(Job(8).path), 1);
}

TEST(ThumbnailPool, JobsQueuedOrInHandAreNotQueuedTwiceButMayBeRetriedLater)
{
    RecordingMaker maker;
    maker.gate.Reset();
    CThumbnailPool pool(maker.Bind(), 1); // two workers
    pool.AddJobs(Jobs(0, 4));
    EXPECT_FALSE(pool.Start(50ms));
    ASSERT_TRUE(WaitRunning(maker, 2)); // jobs 0 and 1 in hand, 2 and 3 queued
    EXPECT_EQ(pool.AddJobs(Jobs(0, 4)), 0u);
    ThumbInfo large = Job(2);
    large.width = "320";
    large.height = "240";
    EXPECT_EQ(pool.AddJobs({ large }), 1u); // another size of the same video is another job
    maker.gate.Set();
    EXPECT_TRUE(pool.Start(10s));
    EXPECT_EQ(maker.Made(Job(0).path), 1);
    EXPECT_EQ(maker.Made(Job(2).path), 2);
    // Once made (or failed), the same job is accepted again: a failure is tried anew.
    EXPECT_EQ(pool.AddJobs(Jobs(0, 1)), 1u);
    EXPECT_TRUE(pool.Start(10s));
    EXPECT_EQ(maker.Made(Job(0).path), 2);
}

TEST(ThumbnailPool, StopDropsQueuedJobsAndWaitsForJobsInHand)
{
    RecordingMaker maker;
    maker.gate.Reset();
    CThumbnailPool pool(maker.Bind(), 1);
    pool.AddJobs(Jobs(0, 10));
    EXPECT_FALSE(pool.Start(50ms));
    ASSERT_TRUE(WaitRunning(maker, 2));
    EXPECT_FALSE(pool.Stop(50ms)); // two jobs still in hand
    EXPECT_EQ(pool.QueuedJobs(), 0u);
    maker.gate.Set();
    EXPECT_TRUE(pool.Stop(10s));
    EXPECT_EQ(maker.Total(), 2u);
    EXPECT_FALSE(pool.IsRunning());
}

TEST(ThumbnailPool, FailingMakerDoesNotStopTheRound)
{
    std::atomic<int> calls { 0 };
    CThumbnailPool pool(
        [&](const ThumbInfo& job) -> std::string {
            ++calls;
            if (job.path.find("clip3") != std::string::npos)
                throw std::runtime_error("engine gone");
            return {};
        },
        2);
    pool.AddJobs(Jobs(0, 10));
    EXPECT_TRUE(pool.Start(10s));
    EXPECT_EQ(calls.load(), 10);
}

TEST(ThumbnailPool, ConcurrentListingsShareOnePool)
{
    RecordingMaker maker;
    {
        CThumbnailPool pool(maker.Bind(), 2);
        std::vector<std::thread> listings;
        for (int t = 0; t < 6; ++t)
            listings.emplace_back([&pool, t] {
                for (int round = 0; round < 5; ++round) {
                    pool.AddJobs(Jobs(t * 100 + round * 10, 10));
                    pool.Start(round % 2 ? 0ms : 5s);
                }
            });
        for (std::thread& t : listings)
            t.join();
        // The destructor waits for whatever is still being made.
    }
    EXPECT_EQ(maker.Total(), 300u);
    EXPECT_LE(maker.peak.load(), 3);
}
