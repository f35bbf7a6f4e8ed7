#include "streaming/client_info.h"

#include "platform/places.h"

#include <cstdio>

void SubtitleInfo_t::SetSubtitleEntries(std::vector<SubtitleEntry> entries)
{
    std::lock_guard guard(m_subtitleLock);
    m_entries = std::move(entries);
}

std::vector<SubtitleEntry> SubtitleInfo_t::SubtitleEntries() const
{
    std::lock_guard guard(m_subtitleLock);
    return m_entries;
}

size_t SubtitleInfo_t::SubtitleCount() const
{
    std::lock_guard guard(m_subtitleLock);
    return m_entries.size();
}

void SubtitleInfo_t::ReleaseSubtitleEntries()
{
    std::lock_guard guard(m_subtitleLock);
    m_entries.clear();
    m_entries.shrink_to_fit();
}

std::string CommonInfo_t::ReadText(const std::string& field) const
{
    std::lock_guard guard(m_textLock);
    return field;
}

void CommonInfo_t::WriteText(std::string& field, std::string value)
{
    std::lock_guard guard(m_textLock);
    field = std::move(value);
}

ClientInfo::ClientInfo(std::string clientId, std::shared_ptr<ProcessSpawner> spawner)
    : szClientID(std::move(clientId))
    , m_engine(szClientID, std::move(spawner), nEnginePID)
{
}

ClientInfo::~ClientInfo()
{
    // The engine stops itself with the session; the watcher holds no reference.
}

void ClientInfo::WatchStarted(int pid)
{
    if (pid != 0)
        WatchSessionEngine(std::weak_ptr<WatchedSession>(weak_from_this().lock()), pid);
}

int ClientInfo::StartENC(const std::vector<std::string>& arguments)
{
    int pid = 0;
    int started = m_engine.Start(arguments, pid);
    WatchStarted(pid);
    return started;
}

LiveStart ClientInfo::RestartENC(
    const SessionEngine::LineBuilder& build, std::vector<std::string>& arguments)
{
    int pid = 0;
    LiveStart started = m_engine.Restart(build, arguments, pid);
    WatchStarted(pid);
    return started;
}

int ClientInfo::StopENC()
{
    m_engine.Stop();
    return 1;
}

bool ClientInfo::EngineRunsAs(int pid)
{
    return Encoder().IsENCRunning() && Encoder().GetEngineProcessId() == pid;
}

int ClientInfo::EngineProgress()
{
    return EngineProgressPercent(Status().PositionSeconds(), Status().TotalMs());
}

void ClientInfo::ResetPlayState()
{
    nMaxTSNum = -1;
    nBandwidth = -1;
    nLastBandwidth = -1;
    nLastMadeTSNum = 0;
    nLastReqTSNum = 0;
    nIsPlay = 0;
    nIsPrepareSeeking = 0;
    nLastSeeking = 0;
    bCancelSeeking = 0;
    nSubtitleIndex = 0;
    ReleaseSubtitleEntries();
}

std::string ClientInfo::Dump() const
{
    char numbers[256];
    std::snprintf(numbers, sizeof(numbers),
        "', nMaxTSNum:%d, nLastMadeTSNum:%d, nLastReqTSNum:%d, nIsPlay:%d, nIsPrepareSeeking:%d, "
        "nLastSeeking:%d, bCancelSeeking:%d",
        nMaxTSNum.load(), nLastMadeTSNum.load(), nLastReqTSNum.load(), nIsPlay.load(),
        nIsPrepareSeeking.load(), nLastSeeking.load(), bCancelSeeking.load());
    return "szClientID:'" + szClientID + numbers;
}

std::string GetSessionWorkFolder(const std::string& clientId)
{
    return GetServicesFolder() + "/" + clientId;
}
