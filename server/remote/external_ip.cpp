#include "remote/external_ip.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "remote/console_answer.h"
#include "remote/relay_server.h"

#include <system_error>

bool RefreshExternalIp(SettingsStore& settings, CRelayServer& relay)
{
    std::string answer = relay.GetExternalIp();
    if (answer.empty())
        return false;
    std::string address;
    if (!ParseExternalIpAnswer(answer, address).empty() || address.empty())
        return false;
    return settings.WriteText(kKeyExtIP, address);
}

ExternalAddressFetcher::ExternalAddressFetcher(Fetch fetch)
    : m_fetch(std::move(fetch))
{
}

ExternalAddressFetcher::~ExternalAddressFetcher()
{
    Stop();
}

void ExternalAddressFetcher::Request()
{
    std::thread finished;
    {
        std::lock_guard lock(m_lock);
        if (m_stopped)
            return;
        if (m_running) {
            m_again = true;
            return;
        }
        finished = std::move(m_thread);
        try {
            m_thread = std::thread([this] { Run(); });
            m_running = true;
        } catch (const std::system_error&) {
            TraceMessage(kTraceWebFailure, "External address - no thread for the console request");
        }
    }
    if (finished.joinable())
        finished.join(); // it has left Run already
}

void ExternalAddressFetcher::Run()
{
    for (;;) {
        bool stored = false;
        try {
            stored = m_fetch(m_cancel);
        } catch (...) {
            TraceMessage(kTraceWebFailure, "External address - the console request failed");
        }
        TraceMessage(kTraceProgress, "External address - %s",
            stored ? "stored the console's answer" : "the console gave none");
        std::lock_guard lock(m_lock);
        if (stored)
            ++m_successes;
        if (!m_again || m_stopped) {
            m_running = false;
            m_again = false;
            m_idle.notify_all();
            return;
        }
        m_again = false;
    }
}

void ExternalAddressFetcher::Stop()
{
    std::thread thread;
    {
        std::lock_guard lock(m_lock);
        m_stopped = true;
        thread = std::move(m_thread);
    }
    m_cancel = true;
    m_idle.notify_all();
    if (thread.joinable())
        thread.join();
}

bool ExternalAddressFetcher::WaitIdle()
{
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [&] { return !m_running || m_stopped; });
    return !m_stopped;
}

unsigned ExternalAddressFetcher::Successes() const
{
    std::lock_guard lock(m_lock);
    return m_successes;
}
