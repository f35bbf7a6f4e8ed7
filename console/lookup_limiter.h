#pragma once

// The address limit of one console process, in its memory. After maxCount events
// within the window an address is refused until the oldest leaves the window. It
// bounds failed PIN look-ups (so codes cannot be found by trying them one after
// another) and registrations of a console that runs alone.
//
// Threads: safe for concurrent requests; m_lock guards the table.

#include "console/address_limit.h"

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

class CLookupLimiter : public IAddressLimit {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    CLookupLimiter(int maxCount, std::chrono::seconds window, Clock clock = {});

    LimitVerdict Check(const std::string& address) override;
    bool Record(const std::string& address) override;

private:
    void Forget(std::deque<std::chrono::steady_clock::time_point>& events,
        std::chrono::steady_clock::time_point now) const;
    std::chrono::steady_clock::time_point Now() const;

    const size_t m_maxCount;
    const std::chrono::seconds m_window;
    const Clock m_clock;
    std::mutex m_lock;
    // guarded by m_lock: event times per address, oldest first
    std::unordered_map<std::string, std::deque<std::chrono::steady_clock::time_point>> m_events;
};
