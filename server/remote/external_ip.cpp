#include "remote/external_ip.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "remote/console_answer.h"
#include "remote/relay_server.h"


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
    , m_job([this](const std::atomic<bool>& stopping) {
        const bool stored = m_fetch(stopping);
        TraceMessage(kTraceProgress, "External address - %s",
            stored ? "stored the console's answer" : "the console gave none");
        if (stored)
            ++m_successes;
    })
{
}
