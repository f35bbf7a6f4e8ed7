#pragma once

// Bounds how often one address may look up a PIN code that does not exist, so codes
// cannot be found by trying them one after another. After kMaxFailures failed
// look-ups within the window an address is refused until the oldest failure leaves
// the window; a successful look-up does not count.
//
// Threads: safe for concurrent requests; m_lock guards the table.

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

class CLookupLimiter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    CLookupLimiter(int maxFailures, std::chrono::seconds window, Clock clock = {});

    // False when address has used up its failed look-ups.
    bool Allows(const std::string& address);
    void RecordFailure(const std::string& address);

private:
    void Forget(std::deque<std::chrono::steady_clock::time_point>& failures,
        std::chrono::steady_clock::time_point now) const;
    std::chrono::steady_clock::time_point Now() const;

    const size_t m_maxFailures;
    const std::chrono::seconds m_window;
    const Clock m_clock;
    std::mutex m_lock;
    // guarded by m_lock: failure times per address, oldest first
    std::unordered_map<std::string, std::deque<std::chrono::steady_clock::time_point>> m_failures;
};
