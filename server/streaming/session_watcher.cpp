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

} // namespace

SessionWatcher::~SessionWatcher()
{
    Stop();
}

void SessionWatcher::SetTiming(SessionWatcherTiming timing)
{
    std::lock_guard guard(m_lock);
    m_timing = std::move(timing);
}

SessionWatcherTiming SessionWatcher::Timing() const
{
    std::lock_guard guard(m_lock);
    return m_timing;
}

void SessionWatcher::WatchSessionEngine(std::weak_ptr<WatchedSession> session, uint64_t run)
{
    if (session.expired() || run == 0)
        return;
    std::lock_guard lock(m_lock);
    m_watches.push_back({ m_nextId++, std::move(session), run, m_timing,
        std::chrono::steady_clock::now() + m_timing.tick });
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

void SessionWatcher::Stop()
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

size_t SessionWatcher::WatchedEngineCount() const
{
    std::lock_guard lock(m_lock);
    return m_watches.size();
}

void SessionWatcher::Run()
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
bool SessionWatcher::LookAt(Watch& watch)
{
    std::shared_ptr<WatchedSession> session = watch.session.lock();
    if (!session)
        return false;
    if (!session->EngineRunsAs(watch.run)) {
        session->ForgetEndedEngine(watch.run);
        return false;
    }
    auto now = std::chrono::steady_clock::now();
    if (now < watch.nextTick)
        return true;
    watch.nextTick += watch.timing.tick;
    int idle = session->AddIdleTick();
    if (watch.timing.afterTick)
        watch.timing.afterTick(*session);
    if (idle < watch.timing.idleLimit)
        return true;
    int percent = session->EngineProgress();
    session->ResetIdleTicks();
    if (percent < 50) {
        session->StopIdleEngine();
        TraceMessage(kTraceEngineLifetime, "Timeout - StopENC");
    }
    return false;
}

void SessionWatcher::UpdateWatches(
    const std::vector<Watch>& looked, const std::vector<uint64_t>& ended)
{
    for (const Watch& watch : looked) {
        auto current = std::find_if(
            m_watches.begin(), m_watches.end(), [&](const Watch& w) { return w.id == watch.id; });
        if (current == m_watches.end())
            continue;
        if (std::find(ended.begin(), ended.end(), watch.id) != ended.end())
            m_watches.erase(current);
        else
            current->nextTick = watch.nextTick;
    }
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
