#pragma once

// A shared bound on the thumbnail engines that run at once. The worker pool and
// "/getThumbnail" both make pictures through one frame source; each engine run takes
// a slot first, so together they never start more engine processes than the machine
// has cores, however many listings and requests arrive.
//
// Threads: any. One lock guards the counts; a caller without a free slot waits on a
// condition variable (the lock is released while it waits). The observer is told of
// every change after the lock is let go, with the counts as they were inside it.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>

class EngineSlots {
public:
    // running: engines holding a slot; waiting: callers waiting for one.
    using Observer = std::function<void(unsigned running, unsigned waiting)>;

    // limit: the number of cores (0 counts as 1).
    explicit EngineSlots(unsigned limit);
    EngineSlots(const EngineSlots&) = delete;
    EngineSlots& operator=(const EngineSlots&) = delete;

    // A held slot; given back when it goes.
    class Slot {
    public:
        explicit Slot(EngineSlots& owner)
            : m_slots(&owner)
        {
        }
        Slot(Slot&& other) noexcept
            : m_slots(std::exchange(other.m_slots, nullptr))
        {
        }
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        Slot& operator=(Slot&&) = delete;
        ~Slot()
        {
            if (m_slots)
                m_slots->Release();
        }

    private:
        EngineSlots* m_slots;
    };

    // Waits until a slot is free and takes it.
    Slot Take();
    unsigned Limit() const { return m_limit; }
    // Tests watch the counts through this; set it before the first Take.
    void SetObserver(Observer observer) { m_observer = std::move(observer); }

private:
    void Release();
    void Tell(unsigned running, unsigned waiting) const;

    const unsigned m_limit;
    Observer m_observer; // set before use, read-only afterwards
    std::mutex m_lock;
    std::condition_variable m_freed;
    unsigned m_running = 0; // guarded by m_lock
    unsigned m_waiting = 0; // guarded by m_lock
};
