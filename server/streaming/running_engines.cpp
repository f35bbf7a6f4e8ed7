#include "streaming/running_engines.h"

#include <algorithm>

void EncSessionList::AddEncSession(const void* engine)
{
    std::lock_guard guard(m_lock);
    m_engines.push_back(engine);
}

bool EncSessionList::RemoveEncSession(const void* engine)
{
    std::lock_guard guard(m_lock);
    auto found = std::find(m_engines.begin(), m_engines.end(), engine);
    if (found == m_engines.end())
        return false;
    m_engines.erase(found);
    return true;
}

size_t EncSessionList::CountEncSessions() const
{
    std::lock_guard guard(m_lock);
    return m_engines.size();
}
