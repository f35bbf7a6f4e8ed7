// The thumbnails' bound on engines: the worker pool and on-demand pictures together
// never hold more engine runs than the cores they were given. Every run of the stand-in
// source waits at a gate, so all callers pile up; the slots' observer shows the peak,
// and the gate opens only once every caller is either running or waiting.

#include "library/thumbnail.h"
#include "support/test_support.h"

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

struct Counts {
    std::mutex lock;
    std::condition_variable changed;
    unsigned peakRunning = 0; // guarded by lock
    unsigned peakWaiting = 0; // guarded by lock

    void Saw(unsigned running, unsigned waiting)
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            peakRunning = std::max(peakRunning, running);
            peakWaiting = std::max(peakWaiting, waiting);
        }
        changed.notify_all();
    }
};

void RunCrowd(unsigned cores)
{
    SCOPED_TRACE("cores " + std::to_string(cores));
    vembatest::TempFolder folder("vemba-engineslots");
    ASSERT_FALSE(folder.Path().empty());
    const std::string video = folder.Path() + "/clip.avi";
    std::ofstream(video) << "video bytes";

    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<int> runs { 0 };
    FrameSource source = [&](const std::string&, EngineFrame&) {
        opened.wait();
        ++runs;
        return FrameResult::NoImage;
    };
    Counts counts;
    ThumbnailService service(folder.Path() + "/Services", source, {}, {}, cores);
    service.Engines().SetObserver(
        [&counts](unsigned running, unsigned waiting) { counts.Saw(running, waiting); });

    constexpr size_t kPoolJobs = 6;
    std::vector<ThumbInfo> jobs;
    for (size_t i = 0; i < kPoolJobs; ++i)
        jobs.push_back({ video, "64", "50", "", "Movies/pool" + std::to_string(i) + ".avi" });
    ASSERT_EQ(service.QZ_AddThumbnailJobs(jobs), kPoolJobs);
    service.Pool().Start(std::chrono::milliseconds(0)); // the round goes on in the background
    std::vector<std::thread> requests;
    for (int i = 0; i < 2; ++i)
        requests.emplace_back([&service, &video, i] {
            service.QZ_MakeThumbnail(video, "320", "180", "", "Movies/asked" + std::to_string(i));
        });

    // The pool's workers and the two requests all want an engine at once.
    const unsigned callers = CThumbnailPool::WorkerCount(cores, kPoolJobs) + 2;
    {
        std::unique_lock<std::mutex> hold(counts.lock);
        ASSERT_TRUE(counts.changed.wait_for(
            hold, std::chrono::minutes(1), [&] { return counts.peakWaiting == callers - cores; }))
            << "running " << counts.peakRunning << ", waiting " << counts.peakWaiting;
        EXPECT_EQ(counts.peakRunning, cores);
    }
    gate.set_value();
    for (std::thread& request : requests)
        request.join();
    EXPECT_TRUE(service.Pool().Start(std::chrono::minutes(1))); // waits for the round
    EXPECT_EQ(runs, int(kPoolJobs + 2));
    std::lock_guard<std::mutex> hold(counts.lock);
    EXPECT_EQ(counts.peakRunning, cores);
}

} // namespace

TEST(EngineSlots, PoolAndRequestsTogetherRunNoMoreEnginesThanCores)
{
    RunCrowd(1);
    RunCrowd(2);
}

TEST(EngineSlots, ASlotComesBackWhenItsHolderGoes)
{
    EngineSlots slots(0); // no cores known: one engine at a time
    EXPECT_EQ(slots.Limit(), 1u);
    std::vector<std::pair<unsigned, unsigned>> seen;
    slots.SetObserver(
        [&seen](unsigned running, unsigned waiting) { seen.emplace_back(running, waiting); });
    {
        EngineSlots::Slot first = slots.Take();
        EngineSlots::Slot moved = std::move(first); // one slot, still held once
    }
    {
        EngineSlots::Slot again = slots.Take();
    }
    const std::vector<std::pair<unsigned, unsigned>> expected { { 1, 0 }, { 0, 0 }, { 1, 0 },
        { 0, 0 } };
    EXPECT_EQ(seen, expected);
}
