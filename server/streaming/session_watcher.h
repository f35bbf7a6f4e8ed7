#pragma once

// The watcher of live engines: one thread for all sessions, started with the first
// engine and joined by StopSessionWatcher (server stop, program exit), so no
// watcher runs once the sessions are gone.
//
// For every engine it watches it looks, ten times a tick, whether the engine has
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

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

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
    // True while the engine with this process id still runs as the session's engine.
    virtual bool EngineRunsAs(int pid) = 0;
    // The engine with this process id has ended on its own.
    virtual void ForgetEndedEngine(int pid) = 0;
    virtual std::atomic<int>& IdleSeconds() = 0;
    // Percent of the file the engine has made.
    virtual int EngineProgress() = 0;
    virtual void StopIdleEngine() = 0;
};

// Tests shorten the watcher's clock; engines watched later use the new timing.
void SetSessionWatcherTiming(SessionWatcherTiming timing);
SessionWatcherTiming GetSessionWatcherTiming();

// Percent of the file made: the position (seconds, to whole milliseconds) against
// the total length in milliseconds, rounded to the nearest integer, at most 100. An
// unknown (zero) length counts as nothing made.
int EngineProgressPercent(double positionSeconds, uint32_t totalMs);

// Watches the engine with process id pid of session.
void WatchSessionEngine(std::weak_ptr<WatchedSession> session, int pid);
// Ends every watch and joins the watcher thread; a later watch starts it again.
void StopSessionWatcher();
// Engines being watched (tests).
size_t WatchedEngineCount();
