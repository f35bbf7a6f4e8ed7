#pragma once

// Renewing the server's PIN registration while it runs: the console drops codes that
// are not renewed for a month, and a server that runs for months registers only at
// start. After the first successful registration or update the process renews once a
// day while the PIN mode is on.
//
// Threads: a CPinRenewal runs its own thread, which sleeps on m_wake and calls the
// renewal; m_lock guards m_stopping.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CPinRenewal {
public:
    CPinRenewal(std::function<void()> renew, std::chrono::milliseconds period);
    ~CPinRenewal(); // stops it, waiting for a renewal under way
    CPinRenewal(const CPinRenewal&) = delete;
    CPinRenewal& operator=(const CPinRenewal&) = delete;

private:
    void Run();

    const std::function<void()> m_renew;
    const std::chrono::milliseconds m_period;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopping = false; // guarded by m_lock
    std::thread m_thread;
};

inline constexpr std::chrono::hours kPinRenewalPeriod { 24 };

// Starts the daily renewal of this process once; later calls do nothing.
void ArmDailyPinRenewal();
