#pragma once

// A job run in the background on a thread of its own, so the caller returns at once:
// a request while the job runs makes it go round once more when it is done (for what
// came meanwhile), never twice at a time. Stop ends it: no further round starts, and
// the thread is joined (the round under way is told through the stop flag it is
// given, so it may end early).
//
// Threads: Request, Stop and the queries from any thread; m_lock guards the flags and
// the thread object and is never held while the job runs or a thread is joined.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class BackgroundJob {
public:
    // One round of the job; stopping is set when Stop is called.
    using Round = std::function<void(const std::atomic<bool>& stopping)>;

    explicit BackgroundJob(Round round);
    ~BackgroundJob(); // Stop
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Starts a round, or asks the one under way for another after it; false when no
    // thread could be had or the job has stopped.
    bool Request();
    bool IsRunning() const;
    // Joins a finished round's thread; false while a round runs.
    bool Reap();
    // Waits until no round runs or is asked for; false after Stop.
    bool WaitIdle();
    void Stop();

private:
    void Run();

    const Round m_round;
    std::atomic<bool> m_stopping { false };

    mutable std::mutex m_lock;
    std::condition_variable m_idle; // with m_lock: a run of rounds ended
    // --- guarded by m_lock
    std::thread m_thread;
    bool m_running = false;
    bool m_again = false;
    bool m_stopped = false;
};
