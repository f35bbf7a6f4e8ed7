#include "streaming/session_list.h"

#include "config/settings.h"
#include "config/trace.h"
#include "library/request_paths.h"
#include "streaming/streaming_context.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace {

bool HasNoEngine(ClientInfo& session)
{
    return session.Engine().State() == EngineState::Idle && !session.Engine().IsRunning();
}

bool IsForgotten(ClientInfo& session, std::chrono::steady_clock::time_point now)
{
    return now - session.LastUse() >= kSessionIdleLife && HasNoEngine(session);
}

// Marks, beyond the room one more session needs under kMaxSessions, the least
// recently used sessions without an engine. Called under the list's lock.
std::vector<bool> MarkOverflow(
    const std::vector<std::shared_ptr<ClientInfo>>& ordered, const std::vector<bool>& forgotten)
{
    std::vector<bool> marked = forgotten;
    size_t kept = std::count(forgotten.begin(), forgotten.end(), false);
    if (kept < kMaxSessions)
        return marked;
    std::vector<size_t> idle;
    for (size_t i = 0; i < ordered.size(); ++i) {
        if (!marked[i] && HasNoEngine(*ordered[i]))
            idle.push_back(i);
    }
    size_t excess = std::min(idle.size(), kept - kMaxSessions + 1);
    std::partial_sort(idle.begin(), idle.begin() + excess, idle.end(),
        [&](size_t a, size_t b) { return ordered[a]->LastUse() < ordered[b]->LastUse(); });
    for (size_t i = 0; i < excess; ++i)
        marked[idle[i]] = true;
    return marked;
}

} // namespace

SessionList::SessionList(StreamingContext& server)
    : m_server(server)
{
}

// Takes the forgotten sessions, and the overflow beyond kMaxSessions, out of the list;
// the caller releases them unlocked.
std::vector<std::shared_ptr<ClientInfo>> SessionList::TakeForgotten(
    std::chrono::steady_clock::time_point now)
{
    std::vector<std::shared_ptr<ClientInfo>> taken;
    std::lock_guard guard(m_lock);
    std::vector<bool> forgotten(m_ordered.size());
    for (size_t i = 0; i < m_ordered.size(); ++i)
        forgotten[i] = IsForgotten(*m_ordered[i], now);
    std::vector<bool> marked = MarkOverflow(m_ordered, forgotten);
    std::vector<std::shared_ptr<ClientInfo>> kept;
    kept.reserve(m_ordered.size());
    for (size_t i = 0; i < m_ordered.size(); ++i)
        (marked[i] ? taken : kept).push_back(std::move(m_ordered[i]));
    m_ordered.swap(kept);
    for (const std::shared_ptr<ClientInfo>& session : taken) {
        auto found = m_byId.find(session->szClientID);
        if (found == m_byId.end())
            continue;
        std::erase(found->second, session);
        if (found->second.empty())
            m_byId.erase(found);
    }
    return taken;
}

size_t SessionList::ReleaseIdleSessions()
{
    std::vector<std::shared_ptr<ClientInfo>> taken = TakeForgotten(m_server.Time().Now());
    for (const std::shared_ptr<ClientInfo>& session : taken) {
        TraceMessage(kTraceProgress, "Release idle session ('%s')", session->szClientID.c_str());
        // The id outlives its session (http/client_ids.h): a browser that comes back
        // with it gets a new session under the same id.
        session->Release();
    }
    return taken.size();
}

std::shared_ptr<ClientInfo> SessionList::QZ_AddClientInfo(const std::string& clientId)
{
    ReleaseIdleSessions();
    auto session = std::make_shared<ClientInfo>(m_server, clientId);
    session->Touch(m_server.Time().Now());
    {
        std::lock_guard guard(m_lock);
        m_ordered.push_back(session);
        m_byId[clientId].push_back(session);
    }
    TraceMessage(kTraceProgress, "QZ_AddClientInfo ('%s')", session->Dump().c_str());
    return session;
}

std::shared_ptr<ClientInfo> SessionList::QZ_FindClientInfo(const std::string& clientId)
{
    std::shared_ptr<ClientInfo> session;
    {
        std::lock_guard guard(m_lock);
        auto found = m_byId.find(clientId);
        if (found == m_byId.end() || found->second.empty())
            return nullptr;
        session = found->second.front();
    }
    session->Touch(m_server.Time().Now());
    return session;
}

int SessionList::QZ_IsClientInfo(const std::string& clientId)
{
    return QZ_FindClientInfo(clientId) ? 1 : 0;
}

void SessionList::QZ_EditClientInfo(const std::string& clientId, const std::string& path,
    const std::string& width, const std::string& height, const std::string& osType,
    const std::string& connType)
{
    std::shared_ptr<ClientInfo> session = QZ_FindClientInfo(clientId);
    if (!session)
        return;
    if (!path.empty())
        session->SetFilePath(DecodePathValue(path));
    if (!width.empty())
        session->SetWidth(width);
    if (!height.empty())
        session->SetHeight(height);
    if (!osType.empty())
        session->SetOSType(osType);
    if (!connType.empty())
        session->SetConnType(connType);
    TraceMessage(kTraceProgress, "QZ_EditClientInfo ('%s')", session->Dump().c_str());
}

namespace {

unsigned LiveClientLimit(StreamingContext& server)
{
    return static_cast<unsigned>(
        server.Settings().ReadInt(kKeyMaxLiveClient, kDefaultMaxLiveClient));
}

} // namespace

int QZ_IsLiveClientRoom(StreamingContext& server)
{
    return server.EncSessions().CountEncSessions() < LiveClientLimit(server) ? 1 : 0;
}

int QZ_IsLiveClientRoomFor(StreamingContext& server, ClientInfo& session)
{
    size_t running = server.EncSessions().CountEncSessions();
    if (session.Engine().IsOnList() && running > 0)
        --running;
    return running < LiveClientLimit(server) ? 1 : 0;
}

void SessionList::QZ_FreeClientInfoList()
{
    std::vector<std::shared_ptr<ClientInfo>> sessions;
    {
        std::lock_guard guard(m_lock);
        sessions.swap(m_ordered);
        m_byId.clear();
    }
    m_server.Watcher().Stop();
    for (const std::shared_ptr<ClientInfo>& session : sessions)
        session->Release();
}

std::vector<std::shared_ptr<ClientInfo>> SessionList::GetClientInfoList() const
{
    std::lock_guard guard(m_lock);
    return m_ordered;
}
