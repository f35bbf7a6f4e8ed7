#pragma once

// The hand-over between two stages: a FIFO that blocks the producer while full
// and the consumer while empty. Close() lets the consumer drain what is left and
// then see the end; Abort() wakes both sides at once and makes every call fail,
// which is how a quit or an error reaches a stage that is waiting.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

template <typename T> class BlockingQueue {
public:
    // capacity 0: never full.
    explicit BlockingQueue(size_t capacity)
        : m_capacity(capacity)
    {
    }
    BlockingQueue(const BlockingQueue&) = delete;
    BlockingQueue& operator=(const BlockingQueue&) = delete;

    // False when the queue was closed or aborted; the item is dropped then.
    bool Push(T item)
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] {
            return m_aborted || m_closed || m_capacity == 0 || m_items.size() < m_capacity;
        });
        if (m_aborted || m_closed)
            return false;
        m_items.push_back(std::move(item));
        m_changed.notify_all();
        return true;
    }

    // False at the end (closed and drained) or when aborted.
    bool Pop(T& item)
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_aborted || m_closed || !m_items.empty(); });
        if (m_aborted || m_items.empty())
            return false;
        item = std::move(m_items.front());
        m_items.pop_front();
        m_changed.notify_all();
        return true;
    }

    void Close()
    {
        std::lock_guard lock(m_lock);
        m_closed = true;
        m_changed.notify_all();
    }

    void Abort()
    {
        std::lock_guard lock(m_lock);
        m_aborted = true;
        m_items.clear();
        m_changed.notify_all();
    }

private:
    const size_t m_capacity;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<T> m_items; // guarded by m_lock
    bool m_closed = false; // guarded by m_lock
    bool m_aborted = false; // guarded by m_lock
};
