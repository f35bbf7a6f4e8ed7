#include "streaming/session_list.h"

#include "config/settings.h"
#include "config/trace.h"
#include "library/request_paths.h"

#include <algorithm>
#include <mutex>

namespace {

struct SessionList {
    std::mutex lock;
    std::vector<std::shared_ptr<ClientInfo>> sessions; // guarded by lock, in connection order
};

SessionList& Sessions()
{
    static SessionList list;
    return list;
}

struct EncSessionList {
    std::mutex lock;
    std::vector<int> pids; // guarded by lock
};

EncSessionList& EncSessions()
{
    static EncSessionList list;
    return list;
}

} // namespace

std::shared_ptr<ClientInfo> QZ_AddClientInfo(const std::string& clientId)
{
    auto session = std::make_shared<ClientInfo>(clientId);
    session->nMaxTSNum = -1;
    session->nBandwidth = -1;
    session->hSeekEvent = std::make_shared<ManualResetEvent>(EventState::Set);
    {
        SessionList& list = Sessions();
        std::lock_guard guard(list.lock);
        list.sessions.push_back(session);
    }
    TraceMessage(kTraceProgress, "QZ_AddClientInfo ('%s')", session->Dump().c_str());
    return session;
}

std::shared_ptr<ClientInfo> QZ_FindClientInfo(const std::string& clientId)
{
    SessionList& list = Sessions();
    std::lock_guard guard(list.lock);
    for (const std::shared_ptr<ClientInfo>& session : list.sessions) {
        if (session->szClientID == clientId)
            return session;
    }
    return nullptr;
}

int QZ_IsClientInfo(const std::string& clientId)
{
    return QZ_FindClientInfo(clientId) ? 1 : 0;
}

std::shared_ptr<ClientInfo> QZ_FindClientInfoByNoticeKey(uint64_t key)
{
    SessionList& list = Sessions();
    std::lock_guard guard(list.lock);
    for (const std::shared_ptr<ClientInfo>& session : list.sessions) {
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

int QZ_IsLiveClientRoom()
{
    auto limit = static_cast<unsigned>(GetSettingInt(kSettingSection, "MaxLIveClient", 4));
    return CountEncSessions() < limit ? 1 : 0;
}

void QZ_FreeClientInfoList()
{
    std::vector<std::shared_ptr<ClientInfo>> sessions;
    {
        SessionList& list = Sessions();
        std::lock_guard guard(list.lock);
        sessions.swap(list.sessions);
    }
    for (const std::shared_ptr<ClientInfo>& session : sessions) {
        // A seek still waiting for its turn is let go rather than left hanging.
        if (session->hSeekEvent)
            session->hSeekEvent->Set();
        if (session->m_Encoder.IsENCRunning())
            session->StopENC();
        session->ReleaseSubtitleEntries();
    }
}

std::vector<std::shared_ptr<ClientInfo>> GetClientInfoList()
{
    SessionList& list = Sessions();
    std::lock_guard guard(list.lock);
    return list.sessions;
}

void AddEncSession(int pid)
{
    EncSessionList& list = EncSessions();
    std::lock_guard guard(list.lock);
    list.pids.push_back(pid);
}

bool RemoveEncSession(int pid)
{
    EncSessionList& list = EncSessions();
    std::lock_guard guard(list.lock);
    auto found = std::find(list.pids.begin(), list.pids.end(), pid);
    if (found == list.pids.end())
        return false;
    list.pids.erase(found);
    return true;
}

size_t CountEncSessions()
{
    EncSessionList& list = EncSessions();
    std::lock_guard guard(list.lock);
    return list.pids.size();
}
