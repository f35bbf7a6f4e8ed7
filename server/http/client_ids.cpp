#include "http/client_ids.h"

ClientIds::ClientIds(Clock clock)
    : m_clock(std::move(clock))
{
}

std::optional<Guid> ClientIds::NewGuid()
{
    GuidSource source;
    {
        std::lock_guard guard(m_lock);
        source = m_guidSource;
    }
    return source ? source() : CreateGuid();
}

int ClientIds::MakeGUID(std::string& id)
{
    std::optional<Guid> guid = NewGuid();
    if (!guid)
        return 0;
    id = GuidToHex(*guid);
    return 1;
}

std::string ClientIds::MakeGUID()
{
    std::string id;
    return MakeGUID(id) ? id : std::string();
}

void ClientIds::SetGuidSourceForTesting(GuidSource source)
{
    std::lock_guard guard(m_lock);
    m_guidSource = std::move(source);
}

void ClientIds::ForgetExpired(TimePoint now)
{
    // A walk over the map at most once a minute: ids expire in days, not seconds.
    if (m_lastSweep != TimePoint() && now - m_lastSweep < std::chrono::minutes(1))
        return;
    m_lastSweep = now;
    std::erase_if(
        m_hosts, [&](const auto& entry) { return now - entry.second.lastUse >= kIdLife; });
}

void ClientIds::ForgetLeastRecentlyUsed()
{
    auto oldest = m_hosts.begin();
    for (auto it = m_hosts.begin(); it != m_hosts.end(); ++it) {
        if (it->second.lastUse < oldest->second.lastUse)
            oldest = it;
    }
    if (oldest != m_hosts.end())
        m_hosts.erase(oldest);
}

void ClientIds::SetClientHost(const std::string& clientId, const std::string& host)
{
    const TimePoint now = m_clock();
    std::lock_guard guard(m_lock);
    ForgetExpired(now);
    if (!m_hosts.contains(clientId)) {
        while (m_hosts.size() >= kMaxIds)
            ForgetLeastRecentlyUsed();
    }
    m_hosts[clientId] = Entry { host, now };
}

std::optional<std::string> ClientIds::FindClientHost(const std::string& clientId)
{
    const TimePoint now = m_clock();
    std::lock_guard guard(m_lock);
    auto found = m_hosts.find(clientId);
    if (found == m_hosts.end())
        return std::nullopt;
    if (now - found->second.lastUse >= kIdLife) {
        m_hosts.erase(found);
        return std::nullopt;
    }
    found->second.lastUse = now;
    return found->second.host;
}

void ClientIds::ForgetClientHost(const std::string& clientId)
{
    std::lock_guard guard(m_lock);
    m_hosts.erase(clientId);
}

size_t ClientIds::ClientHostCount() const
{
    std::lock_guard guard(m_lock);
    return m_hosts.size();
}
