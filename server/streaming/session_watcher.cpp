#include "streaming/session_watcher.h"

#include "config/trace.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kLooksPerTick = 10;

std::mutex g_timingLock;
SessionWatcherTiming g_timing; // guarded by g_timingLock

struct Watch {
    uint64_t id = 0;
    std::weak_ptr<WatchedSession> session;
    int pid = 0;
    SessionWatcherTiming timing;
    std::chrono::steady_clock::time_point nextTick;
};

class Watcher {
public:
    ~Watcher() { Stop(); }

    void Add(std::weak_ptr<WatchedSession> session, int pid, SessionWatcherTiming timing)
    {
        std::lock_guard lock(m_lock);
        m_watches.push_back({ m_nextId++, std::move(session), pid, timing,
            std::chrono::steady_clock::now() + timing.tick });
        if (!m_thread.joinable()) {
            m_stop = false;
            try {
                m_thread = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                // Without a watcher the engine still ends with its file or its session.
                TraceMessage(kTraceStreamFailure, "ClientInfo : cannot start the watcher thread");
                m_watches.clear();
            }
        }
        m_wake.notify_all();
    }

    void Stop()
    {
        std::thread thread;
        {
            std::lock_guard lock(m_lock);
            m_stop = true;
            m_watches.clear();
            thread = std::move(m_thread);
        }
        m_wake.notify_all();
        if (thread.joinable())
            thread.join();
    }

    size_t Count()
    {
        std::lock_guard lock(m_lock);
        return m_watches.size();
    }

private:
    void Run()
    {
        std::unique_lock lock(m_lock);
        while (!m_stop) {
            if (m_watches.empty()) {
                m_wake.wait(lock, [&] { return m_stop || !m_watches.empty(); });
                continue;
            }
            auto look
                = std::min_element(m_watches.begin(), m_watches.end(),
                      [](const Watch& a, const Watch& b) { return a.timing.tick < b.timing.tick; })
                      ->timing.tick
                / kLooksPerTick;
            m_wake.wait_for(lock, std::max(look, std::chrono::milliseconds(1)));
            if (m_stop)
                break;
            std::vector<Watch> watches = m_watches;
            lock.unlock();
            std::vector<uint64_t> ended;
            for (Watch& watch : watches) {
                if (!LookAt(watch))
                    ended.push_back(watch.id);
            }
            lock.lock();
            UpdateWatches(watches, ended);
        }
    }

    // False when the watch has ended.
    static bool LookAt(Watch& watch)
    {
        std::shared_ptr<WatchedSession> session = watch.session.lock();
        if (!session)
            return false;
        if (!session->EngineRunsAs(watch.pid)) {
            session->ForgetEndedEngine(watch.pid);
            return false;
        }
        auto now = std::chrono::steady_clock::now();
        if (now < watch.nextTick)
            return true;
        watch.nextTick += watch.timing.tick;
        session->IdleSeconds().fetch_add(1);
        if (watch.timing.afterTick)
            watch.timing.afterTick(*session);
        if (session->IdleSeconds().load() < watch.timing.idleLimit)
            return true;
        int percent = session->EngineProgress();
        session->IdleSeconds().exchange(0);
        if (percent < 50) {
            session->StopIdleEngine();
            TraceMessage(kTraceEngineLifetime, "Timeout - StopENC");
        }
        return false;
    }

    void UpdateWatches(const std::vector<Watch>& looked, const std::vector<uint64_t>& ended)
    {
        for (const Watch& watch : looked) {
            auto current = std::find_if(m_watches.begin(), m_watches.end(),
                [&](const Watch& w) { return w.id == watch.id; });
            if (current == m_watches.end())
                continue;
            if (std::find(ended.begin(), ended.end(), watch.id) != ended.end())
                m_watches.erase(current);
            else
                current->nextTick = watch.nextTick;
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<Watch> m_watches; // guarded by m_lock
    uint64_t m_nextId = 1; // guarded by m_lock
    bool m_stop = false; // guarded by m_lock
    std::thread m_thread; // guarded by m_lock
};

Watcher& TheWatcher()
{
    static Watcher watcher;
    return watcher;
}

} // namespace

void SetSessionWatcherTiming(SessionWatcherTiming timing)
{
    std::lock_guard guard(g_timingLock);
    g_timing = timing;
}

SessionWatcherTiming GetSessionWatcherTiming()
{
    std::lock_guard guard(g_timingLock);
    return g_timing;
}

int EngineProgressPercent(double positionSeconds, uint32_t totalMs)
{
    if (totalMs == 0 || !std::isfinite(positionSeconds) || positionSeconds <= 0)
        return 0;
    // Whole milliseconds of the position; past the end counts as all of it.
    auto madeMs = static_cast<int64_t>(std::min(positionSeconds * 1000.0, 1e15));
    return static_cast<int>(
        std::min<long long>(std::llround(static_cast<double>(madeMs) * 100.0 / totalMs), 100));
}

void WatchSessionEngine(std::weak_ptr<WatchedSession> session, int pid)
{
    if (session.expired() || pid == 0)
        return;
    TheWatcher().Add(std::move(session), pid, GetSessionWatcherTiming());
}

void StopSessionWatcher()
{
    TheWatcher().Stop();
}

size_t WatchedEngineCount()
{
    return TheWatcher().Count();
}
