#pragma once

// Failed passwords at "/connect" when the server checks its password. Failures count
// per address: after one, the address is refused at once, without its password being
// compared, until a back-off has passed that doubles with each failure, from 1 second
// to 15 minutes; nobody's answer is held open meanwhile. A right password clears the
// address, and one that stays quiet for the longest back-off starts afresh. Nothing
// counts for all addresses together, so failing from many addresses locks nobody else
// out, least of all the owner at the computer. IPv6 addresses count by their /64
// network, which one household (or one attacker) holds whole.
//
// The table holds a bounded number of addresses; when it is full the entry that
// matters least (its back-off long over, else the one that ends first) gives way.
//
// Handlers on many threads ask and record at once; the table has its own lock.

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

struct AttemptLimits {
    std::chrono::seconds firstBackOff { 1 };
    std::chrono::seconds longestBackOff { 15 * 60 };
    size_t capacity = 4096; // addresses remembered at once
};

class PasswordAttempts {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    explicit PasswordAttempts(
        Clock clock = [] { return std::chrono::steady_clock::now(); }, AttemptLimits limits = {});

    // Replaces the limits (tests make the table small); the table is emptied.
    void SetLimits(AttemptLimits limits);

    // False while the address waits out its back-off.
    bool MayTry(const std::string& address);
    // What is left of the address's back-off (zero when it may try).
    std::chrono::steady_clock::duration WaitLeft(const std::string& address);
    // Counts a failure; answers the back-off it starts.
    std::chrono::steady_clock::duration RecordFailure(const std::string& address);
    void RecordSuccess(const std::string& address);
    // Forgets every failure (a server started afresh in the same process).
    void ForgetAll();
    // How many addresses the table remembers.
    size_t TrackedAddresses() const;

private:
    struct Entry {
        int failures = 0;
        TimePoint refusedUntil {};
    };
    std::chrono::steady_clock::duration BackOff(int failures) const;
    void MakeRoom();

    Clock m_clock;
    mutable std::mutex m_lock;
    // --- guarded by m_lock
    AttemptLimits m_limits;
    std::unordered_map<std::string, Entry> m_entries; // by address key
};

// The key an address counts under: the address itself, an IPv6 one cut to its /64
// network ("2001:db8:1:2::/64"); IPv4-mapped IPv6 addresses count as IPv4.
std::string AttemptKey(const std::string& address);
