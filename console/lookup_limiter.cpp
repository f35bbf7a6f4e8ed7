#include "console/lookup_limiter.h"

namespace {

// Beyond this many tracked addresses the ones without recent failures are dropped, so
// the table cannot grow without bound.
constexpr size_t kMaxTrackedAddresses = 100000;

} // namespace

CLookupLimiter::CLookupLimiter(int maxFailures, std::chrono::seconds window, Clock clock)
    : m_maxFailures(maxFailures < 1 ? 1 : static_cast<size_t>(maxFailures))
    , m_window(window)
    , m_clock(std::move(clock))
{
}

std::chrono::steady_clock::time_point CLookupLimiter::Now() const
{
    return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

void CLookupLimiter::Forget(std::deque<std::chrono::steady_clock::time_point>& failures,
    std::chrono::steady_clock::time_point now) const
{
    while (!failures.empty() && now - failures.front() >= m_window)
        failures.pop_front();
}

bool CLookupLimiter::Allows(const std::string& address)
{
    auto now = Now();
    std::lock_guard lock(m_lock);
    auto found = m_failures.find(address);
    if (found == m_failures.end())
        return true;
    Forget(found->second, now);
    if (found->second.empty()) {
        m_failures.erase(found);
        return true;
    }
    return found->second.size() < m_maxFailures;
}

void CLookupLimiter::RecordFailure(const std::string& address)
{
    auto now = Now();
    std::lock_guard lock(m_lock);
    if (m_failures.size() >= kMaxTrackedAddresses) {
        for (auto it = m_failures.begin(); it != m_failures.end();) {
            Forget(it->second, now);
            it = it->second.empty() ? m_failures.erase(it) : std::next(it);
        }
    }
    auto& failures = m_failures[address];
    Forget(failures, now);
    failures.push_back(now);
    while (failures.size() > m_maxFailures)
        failures.pop_front();
}
