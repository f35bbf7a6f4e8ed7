#include "http/password_attempts.h"

#include <algorithm>

namespace {

constexpr auto kMinute = std::chrono::minutes(1);
constexpr auto kHour = std::chrono::hours(1);

} // namespace

PasswordAttempts::PasswordAttempts(Clock clock)
    : m_clock(std::move(clock))
{
}

void PasswordAttempts::ForgetOld(std::chrono::steady_clock::time_point now)
{
    while (!m_failures.empty() && now - m_failures.front().when >= kHour)
        m_failures.pop_front();
}

bool PasswordAttempts::MayTry(const std::string& address)
{
    auto now = m_clock();
    std::lock_guard guard(m_lock);
    ForgetOld(now);
    if (m_failures.size() >= static_cast<size_t>(kAllPerHour))
        return false;
    auto recent = std::count_if(m_failures.begin(), m_failures.end(), [&](const Failure& failure) {
        return failure.address == address && now - failure.when < kMinute;
    });
    return recent < kPerAddressPerMinute;
}

void PasswordAttempts::RecordFailure(const std::string& address)
{
    auto now = m_clock();
    std::lock_guard guard(m_lock);
    ForgetOld(now);
    // Requests that passed MayTry together may all fail; the list stays bounded anyway.
    if (m_failures.size() >= static_cast<size_t>(2 * kAllPerHour))
        m_failures.pop_front();
    m_failures.push_back({ now, address });
}

void PasswordAttempts::ForgetAll()
{
    std::lock_guard guard(m_lock);
    m_failures.clear();
}
