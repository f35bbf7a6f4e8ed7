#pragma once

// Events reported through a seam of the code under test (a hook), in the order
// they came, so a test can wait for one event before it lets the next happen
// instead of sleeping. The wait is bounded only so that a fault fails the test
// rather than hanging it.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace vembatest {

template <typename Event> class StepLog {
public:
    void Add(const Event& event)
    {
        std::lock_guard lock(m_lock);
        m_events.push_back(event);
        m_changed.notify_all();
    }

    bool WaitFor(const Event& event, std::chrono::seconds bound = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, bound,
            [&] { return std::find(m_events.begin(), m_events.end(), event) != m_events.end(); });
    }

    // Waits for the first event that match(event) holds for.
    template <typename Match>
    bool WaitForMatch(Match match, std::chrono::seconds bound = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(
            lock, bound, [&] { return std::any_of(m_events.begin(), m_events.end(), match); });
    }

    std::vector<Event> Events()
    {
        std::lock_guard lock(m_lock);
        return m_events;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Event> m_events; // guarded by m_lock
};

} // namespace vembatest
