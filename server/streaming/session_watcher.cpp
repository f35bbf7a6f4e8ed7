#include "streaming/session_watcher.h"

#include "config/trace.h"
#include "streaming/client_info.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

std::mutex g_timingLock;
SessionWatcherTiming g_timing; // guarded by g_timingLock

constexpr int kTicksPerWait = 10;

// True when the engine with process id pid has ended (or been replaced by a newer
// run), waiting at most one tick.
bool WaitForEngineEnd(ClientInfo& session, int pid, std::chrono::milliseconds tick)
{
    auto step = tick / kTicksPerWait;
    for (int i = 0; i < kTicksPerWait; ++i) {
        if (!session.m_Encoder.IsENCRunning() || session.m_Encoder.GetEngineProcessId() != pid)
            return true;
        std::this_thread::sleep_for(step);
    }
    return !session.m_Encoder.IsENCRunning() || session.m_Encoder.GetEngineProcessId() != pid;
}

void WatchEngine(std::weak_ptr<ClientInfo> weakSession, int pid, SessionWatcherTiming timing)
{
    for (;;) {
        std::shared_ptr<ClientInfo> session = weakSession.lock();
        if (!session)
            return;
        if (WaitForEngineEnd(*session, pid, timing.tick)) {
            session->ForgetEndedEngine(pid);
            return;
        }
        if (session->nIdleSeconds.fetch_add(1) + 1 < timing.idleLimit)
            continue;
        int percent = EngineProgressPercent(
            session->m_EngineStatus.PositionSeconds(), session->m_EngineStatus.TotalMs());
        session->nIdleSeconds.exchange(0);
        if (percent < 50) {
            session->StopENC();
            TraceMessage(kTraceEngineLifetime, "Timeout - StopENC");
        }
        return;
    }
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

void StartSessionWatcher(std::weak_ptr<ClientInfo> session, int pid)
{
    if (session.expired())
        return;
    try {
        std::thread(WatchEngine, std::move(session), pid, GetSessionWatcherTiming()).detach();
    } catch (...) {
        // Without a watcher the engine still ends with its file or with the session.
        TraceMessage(kTraceStreamFailure, "ClientInfo : cannot start the watcher thread");
    }
}
