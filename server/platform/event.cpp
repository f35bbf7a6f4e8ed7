#include "platform/event.h"

ManualResetEvent::ManualResetEvent(EventState initial)
    : m_set(initial == EventState::Set)
{
}

void ManualResetEvent::Set()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_set = true;
    }
    m_changed.notify_all();
}

void ManualResetEvent::Reset()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_set = false;
}

bool ManualResetEvent::IsSet() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_set;
}

bool ManualResetEvent::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> hold(m_lock);
    return m_changed.wait_for(hold, timeout, [this] { return m_set; });
}

void ManualResetEvent::Wait()
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_changed.wait(hold, [this] { return m_set; });
}

bool ManualResetEvent::WaitAndReset(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> hold(m_lock);
    if (!m_changed.wait_for(hold, timeout, [this] { return m_set; }))
        return false;
    m_set = false;
    return true;
}
