#pragma once

// A manual-reset event: once Set it stays set, releasing every waiter, until Reset.

#include <chrono>
#include <condition_variable>
#include <mutex>

enum class EventState { Reset, Set };

class ManualResetEvent {
public:
    explicit ManualResetEvent(EventState initial = EventState::Reset);
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

    // True when the event is set, at once or within timeout; false when the time ran out.
    bool Wait(std::chrono::milliseconds timeout);
    void Wait();
    // Waits as Wait(timeout) and resets the event in the same step, so of several
    // waiters exactly one takes it (a turn that admits one holder at a time).
    bool WaitAndReset(std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_set; // guarded by m_lock
};
