#pragma once

// Failed passwords at "/connect" when the server requires its password: at most 5 a
// minute from one address and 30 an hour from all addresses together. Past either
// limit a request is refused without its password being compared, so guessing
// gains nothing from being fast or from many addresses.
//
// Handlers on many threads ask and record at once; the failure list has its own lock.

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

class PasswordAttempts {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int kPerAddressPerMinute = 5;
    static constexpr int kAllPerHour = 30;

    explicit PasswordAttempts(Clock clock = [] { return std::chrono::steady_clock::now(); });

    // False when the address, or everyone together, has used up its failures.
    bool MayTry(const std::string& address);
    void RecordFailure(const std::string& address);
    // Forgets every failure (a server started afresh in the same process).
    void ForgetAll();

private:
    struct Failure {
        std::chrono::steady_clock::time_point when;
        std::string address;
    };
    void ForgetOld(std::chrono::steady_clock::time_point now);

    Clock m_clock;
    std::mutex m_lock;
    std::deque<Failure> m_failures; // guarded by m_lock; the last hour's, oldest first
};
