#include "console/lookup_limiter.h"

namespace {

// Beyond this many tracked addresses the ones without recent events are dropped, so
// the table cannot grow without bound.
constexpr size_t kMaxTrackedAddresses = 100000;

} // namespace

CLookupLimiter::CLookupLimiter(int maxCount, std::chrono::seconds window, Clock clock)
    : m_maxCount(maxCount < 1 ? 1 : static_cast<size_t>(maxCount))
    , m_window(window)
    , m_clock(std::move(clock))
{
}

std::chrono::steady_clock::time_point CLookupLimiter::Now() const
{
    return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

void CLookupLimiter::Forget(std::deque<std::chrono::steady_clock::time_point>& events,
    std::chrono::steady_clock::time_point now) const
{
    while (!events.empty() && now - events.front() >= m_window)
        events.pop_front();
}

LimitVerdict CLookupLimiter::Check(const std::string& address)
{
    auto now = Now();
    std::lock_guard lock(m_lock);
    auto found = m_events.find(address);
    if (found == m_events.end())
        return LimitVerdict::Allowed;
    Forget(found->second, now);
    if (found->second.empty()) {
        m_events.erase(found);
        return LimitVerdict::Allowed;
    }
    return found->second.size() < m_maxCount ? LimitVerdict::Allowed : LimitVerdict::Refused;
}

bool CLookupLimiter::Record(const std::string& address)
{
    auto now = Now();
    std::lock_guard lock(m_lock);
    if (m_events.size() >= kMaxTrackedAddresses) {
        for (auto it = m_events.begin(); it != m_events.end();) {
            Forget(it->second, now);
            it = it->second.empty() ? m_events.erase(it) : std::next(it);
        }
    }
    auto& events = m_events[address];
    Forget(events, now);
    events.push_back(now);
    while (events.size() > m_maxCount)
        events.pop_front();
    return true;
}
