#pragma once

// The watcher of live engines: one thread for all sessions of a server, started with
// the first engine and joined by Stop (server stop, program exit), so no watcher runs
// once the sessions are gone.
//
// For every engine run it watches it looks, ten times a tick, whether the engine has
// ended (then the engine is taken off the ENC session list, should nothing else
// have, and the watch ends), and every tick it counts the session's idle seconds;
// every segment request of the client sets the count back to 0. After 600 idle
// ticks it stops the engine when less than half of the file is made, so a client
// that went away does not keep a transcoder busy, and an engine close to the end
// may finish. Either way the watch then ends.
//
// Threads: watches are added from request threads; the list has its own lock, which
// is never held while a session is asked anything or an engine is stopped. The
// watcher holds only weak references, so it never keeps a released session alive.
// An engine run is named by its run number, which its session gives out; the
// process id stays with the engine.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class WatchedSession;

struct SessionWatcherTiming {
    std::chrono::milliseconds tick { 1000 }; // one idle "second"
    int idleLimit = 600; // ticks without a segment request
    // Tests: called on the watcher thread right after each idle tick is counted,
    // before the count is compared with the limit.
    std::function<void(WatchedSession&)> afterTick;
};

// What the watcher needs of a session.
class WatchedSession {
public:
    virtual ~WatchedSession() = default;
    // True while the engine of this run still runs as the session's engine.
    virtual bool EngineRunsAs(uint64_t run) = 0;
    // The engine of this run has ended on its own.
    virtual void ForgetEndedEngine(uint64_t run) = 0;
    // Counts one idle tick; the count since the last segment request.
    virtual int AddIdleTick() = 0;
    virtual void ResetIdleTicks() = 0;
    // Percent of the file the engine has made.
    virtual int EngineProgress() = 0;
    virtual void StopIdleEngine() = 0;
};

// Percent of the file made: the position (seconds, to whole milliseconds) against
// the total length in milliseconds, rounded to the nearest integer, at most 100. An
// unknown (zero) length counts as nothing made.
int EngineProgressPercent(double positionSeconds, uint32_t totalMs);

class SessionWatcher {
public:
    SessionWatcher() = default;
    ~SessionWatcher(); // Stop
    SessionWatcher(const SessionWatcher&) = delete;
    SessionWatcher& operator=(const SessionWatcher&) = delete;

    // Tests shorten the watcher's clock; engines watched later use the new timing.
    void SetTiming(SessionWatcherTiming timing);
    SessionWatcherTiming Timing() const;

    // Watches the engine run of session.
    void WatchSessionEngine(std::weak_ptr<WatchedSession> session, uint64_t run);
    // Ends every watch and joins the watcher thread; a later watch starts it again.
    void Stop();
    // Engines being watched (tests).
    size_t WatchedEngineCount() const;

private:
    struct Watch {
        uint64_t id = 0;
        std::weak_ptr<WatchedSession> session;
        uint64_t run = 0;
        SessionWatcherTiming timing;
        std::chrono::steady_clock::time_point nextTick;
    };
    void Run();
    static bool LookAt(Watch& watch);
    void UpdateWatches(const std::vector<Watch>& looked, const std::vector<uint64_t>& ended);

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    // --- guarded by m_lock
    SessionWatcherTiming m_timing;
    std::vector<Watch> m_watches;
    uint64_t m_nextId = 1;
    bool m_stop = false;
    std::thread m_thread;
};
