#pragma once

// Helper processes that run reading work the server must not run itself. A helper
// is forked from the server, closes every descriptor it inherited except its end of
// a socket pair (so it never holds a client connection or the listening socket
// open), and then answers requests one at a time: a request text in, a status and
// a list of value texts out. A few helpers stay alive between requests so that the
// library they call stays warm; an idle helper leaves after a minute, and every
// helper leaves when the server process is gone.
//
// Each request has a deadline. A helper that overruns it is killed (SIGKILL) and
// reaped, one that dies or answers garbage is reaped, and either way the caller
// gets a clear outcome and the next request gets a fresh helper.
//
// The serve function runs in the helper, a process forked from a threaded one: it
// must not take any lock that another thread of the server could have held at the
// fork, so it may allocate memory and call into a library that the server itself
// never runs, nothing more.
//
// Threads: any number of callers; the pool's lists are guarded by its lock, and a
// helper belongs to one caller at a time between Acquire and Release.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
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

class MediaReaderPool {
public:
    explicit MediaReaderPool(size_t maxHelpers = 4);
    ~MediaReaderPool(); // kills and reaps the idle helpers
    MediaReaderPool(const MediaReaderPool&) = delete;
    MediaReaderPool& operator=(const MediaReaderPool&) = delete;

    // Helpers made from now on run serve; helpers of an earlier function are retired.
    void SetServeFunction(MediaServeFunction serve);

    MediaReaderOutcome Run(const std::string& request, std::chrono::milliseconds timeout,
        std::vector<std::string>& values);

    // Live helpers (idle and busy), for tests.
    size_t HelperCount() const;

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
    bool Spawn(Helper& helper);
    MediaReaderOutcome Exchange(Helper& helper, std::chrono::steady_clock::time_point deadline,
        std::vector<std::string>& values);

    const size_t m_maxHelpers;
    mutable std::mutex m_lock;
    std::condition_variable m_released;
    std::vector<Helper> m_idle; // guarded by m_lock
    size_t m_alive = 0; // guarded by m_lock: idle and busy helpers
    unsigned m_generation = 0; // guarded by m_lock
    MediaServeFunction m_serve; // guarded by m_lock
};
