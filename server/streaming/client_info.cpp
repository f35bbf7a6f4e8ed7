#include "streaming/client_info.h"

#include "config/trace.h"
#include "platform/places.h"
#include "skin/frame_msg.h"
#include "streaming/session_list.h"
#include "streaming/session_watcher.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

std::atomic<uint64_t> g_nextNoticeKey { 1 };

// The engine's process id is read this many times, 100 ms apart, before the start
// counts as failed.
constexpr int kPidReadings = 200;
constexpr auto kPidPause = std::chrono::milliseconds(100);

void PostToMainWindow(uint32_t message, uintptr_t wParam, uintptr_t lParam)
{
    veneta::CPXFrameMSG::Post(
        veneta::kFrameMainWindow, message, wParam, static_cast<veneta::LParam>(lParam));
}

} // namespace

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
    , m_Encoder(std::move(spawner))
{
    SetEngineTargets();
}

ClientInfo::~ClientInfo()
{
    StopENC();
    m_Encoder.QuitEncoding();
}

void ClientInfo::SetEngineTargets()
{
    m_noticeKey = g_nextNoticeKey++;
    m_Encoder.SetNotifyTarget(PostToMainWindow, static_cast<uintptr_t>(m_noticeKey.load()));
    m_Encoder.SetStatusTarget(&m_EngineStatus);
}

void ClientInfo::LOCK_ENC()
{
    TraceMessage(kTraceSessionLock, " - ClientInfo::LOCK_ENC (%s)", szClientID.c_str());
    csEnc.lock();
}

void ClientInfo::UNLOCK_ENC()
{
    TraceMessage(kTraceSessionLock, "ClientInfo::UNLOCK_ENC (%s)", szClientID.c_str());
    csEnc.unlock();
}

int ClientInfo::StartENC(const std::string& commandLine)
{
    if (m_Encoder.IsENCRunning()) {
        TraceMessage(kTraceEngineLifetime, " - engine is RUNNING already (%d)", nEnginePID.load());
        return 1;
    }
    LOCK_ENC();
    // Asked again under the lock: two requests may both have found no engine above.
    if (m_Encoder.IsENCRunning()) {
        TraceMessage(kTraceEngineLifetime, " - engine is RUNNING already (%d)", nEnginePID.load());
        UNLOCK_ENC();
        return 1;
    }
    SetEngineTargets();
    if (!m_Encoder.RunQZEncEngine(commandLine)) {
        int error = errno;
        m_Encoder.QuitEncoding();
        TraceMessage(kTraceStreamFailure,
            "QZ_StartFFMpeg : m_Encoder.RunQZEncEngine('%s') Fail: (%u)!!!", commandLine.c_str(),
            static_cast<unsigned>(error));
        UNLOCK_ENC();
        return 0;
    }
    // Read before the engine is told to encode: a short file may be done, and its
    // engine gone, by the time StartEncoding returns.
    int pid = m_Encoder.GetEngineProcessId();
    if (!m_Encoder.StartEncoding()) {
        int error = errno;
        m_Encoder.QuitEncoding();
        TraceMessage(kTraceStreamFailure,
            "QZ_StartFFMpeg : m_Encoder.StartEncoding() Fail: (%u)!!!",
            static_cast<unsigned>(error));
        UNLOCK_ENC();
        return 0;
    }
    TraceMessage(kTraceEngineLifetime, "ClientInfo::StartENC (%d)", ++nStartCount);
    for (int reading = 1; pid == 0 && reading < kPidReadings; ++reading) {
        std::this_thread::sleep_for(kPidPause);
        pid = m_Encoder.GetEngineProcessId();
    }
    if (pid == 0) {
        TraceMessage(kTraceStreamFailure, " - engine is TIMEOUT(ID:%d)", pid);
        UNLOCK_ENC();
        return 0;
    }
    nEnginePID = pid;
    TraceMessage(kTraceEngineLifetime, " - engine is Start( segPID:%d)", pid);
    AddEncSession(pid);
    TraceMessage(kTraceEngineLifetime, " - Add ENC session (ID:'%s', PID:%d, countENC:%zu)",
        szClientID.c_str(), pid, CountEncSessions());
    UNLOCK_ENC();
    StartSessionWatcher(weak_from_this(), pid);
    return 1;
}

int ClientInfo::StopENC()
{
    TraceMessage(kTraceEngineLifetime, "ClientInfo::StopENC (%d)", nStartCount.load());
    LOCK_ENC();
    if (m_Encoder.IsENCRunning()) {
        // QuitEncoding asks the engine to end, waits for it and kills it when it
        // does not, so the engine is gone when it returns.
        if (!m_Encoder.QuitEncoding()) {
            m_Encoder.TerminateEngine();
            TraceMessage(kTraceEngineLifetime, " - TeminateEngine");
        }
    }
    int pid = nEnginePID.exchange(0);
    if (pid != 0)
        RemoveEncSession(pid);
    --nStartCount;
    TraceMessage(kTraceEngineLifetime, " - TeminatePorcess (ID:'%s', PID:%d, countENC%zu)",
        szClientID.c_str(), 0, CountEncSessions());
    UNLOCK_ENC();
    return 1;
}

bool ClientInfo::EndEngineRun(uint64_t noticeKey)
{
    LOCK_ENC();
    bool current = m_noticeKey == noticeKey;
    if (current && (m_Encoder.IsENCRunning() || nEnginePID != 0))
        StopENC();
    UNLOCK_ENC();
    return current;
}

void ClientInfo::ForgetEndedEngine(int pid)
{
    LOCK_ENC();
    if (pid != 0 && nEnginePID == pid && !m_Encoder.IsENCRunning())
        StopENC();
    UNLOCK_ENC();
}

void ClientInfo::ResetPlayState()
{
    nMaxTSNum = -1;
    nBandwidth = -1;
    nLastBandwidth = -1;
    nLastMadeTSNum = 0;
    nLastReqTSNum = 0;
    nEnginePID = 0;
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
