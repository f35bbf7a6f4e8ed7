#include "streaming/session_list.h"

#include "config/settings.h"
#include "config/trace.h"
#include "http/client_ids.h"
#include "library/request_paths.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace {

struct SessionList {
    std::mutex lock;
    std::vector<std::shared_ptr<ClientInfo>> ordered; // guarded by lock, in connection order
    // guarded by lock: the sessions of each id, earliest first
    std::unordered_map<std::string, std::vector<std::shared_ptr<ClientInfo>>> byId;
    SessionClock clock; // guarded by lock
};

SessionList& Sessions()
{
    static SessionList list;
    return list;
}

std::chrono::steady_clock::time_point Now(SessionList& list)
{
    std::lock_guard guard(list.lock);
    return list.clock ? list.clock() : std::chrono::steady_clock::now();
}

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

// Takes the forgotten sessions, and the overflow beyond kMaxSessions, out of the list;
// the caller releases them unlocked.
std::vector<std::shared_ptr<ClientInfo>> TakeForgotten(
    SessionList& list, std::chrono::steady_clock::time_point now)
{
    std::vector<std::shared_ptr<ClientInfo>> taken;
    std::lock_guard guard(list.lock);
    std::vector<bool> forgotten(list.ordered.size());
    for (size_t i = 0; i < list.ordered.size(); ++i)
        forgotten[i] = IsForgotten(*list.ordered[i], now);
    std::vector<bool> marked = MarkOverflow(list.ordered, forgotten);
    std::vector<std::shared_ptr<ClientInfo>> kept;
    kept.reserve(list.ordered.size());
    for (size_t i = 0; i < list.ordered.size(); ++i)
        (marked[i] ? taken : kept).push_back(std::move(list.ordered[i]));
    list.ordered.swap(kept);
    for (const std::shared_ptr<ClientInfo>& session : taken) {
        auto found = list.byId.find(session->szClientID);
        if (found == list.byId.end())
            continue;
        std::erase(found->second, session);
        if (found->second.empty())
            list.byId.erase(found);
    }
    return taken;
}

void Release(ClientInfo& session)
{
    session.MarkReleased();
    // A seek still waiting for its turn is let go rather than left hanging.
    session.hSeekEvent->Set();
    session.StopENC();
    session.ReleaseSubtitleEntries();
}

} // namespace

void SetSessionClock(SessionClock clock)
{
    SessionList& list = Sessions();
    std::lock_guard guard(list.lock);
    list.clock = std::move(clock);
}

size_t ReleaseIdleSessions()
{
    SessionList& list = Sessions();
    std::vector<std::shared_ptr<ClientInfo>> taken = TakeForgotten(list, Now(list));
    for (const std::shared_ptr<ClientInfo>& session : taken) {
        TraceMessage(kTraceProgress, "Release idle session ('%s')", session->szClientID.c_str());
        Release(*session);
        // Another session may carry the same id; its host stays.
        if (!QZ_FindClientInfo(session->szClientID))
            ForgetClientHost(session->szClientID);
    }
    return taken.size();
}

std::shared_ptr<ClientInfo> QZ_AddClientInfo(const std::string& clientId)
{
    ReleaseIdleSessions();
    auto session = std::make_shared<ClientInfo>(clientId);
    SessionList& list = Sessions();
    session->Touch(Now(list));
    {
        std::lock_guard guard(list.lock);
        list.ordered.push_back(session);
        list.byId[clientId].push_back(session);
    }
    TraceMessage(kTraceProgress, "QZ_AddClientInfo ('%s')", session->Dump().c_str());
    return session;
}

std::shared_ptr<ClientInfo> QZ_FindClientInfo(const std::string& clientId)
{
    SessionList& list = Sessions();
    std::shared_ptr<ClientInfo> session;
    {
        std::lock_guard guard(list.lock);
        auto found = list.byId.find(clientId);
        if (found == list.byId.end() || found->second.empty())
            return nullptr;
        session = found->second.front();
    }
    session->Touch(Now(list));
    return session;
}

int QZ_IsClientInfo(const std::string& clientId)
{
    return QZ_FindClientInfo(clientId) ? 1 : 0;
}

std::shared_ptr<ClientInfo> QZ_FindClientInfoByNoticeKey(uint64_t key)
{
    SessionList& list = Sessions();
    std::lock_guard guard(list.lock);
    for (const std::shared_ptr<ClientInfo>& session : list.ordered) {
        if (session->NoticeKey() == key)
            return session;
    }
    return nullptr;
}

void QZ_EditClientInfo(const std::string& clientId, const std::string& path,
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

unsigned LiveClientLimit()
{
    return static_cast<unsigned>(ReadSettingInt(kKeyMaxLiveClient, kDefaultMaxLiveClient));
}

} // namespace

int QZ_IsLiveClientRoom()
{
    return CountEncSessions() < LiveClientLimit() ? 1 : 0;
}

int QZ_IsLiveClientRoomFor(ClientInfo& session)
{
    size_t running = CountEncSessions();
    if (session.nEnginePID != 0 && running > 0)
        --running;
    return running < LiveClientLimit() ? 1 : 0;
}

void QZ_FreeClientInfoList()
{
    std::vector<std::shared_ptr<ClientInfo>> sessions;
    {
        SessionList& list = Sessions();
        std::lock_guard guard(list.lock);
        sessions.swap(list.ordered);
        list.byId.clear();
    }
    StopSessionWatcher();
    for (const std::shared_ptr<ClientInfo>& session : sessions)
        Release(*session);
}

std::vector<std::shared_ptr<ClientInfo>> GetClientInfoList()
{
    SessionList& list = Sessions();
    std::lock_guard guard(list.lock);
    return list.ordered;
}
