#pragma once

// A clock that a test moves by hand, for the Clock of a server's parts or of its
// segment limits. Time stands still until the test advances it (a pause on it moves
// it by the pause, so a wait loop never waits for real time), and every look is
// counted, so a test can wait until the code under test has looked at the clock
// (it is then inside its wait) before it lets the next thing happen.

#include "platform/clock.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace vembatest {

class ManualClock final : public Clock {
public:
    explicit ManualClock(TimePoint start = TimePoint(std::chrono::hours(1000)))
        : m_now(start)
    {
    }

    TimePoint Now() override
    {
        std::lock_guard lock(m_lock);
        ++m_looks;
        m_changed.notify_all();
        return m_now;
    }
    void Sleep(std::chrono::milliseconds pause) override { Advance(pause); }

    void Advance(std::chrono::steady_clock::duration by)
    {
        std::lock_guard lock(m_lock);
        m_now += by;
    }
    // How often Now has been called.
    size_t Looks()
    {
        std::lock_guard lock(m_lock);
        return m_looks;
    }
    // Waits until Now has been called count times in all; false when that did not
    // happen within the bound (a fault: the bound only keeps the test from hanging).
    bool WaitForLooks(size_t count, std::chrono::seconds bound = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, bound, [&] { return m_looks >= count; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed; // with m_lock: a look
    TimePoint m_now; // guarded by m_lock
    size_t m_looks = 0; // guarded by m_lock
};

} // namespace vembatest
