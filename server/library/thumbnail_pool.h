#pragma once

// The thumbnail worker pool.
//
// Listings queue thumbnail jobs and then start the pool; the pool makes them in
// the background with a few worker threads so that a folder of many videos gets
// its pictures in parallel. One lock (the queue lock) guards the queue and the
// count of workers: appending jobs and taking them are exclusive, and a worker
// that finds the queue empty gives up its slot inside that same lock, so a job
// appended while the pool runs is always taken by a worker that is still there.
//
// A round: Start finds no worker present and jobs queued, so it starts
// processors + 1 workers (at most one per job) and resets the all-done event.
// Each worker takes the first job, makes it outside the lock, and repeats until
// the queue is empty; the last one to leave sets the all-done event. The starter
// waits for that event a bounded time; when the round is not done by then, a
// cleanup thread takes over the worker threads and joins them whenever they end,
// and the starter returns. Start while a round runs starts nothing: the new jobs
// join the running round, and the caller waits for it like the starter.
//
// Jobs that are queued or in hand already (same file, same size) are not queued
// twice, so two listings of one folder do not make each picture twice.

#include "platform/event.h"

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// One thumbnail job (tagTHUMBINFO).
struct ThumbInfo {
    std::string path; // full local path of the video
    std::string width; // wanted width, decimal text
    std::string height; // wanted height, decimal text
    std::string playTime; // play time text; carried along, not used for making
    std::string name; // the video's name relative to the shares: "Share/rest"
};

// Makes one thumbnail; returns the thumbnail file's path or empty text.
using ThumbnailMaker = std::function<std::string(const ThumbInfo&)>;

class CThumbnailPool {
public:
    // processors: the number of processors to size rounds by (0 counts as 1).
    CThumbnailPool(ThumbnailMaker maker, unsigned processors);
    // Drops the queue and waits for the jobs in hand and every thread.
    ~CThumbnailPool();
    CThumbnailPool(const CThumbnailPool&) = delete;
    CThumbnailPool& operator=(const CThumbnailPool&) = delete;

    // QZ_AddThumbnailJobs: appends under the queue lock; returns how many were new.
    size_t AddJobs(std::vector<ThumbInfo> jobs);

    // QZ_StartThumbnailThreads: starts a round when none runs and jobs wait, then
    // waits up to `wait` for the round to finish. True when the pool is idle on
    // return (done in time, or nothing to do).
    bool Start(std::chrono::milliseconds wait);

    // QZ_StopThumbnailThreads: drops every queued job, then waits up to `wait` for
    // the jobs in hand. True when the pool is idle on return; otherwise the
    // workers finish their job in hand in the background.
    bool Stop(std::chrono::milliseconds wait);

    bool IsRunning() const;
    size_t QueuedJobs() const;

    // The size of a round: processors + 1, at most one worker per job.
    static unsigned WorkerCount(unsigned processors, size_t jobs);

private:
    void Work();
    static std::string KeyOf(const ThumbInfo& job);
    void HandOverToCleanup(std::vector<std::thread> workers);

    const ThumbnailMaker m_maker;
    const unsigned m_processors;

    mutable std::mutex m_lock; // the thumbnail queue lock
    std::deque<ThumbInfo> m_jobs; // guarded by m_lock
    std::multiset<std::string> m_inHand; // guarded by m_lock: keys of jobs being made
    unsigned m_workers = 0; // guarded by m_lock: workers holding a slot
    std::thread m_cleanup; // guarded by m_lock: joins the workers of a late round

    ManualResetEvent m_allDone { EventState::Set }; // set while no worker holds a slot
};
