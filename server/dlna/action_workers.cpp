#include "dlna/action_workers.h"

#include "config/trace.h"

ActionWorkers::ActionWorkers(unsigned count)
{
    for (unsigned i = 0; i < count; ++i)
        m_threads.emplace_back([this] { Work(); });
}

ActionWorkers::~ActionWorkers()
{
    Stop();
}

bool ActionWorkers::Post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_lock);
        if (m_stopping)
            return false;
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
    return true;
}

void ActionWorkers::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_tasks.clear();
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
}

void ActionWorkers::Work()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_stopping)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        try {
            task();
        } catch (...) {
            TraceMessage(kTraceProgress, "DLNA : an action failed");
        }
    }
}
