#pragma once

// systemd's side of the daemon: readiness and stop notices, and a watchdog that tells
// systemd the server lives only while the server shows it. Every notice goes through
// libsystemd's sd_notify to $NOTIFY_SOCKET; without that variable nothing is sent.
//
// The watchdog does not vouch for the process but for the server: each round it asks
// the server for a static file over the loopback address and sends WATCHDOG=1 only
// when the answer comes within half of the watchdog period. A server whose workers
// hang, or that stopped accepting, stays silent, and systemd restarts it once
// WatchdogSec passes. Rounds begin every quarter period, so answered rounds are never
// further apart than three quarters of it.
//
// Threads: the watchdog runs one thread of its own from Start to Stop (the daemon's
// main thread calls both); m_lock guards only the stop flag it waits on.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Sends one notice ("READY=1\nSTATUS=...", "STOPPING=1", "WATCHDOG=1").
void NotifyService(const std::string& notice);

// The watchdog period that systemd asks of this process ($WATCHDOG_USEC, when
// $WATCHDOG_PID is unset or this process), or zero.
std::chrono::microseconds ServiceWatchdogPeriod();

class CServiceWatchdog {
public:
    // probe answers whether the server served within the time given, giving up early
    // once the flag is set; notify sends a notice.
    using Probe = std::function<bool(std::chrono::milliseconds, const std::atomic<bool>&)>;
    using Notify = std::function<void(const std::string&)>;

    CServiceWatchdog(std::chrono::microseconds period, Probe probe, Notify notify);
    ~CServiceWatchdog(); // Stop
    CServiceWatchdog(const CServiceWatchdog&) = delete;
    CServiceWatchdog& operator=(const CServiceWatchdog&) = delete;

    void Start();
    // Ends a probe under way and joins the thread.
    void Stop();

private:
    void Run();

    const std::chrono::microseconds m_period;
    const Probe m_probe;
    const Notify m_notify;
    std::atomic<bool> m_cancel { false }; // set by Stop; read by the probe
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false; // guarded by m_lock
    std::thread m_thread;
};
