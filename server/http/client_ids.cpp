#include "http/client_ids.h"

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

void ClientIds::SetClientHost(const std::string& clientId, const std::string& host)
{
    std::lock_guard guard(m_lock);
    m_hosts[clientId] = host;
}

std::optional<std::string> ClientIds::FindClientHost(const std::string& clientId) const
{
    std::lock_guard guard(m_lock);
    auto found = m_hosts.find(clientId);
    if (found == m_hosts.end())
        return std::nullopt;
    return found->second;
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
