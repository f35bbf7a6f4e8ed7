#include "conversion/convert_info.h"

#include "config/settings.h"
#include "config/trace.h"
#include "conversion/conversion_context.h"
#include "protocol/engine_messages.h"
#include "streaming/convert_command.h"

#include <cstdio>
#include <mutex>
#include <utility>

ConvertInfo_t::ConvertInfo_t(ConversionContext& server)
    : m_Encoder(server.Launch())
    , m_server(server)
{
}

void ConvertInfo_t::PostNotice(EngineNotice notice)
{
    std::weak_ptr<ConvertInfo_t> job = weak_from_this();
    CConvertQueue& queue = m_server.ConvertQueue();
    m_server.Notices().Post([job, notice, &queue] {
        if (std::shared_ptr<ConvertInfo_t> alive = job.lock()) {
            if (notice == EngineNotice::Complete)
                queue.OnConversionCompleted(alive);
            else
                queue.OnConversionError(alive);
        }
    });
}

ConvertInfo_t::~ConvertInfo_t()
{
    StopENC();
}

std::string ConvertInfo_t::FinalOutputPath() const
{
    {
        std::lock_guard lock(m_finishedLock);
        if (!m_finishedPath.empty())
            return m_finishedPath;
    }
    return GetFolderOf(strOutputPath) + "/" + GetFileTitleOf(strOutputPath) + ".m4v";
}

void ConvertInfo_t::SetFinishedPath(std::string path)
{
    std::lock_guard lock(m_finishedLock);
    m_finishedPath = std::move(path);
}

void ConvertInfo_t::setConvertOptions(int device, int option)
{
    int base = 1200;
    if (device == 1) {
        nWidth = 960;
        nHeight = 480;
        base = 1500;
    } else if (device == 2) {
        nWidth = 1024;
        nHeight = 768;
        base = 2000;
    } else {
        nWidth = 480;
        nHeight = 320;
    }
    if (option == 0)
        nBitrate = static_cast<int>(base * 0.5);
    else if (option == 2)
        nBitrate = base;
    else
        nBitrate = static_cast<int>(base * static_cast<double>(0.7f)); // 1399, not 1400
    TraceMessage(kTraceProgress, "setConvertOptions : Res: %ux%u BitRate: %u", unsigned(nWidth),
        unsigned(nHeight), unsigned(nBitrate));
}

int ConvertInfo_t::StartENC()
{
    TraceMessage(kTraceProgress, "CConvertInfo::StarENC()");
    // The one worker starts a job's engine, with no lock held.
    if (m_Encoder.IsENCRunning()) {
        TraceMessage(kTraceConvertTwice, " - FAILED: ConvertInfo_t Already run??????????");
        return 0;
    }
    m_Encoder.QuitEncoding(); // whatever the last run left
    m_EngineStatus.Clear();
    m_Encoder.SetNotifyTarget([this](EngineNotice notice, uint32_t value) {
        if (notice == EngineNotice::Error && value == EngineMessage::kErrorCodeDiskFull)
            TraceMessage(kTraceStreamFailure,
                "conversion of '%s' failed: the disk is full (ENOSPC)", strSourcePath.c_str());
        PostNotice(notice);
    });
    m_Encoder.SetStatusTarget(&m_EngineStatus);
    int pipeNumber = m_Encoder.CreateEnginePipe();
    if (pipeNumber == -1) {
        TraceMessage(kTraceStreamFailure, " - FAILED: ConvertInfo_t cannot create Pipe");
        return 0;
    }
    ConvertCommandJob line { strSourcePath, strLocalSource, strOutputPath, nBitrate, 0, {} };
    std::vector<std::string> arguments = QZ_MakeConvertCmd(m_server, line, pipeNumber);
    nDuration = line.durationMs;
    DropSubtitleScript(line.subtitleScript);
    if (arguments.empty() || !m_Encoder.RunQZEncEngine(arguments)) {
        m_Encoder.QuitEncoding();
        TraceMessage(kTraceStreamFailure, " - FAILED: ConvertInfo_t cannot RunQZEncEngine");
        return 0;
    }
    int pid = m_Encoder.GetEngineProcessId();
    if (!m_Encoder.StartEncoding()) {
        int error = errno;
        m_Encoder.QuitEncoding();
        TraceMessage(kTraceStreamFailure,
            "ConvertInfo::StartENC : m_Encoder.StartEncoding() Fail: (%u)!!!", unsigned(error));
        return 0;
    }
    bOwnsTemp = true;
    MarkConverting();
    TraceMessage(
        kTraceProgress, "ConvertInfo::StartENC : Result:%u Process:%u ", 1u, unsigned(pid));
    return 1;
}

int ConvertInfo_t::StopENC()
{
    const int pid = m_Encoder.GetEngineProcessId();
    if (m_Encoder.IsENCRunning()) {
        // QuitEncoding asks the engine to end, waits and kills it when it does not, so
        // it is gone when this returns.
        if (!m_Encoder.QuitEncoding()) {
            m_Encoder.TerminateEngine();
            TraceMessage(kTraceEngineLifetime, " - TeminateEngine");
        }
    } else {
        m_Encoder.QuitEncoding(); // closes the channel of an engine that has ended
    }
    TraceMessage(kTraceEngineLifetime, " - ConvertInfo::StopENC(PID:%d)", pid);
    DropSubtitleScript({});
    return 1;
}

void ConvertInfo_t::DropSubtitleScript(std::string next)
{
    std::string old;
    {
        std::lock_guard lock(m_scriptLock);
        old = std::exchange(m_subtitleScript, std::move(next));
    }
    if (!old.empty())
        std::remove(old.c_str());
}

bool ConvertInfo_t::MarkConverting()
{
    int expected = kConvertWaiting;
    return nState.compare_exchange_strong(expected, kConvertConverting);
}

bool ConvertInfo_t::MarkComplete()
{
    int state = nState;
    while (state == kConvertWaiting || state == kConvertConverting) {
        if (nState.compare_exchange_weak(state, kConvertComplete))
            return true;
    }
    return false;
}

bool ConvertInfo_t::MarkFailed()
{
    int state = nState;
    while (state == kConvertWaiting || state == kConvertConverting) {
        if (nState.compare_exchange_weak(state, kConvertFailed))
            return true;
    }
    return false;
}

void ConvertInfo_t::RaiseProgress(int percent)
{
    int current = nProgress;
    while (percent > current && !nProgress.compare_exchange_weak(current, percent)) { }
}

std::string MakeConvertTempPath(const std::string& localSource)
{
    size_t slash = localSource.rfind('/');
    size_t dot = localSource.rfind('.');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? localSource.substr(0, dot) : localSource) + kConvertTempSuffix;
}

std::string ConvertFileName(const std::string& path)
{
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}
