#include "library/engine_slots.h"

#include <algorithm>

EngineSlots::EngineSlots(unsigned limit)
    : m_limit(std::max(limit, 1u))
{
}

EngineSlots::Slot EngineSlots::Take()
{
    unsigned running = 0, waiting = 0;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        if (m_running >= m_limit) {
            ++m_waiting;
            running = m_running;
            waiting = m_waiting;
            hold.unlock();
            Tell(running, waiting);
            hold.lock();
            m_freed.wait(hold, [this] { return m_running < m_limit; });
            --m_waiting;
        }
        ++m_running;
        running = m_running;
        waiting = m_waiting;
    }
    Tell(running, waiting);
    return Slot(*this);
}

void EngineSlots::Release()
{
    unsigned running = 0, waiting = 0;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        --m_running;
        running = m_running;
        waiting = m_waiting;
    }
    m_freed.notify_one();
    Tell(running, waiting);
}

void EngineSlots::Tell(unsigned running, unsigned waiting) const
{
    if (m_observer)
        m_observer(running, waiting);
}
