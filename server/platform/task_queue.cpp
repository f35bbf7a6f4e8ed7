#include "platform/task_queue.h"

TaskQueue::TaskQueue()
    : m_thread([this] { Run(); })
{
}

TaskQueue::~TaskQueue()
{
    Stop();
}

bool TaskQueue::Post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_lock);
        if (m_stopping)
            return false;
        m_tasks.push_back(std::move(task));
        ++m_posted;
    }
    m_wake.notify_one();
    return true;
}

void TaskQueue::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_tasks.clear();
    }
    m_wake.notify_all();
    m_progress.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool TaskQueue::Drain()
{
    std::unique_lock lock(m_lock);
    const unsigned long long target = m_posted;
    m_progress.wait(lock, [&] { return m_done >= target || m_stopping; });
    return m_done >= target;
}

void TaskQueue::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || !m_tasks.empty(); });
        if (m_stopping)
            return;
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A task's failure is its own; the queue goes on with the next.
        }
        lock.lock();
        ++m_done;
        m_progress.notify_all();
    }
}
