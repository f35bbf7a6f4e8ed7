#include "service_watchdog.h"

#include <cstdlib>
#include <systemd/sd-daemon.h>
#include <unistd.h>

void NotifyService(const std::string& notice)
{
    sd_notify(0, notice.c_str());
}

std::chrono::microseconds ServiceWatchdogPeriod()
{
    uint64_t period = 0;
    if (sd_watchdog_enabled(0, &period) <= 0)
        return std::chrono::microseconds::zero();
    return std::chrono::microseconds(period);
}

CServiceWatchdog::CServiceWatchdog(std::chrono::microseconds period, Probe probe, Notify notify)
    : m_period(period)
    , m_probe(std::move(probe))
    , m_notify(std::move(notify))
{
}

CServiceWatchdog::~CServiceWatchdog()
{
    Stop();
}

void CServiceWatchdog::Start()
{
    if (m_period.count() <= 0 || m_thread.joinable())
        return;
    m_thread = std::thread([this] { Run(); });
}

void CServiceWatchdog::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_cancel = true;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CServiceWatchdog::Run()
{
    const auto within = std::chrono::duration_cast<std::chrono::milliseconds>(m_period / 2);
    const auto every = m_period / 4;
    for (;;) {
        auto round = std::chrono::steady_clock::now();
        bool alive = false;
        try {
            alive = m_probe(within, m_cancel);
        } catch (...) {
            alive = false; // a probe that cannot run vouches for nothing
        }
        if (alive)
            m_notify("WATCHDOG=1");
        std::unique_lock lock(m_lock);
        if (m_wake.wait_until(lock, round + every, [this] { return m_stop; }))
            return;
    }
}
