#include "library/thumbnail_pool.h"

#include "config/trace.h"

#include <algorithm>
#include <memory>
#include <system_error>

CThumbnailPool::CThumbnailPool(ThumbnailMaker maker, unsigned processors)
    : m_maker(std::move(maker))
    , m_processors(processors)
{
}

CThumbnailPool::~CThumbnailPool()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_jobs.clear();
    }
    m_allDone.Wait();
    std::thread cleanup;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        cleanup = std::move(m_cleanup);
    }
    if (cleanup.joinable())
        cleanup.join();
}

unsigned CThumbnailPool::WorkerCount(unsigned processors, size_t jobs)
{
    const size_t wanted = size_t(std::max(processors, 1u)) + 1;
    return unsigned(std::min(wanted, jobs));
}

std::string CThumbnailPool::KeyOf(const ThumbInfo& job)
{
    return job.path + '\n' + job.width + '\n' + job.height + '\n' + job.name;
}

size_t CThumbnailPool::AddJobs(std::vector<ThumbInfo> jobs)
{
    std::lock_guard<std::mutex> hold(m_lock);
    std::set<std::string> queued;
    for (const ThumbInfo& job : m_jobs)
        queued.insert(KeyOf(job));
    size_t added = 0;
    for (ThumbInfo& job : jobs) {
        std::string key = KeyOf(job);
        if (m_inHand.count(key) || !queued.insert(std::move(key)).second)
            continue;
        m_jobs.push_back(std::move(job));
        ++added;
    }
    return added;
}

void CThumbnailPool::Work()
{
    for (;;) {
        ThumbInfo job;
        std::string key;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (m_jobs.empty()) {
                if (--m_workers == 0)
                    m_allDone.Set();
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            key = KeyOf(job);
            m_inHand.insert(key);
        }
        try {
            m_maker(job);
        } catch (...) {
            TraceMessage(kTraceProgress, "Thumbnail worker : job failed ('%s')", job.path.c_str());
        }
        std::lock_guard<std::mutex> hold(m_lock);
        m_inHand.erase(m_inHand.find(key));
    }
}

void CThumbnailPool::HandOverToCleanup(std::vector<std::thread> workers)
{
    // Held through a shared pointer so that the threads stay ours, and can be
    // joined here, when no cleanup thread can be started.
    struct LateRound {
        std::thread previous;
        std::vector<std::thread> workers;
        void JoinAll()
        {
            if (previous.joinable())
                previous.join();
            for (std::thread& t : workers)
                t.join();
        }
    };
    auto late = std::make_shared<LateRound>();
    late->workers = std::move(workers);
    bool spawned = false;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        // A new round starts only when the last one's workers have all left, so a
        // previous cleanup thread is ending; the new one joins it first.
        late->previous = std::move(m_cleanup);
        try {
            m_cleanup = std::thread([late] { late->JoinAll(); });
            spawned = true;
        } catch (const std::system_error&) {
        }
    }
    if (!spawned)
        late->JoinAll(); // outside the lock: the workers need it to leave
}

bool CThumbnailPool::Start(std::chrono::milliseconds wait)
{
    std::vector<std::thread> started;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_workers == 0 && !m_jobs.empty()) {
            const unsigned count = WorkerCount(m_processors, m_jobs.size());
            m_allDone.Reset();
            for (unsigned i = 0; i < count; ++i) {
                try {
                    started.emplace_back(&CThumbnailPool::Work, this);
                    ++m_workers; // the new worker waits for this lock before counting down
                } catch (const std::system_error&) {
                    break;
                }
            }
            if (m_workers == 0)
                m_allDone.Set();
            TraceMessage(kTraceProgress, "QZ_StartThumbnailThreads : %u workers, %zu jobs",
                m_workers, m_jobs.size());
        }
    }
    const bool done = m_allDone.Wait(wait);
    if (started.empty())
        return done;
    if (done) {
        for (std::thread& t : started)
            t.join();
    } else {
        HandOverToCleanup(std::move(started));
    }
    return done;
}

bool CThumbnailPool::Stop(std::chrono::milliseconds wait)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_jobs.clear();
    }
    if (!m_allDone.Wait(wait))
        return false;
    std::thread cleanup;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        cleanup = std::move(m_cleanup);
    }
    if (cleanup.joinable())
        cleanup.join();
    return true;
}

bool CThumbnailPool::IsRunning() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_workers > 0;
}

size_t CThumbnailPool::QueuedJobs() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_jobs.size();
}
