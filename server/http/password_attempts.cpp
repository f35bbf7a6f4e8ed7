#include "http/password_attempts.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

std::string AttemptKey(const std::string& address)
{
    std::string text = address.substr(0, address.find('%'));
    uint8_t v6[16];
    if (inet_pton(AF_INET6, text.c_str(), v6) != 1)
        return text;
    static constexpr uint8_t kMapped[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF };
    char printed[INET6_ADDRSTRLEN] = "";
    if (std::memcmp(v6, kMapped, sizeof kMapped) == 0) {
        inet_ntop(AF_INET, v6 + 12, printed, sizeof printed);
        return printed;
    }
    std::memset(v6 + 8, 0, 8);
    inet_ntop(AF_INET6, v6, printed, sizeof printed);
    return std::string(printed) + "/64";
}

PasswordAttempts::PasswordAttempts(Clock clock, AttemptLimits limits)
    : m_clock(std::move(clock))
    , m_limits(limits)
{
}

void PasswordAttempts::SetLimits(AttemptLimits limits)
{
    std::lock_guard guard(m_lock);
    m_limits = limits;
    m_entries.clear();
}

std::chrono::steady_clock::duration PasswordAttempts::BackOff(int failures) const
{
    std::chrono::steady_clock::duration backOff = m_limits.firstBackOff;
    for (int i = 1; i < failures && backOff < m_limits.longestBackOff; ++i)
        backOff *= 2;
    return std::min<std::chrono::steady_clock::duration>(backOff, m_limits.longestBackOff);
}

bool PasswordAttempts::MayTry(const std::string& address)
{
    return WaitLeft(address) == std::chrono::steady_clock::duration::zero();
}

std::chrono::steady_clock::duration PasswordAttempts::WaitLeft(const std::string& address)
{
    const TimePoint now = m_clock();
    std::lock_guard guard(m_lock);
    auto found = m_entries.find(AttemptKey(address));
    if (found == m_entries.end() || now >= found->second.refusedUntil)
        return std::chrono::steady_clock::duration::zero();
    return found->second.refusedUntil - now;
}

void PasswordAttempts::MakeRoom()
{
    // The entry to lose: one whose back-off ended longest ago, else the one whose
    // back-off ends first. A full table is rare, so a walk over it is cheap enough.
    auto chosen = m_entries.begin();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->second.refusedUntil < chosen->second.refusedUntil)
            chosen = it;
    }
    if (chosen != m_entries.end())
        m_entries.erase(chosen);
}

std::chrono::steady_clock::duration PasswordAttempts::RecordFailure(const std::string& address)
{
    const TimePoint now = m_clock();
    const std::string key = AttemptKey(address);
    std::lock_guard guard(m_lock);
    if (m_limits.capacity == 0)
        return std::chrono::steady_clock::duration::zero();
    auto found = m_entries.find(key);
    if (found == m_entries.end()) {
        while (m_entries.size() >= m_limits.capacity)
            MakeRoom();
        found = m_entries.emplace(key, Entry {}).first;
    }
    Entry& entry = found->second;
    // A long quiet spell after the last back-off starts the count afresh.
    if (entry.failures > 0 && now >= entry.refusedUntil + m_limits.longestBackOff)
        entry.failures = 0;
    ++entry.failures;
    entry.refusedUntil = now + BackOff(entry.failures);
    return entry.refusedUntil - now;
}

void PasswordAttempts::RecordSuccess(const std::string& address)
{
    std::lock_guard guard(m_lock);
    m_entries.erase(AttemptKey(address));
}

void PasswordAttempts::ForgetAll()
{
    std::lock_guard guard(m_lock);
    m_entries.clear();
}

size_t PasswordAttempts::TrackedAddresses() const
{
    std::lock_guard guard(m_lock);
    return m_entries.size();
}
