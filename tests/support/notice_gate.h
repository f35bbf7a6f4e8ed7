#pragma once

// Holds a server's notice queue: a task that waits for the gate goes in first, so the
// notices posted while the gate is shut wait behind it, and the test decides when
// they run (an engine notice of a run that a newer one replaced, for example).

#include "platform/task_queue.h"

#include <condition_variable>
#include <mutex>

namespace vembatest {

class NoticeGate {
public:
    explicit NoticeGate(TaskQueue& notices)
        : m_notices(notices)
    {
        m_notices.Post([this] {
            std::unique_lock lock(m_lock);
            m_changed.wait(lock, [this] { return m_open; });
        });
    }
    ~NoticeGate() { Open(); }
    NoticeGate(const NoticeGate&) = delete;
    NoticeGate& operator=(const NoticeGate&) = delete;

    // Lets the held notices run and waits until they have; false when the queue
    // stopped first.
    bool OpenAndDrain()
    {
        Open();
        return m_notices.Drain();
    }

private:
    void Open()
    {
        std::lock_guard lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }

    TaskQueue& m_notices;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false; // guarded by m_lock
};

} // namespace vembatest
