#pragma once

// Helper processes that run reading work the server must not run itself. A helper
// is a separate program started with posix_spawn (never a bare fork of the threaded
// server, whose locks a forked copy could find held for ever). It gets its end of a
// socket pair as descriptor 3 and no other descriptor of the server (so it never
// holds a client connection or the listening socket open), and then answers
// requests one at a time: a request text in, a status and a list of value texts out. A few helpers
// stay alive between requests so that the library they call stays warm; an idle helper leaves after
// a minute, and every helper leaves when the server process is gone.
//
// Each request has a deadline. A helper that overruns it is killed (SIGKILL) and
// reaped, one that dies or answers garbage is reaped, and either way the caller
// gets a clear outcome and the next request gets a fresh helper.
//
// A helper program is started as: program <server pid> <arguments of the command...>,
// and its main calls RunMediaReaderHelper with its serve function.
//
// Every helper is reaped. An idle helper that has ended (it left, or was killed) and
// one idle for long are taken out and reaped by the pool's reaper thread, which
// looks at the idle helpers every reap step while there are any; so a helper never
// lingers as a zombie waiting for the next request.
//
// Threads: any number of callers, and the reaper; the pool's lists are guarded by its
// lock, and a helper belongs to one caller (or the reaper) at a time once it is out of
// the idle list. No lock is held while a helper is killed or waited for.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

enum class MediaReaderOutcome {
    Read, // the serve function succeeded and its values came back whole
    CannotOpen, // the serve function reported failure
    TimedOut, // the helper ran out of time and was killed
    Crashed, // the helper died or sent damaged output
    NoProcess, // no helper could be made
};

// Runs in the helper: true with the values to send, or false for "cannot open".
using MediaServeFunction
    = std::function<bool(const std::string& request, std::vector<std::string>& values)>;

// The helper program's side: serves requests on descriptor 3 until the socket closes,
// the server (argv[1]) is gone or a minute passes without work; returns the exit
// status for main.
int RunMediaReaderHelper(int argc, char** argv, const MediaServeFunction& serve);

class MediaReaderPool {
public:
    explicit MediaReaderPool(
        size_t maxHelpers = 4, std::chrono::milliseconds reapStep = std::chrono::seconds(5));
    ~MediaReaderPool(); // ends the reaper, kills and reaps the idle helpers
    MediaReaderPool(const MediaReaderPool&) = delete;
    MediaReaderPool& operator=(const MediaReaderPool&) = delete;

    // Helpers made from now on run this command (the program's path, then its own
    // arguments); helpers of an earlier command are retired.
    void SetHelperCommand(std::vector<std::string> command);

    MediaReaderOutcome Run(const std::string& request, std::chrono::milliseconds timeout,
        std::vector<std::string>& values);

    // Live helpers (idle and busy), for tests.
    size_t HelperCount() const;
    // The server goes: no read starts any more, and the helpers busy with a read are
    // killed, so their callers get their outcome (Crashed) at once instead of at
    // their deadline.
    void Shutdown();

private:
    struct Helper {
        pid_t pid = -1;
        int socket = -1;
        unsigned generation = 0;
        std::chrono::steady_clock::time_point lastUsed;
    };

    bool Acquire(std::chrono::steady_clock::time_point deadline, Helper& helper);
    void Release(Helper& helper);
    void Discard(Helper& helper);
    // Notes a helper handed out to a caller; false (and the helper gone) after Shutdown.
    bool MarkBusy(Helper& helper);
    bool Spawn(Helper& helper);
    // Takes out the idle helpers that have ended or waited too long (under m_lock).
    std::vector<Helper> TakeIdleToRetire();
    void StartReaper(); // under m_lock
    void ReaperThread();
    MediaReaderOutcome Exchange(Helper& helper, std::chrono::steady_clock::time_point deadline,
        std::vector<std::string>& values);

    const size_t m_maxHelpers;
    const std::chrono::milliseconds m_reapStep;
    mutable std::mutex m_lock;
    std::condition_variable m_released;
    std::condition_variable m_reaperWake; // with m_lock: the pool goes
    std::thread m_reaper; // guarded by m_lock: started with the first idle helper
    bool m_reaperStop = false; // guarded by m_lock
    std::vector<Helper> m_idle; // guarded by m_lock
    std::vector<pid_t> m_busy; // guarded by m_lock: helpers handed out to a caller
    bool m_shutDown = false; // guarded by m_lock
    size_t m_alive = 0; // guarded by m_lock: idle and busy helpers
    unsigned m_generation = 0; // guarded by m_lock
    std::vector<std::string> m_command; // guarded by m_lock
};
