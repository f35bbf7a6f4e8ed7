#include "conversion/convert_queue.h"

#include "config/app_messages.h"
#include "config/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kFileRetries = 10;
constexpr auto kFileRetryPause = std::chrono::milliseconds(20);

bool RenameConvertOutput(const std::string& from, const std::string& to)
{
    for (int attempt = 0; attempt < kFileRetries; ++attempt) {
        TraceMessage(kTraceProgress, ">> File Renamed('%s')", to.c_str());
        if (std::rename(from.c_str(), to.c_str()) == 0)
            return true;
        std::this_thread::sleep_for(kFileRetryPause);
    }
    return false;
}

} // namespace

bool DeleteConvertOutput(const std::string& path)
{
    for (int attempt = 0; attempt < kFileRetries; ++attempt) {
        TraceMessage(kTraceProgress, "try temp File Delete('%s')", path.c_str());
        if (::unlink(path.c_str()) == 0 || errno == ENOENT)
            return true;
        std::this_thread::sleep_for(kFileRetryPause);
    }
    return false;
}

void PostConversionNotice(veneta::MessageId notice, const ConvertInfo_t& job)
{
    veneta::CPXFrameMSG::Post(
        veneta::kFrameConversionWindow, notice, 0, static_cast<veneta::LParam>(job.nNoticeKey));
}

CConvertQueue::CConvertQueue(ConvertQueueTiming timing)
    : m_timing(timing)
{
}

CConvertQueue::~CConvertQueue()
{
    Stop();
}

void CConvertQueue::Start()
{
    std::lock_guard threads(m_threadLock);
    if (m_registered)
        return;
    {
        std::lock_guard lock(m_queueLock);
        m_stopping = false;
    }
    veneta::CPXFrameMSG::SetTarget(veneta::kFrameConversionList, this, &m_loop);
    m_registered = true;
    m_worker = std::thread([this] { WorkerThread(); });
}

void CConvertQueue::Stop()
{
    std::lock_guard threads(m_threadLock);
    {
        std::lock_guard lock(m_queueLock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    if (m_registered) {
        veneta::CPXFrameMSG::ClearTarget(veneta::kFrameConversionList, this);
        m_registered = false;
    }
    std::vector<ConvertJobPtr> jobs;
    {
        std::lock_guard lock(m_queueLock);
        jobs.swap(m_jobs);
        m_current.reset();
    }
    for (const ConvertJobPtr& job : jobs) {
        job->MarkRemoved();
        job->StopENC();
        if (job->bOwnsTemp.exchange(false))
            DeleteConvertOutput(job->strOutputPath);
    }
}

std::vector<ConvertJobPtr> CConvertQueue::Jobs() const
{
    std::lock_guard lock(m_queueLock);
    return m_jobs;
}

veneta::LResult CConvertQueue::OnMessage(
    veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam)
{
    switch (message) {
    case WM_APP_QUEUE_COUNT:
        if (auto* count = reinterpret_cast<int*>(lParam)) {
            std::lock_guard lock(m_queueLock);
            *count = static_cast<int>(m_jobs.size());
        }
        return 0;
    case WM_APP_QUEUE_JOB_AT:
        if (auto* out = reinterpret_cast<ConvertJobPtr*>(lParam)) {
            std::lock_guard lock(m_queueLock);
            *out = wParam < m_jobs.size() ? m_jobs[wParam] : nullptr;
        }
        return 0;
    case WM_APP_QUEUE_PROGRESS:
        if (auto* id = reinterpret_cast<const std::string*>(lParam))
            ReportProgress(static_cast<int>(static_cast<intptr_t>(wParam)), *id);
        return 0;
    case WM_APP_QUEUE_ADD: {
        auto* job = reinterpret_cast<ConvertJobPtr*>(lParam);
        if (!job || !*job)
            return 1;
        return AddJob(*job, wParam != kQueueAddKeepSameName) ? 0 : 1;
    }
    case WM_APP_QUEUE_CLEAR:
        MarkJobs(wParam == 1);
        return 0;
    case WM_APP_ENC_COMPLETE:
        OnConversionCompleted(static_cast<uint64_t>(lParam));
        return 0;
    case WM_APP_ENC_ERROR:
        OnConversionError(static_cast<uint64_t>(lParam));
        return 0;
    default:
        return 0;
    }
}

bool CConvertQueue::AddJob(ConvertJobPtr job, bool replaceSameName)
{
    const std::string name = ConvertFileName(job->strSourcePath);
    {
        std::lock_guard lock(m_queueLock);
        if (m_stopping)
            return false; // the queue stops: nothing more is taken
        for (auto it = m_jobs.begin(); replaceSameName && it != m_jobs.end(); ++it) {
            ConvertInfo_t& queued = **it;
            if (queued.nState == kConvertRemoved || ConvertFileName(queued.strSourcePath) != name)
                continue;
            // A job with an engine (or one the worker is starting) is cancelled, so the
            // worker stops that engine and deletes its file; any other leaves at once.
            if (*it == m_current || queued.bOwnsTemp || queued.nState == kConvertConverting)
                queued.MarkRemoved();
            else
                m_jobs.erase(it);
            break;
        }
        m_jobs.push_back(job);
    }
    m_wake.notify_all();
    PostConversionNotice(WM_APP_CONVERSION_ADDED, *job);
    return true;
}

void CConvertQueue::ReportProgress(int percent, const std::string& convertId)
{
    TraceMessage(
        kTraceProgress, "<< Encoding Progress : ID:'%s', %d%%)", convertId.c_str(), percent);
    ConvertJobPtr job;
    {
        std::lock_guard lock(m_queueLock);
        for (const ConvertJobPtr& queued : m_jobs) {
            if (queued->strConvertID == convertId) {
                job = queued;
                break;
            }
        }
    }
    if (!job)
        return;
    if (percent == 100) {
        job->RaiseProgress(100);
        job->MarkComplete();
        TraceMessage(kTraceProgress, ">> Encoding COMPLETE: '%s'", job->strSourcePath.c_str());
    } else if (percent >= 0 && percent < 100) {
        job->RaiseProgress(percent);
        TraceMessage(kTraceProgress, ">> Encoding Progress : '%d' %% <=Index(%d)", percent, 0);
    } else if (percent == kConvertProgressCancelled) {
        job->MarkRemoved();
        TraceMessage(kTraceProgress, ">> Encoding CANCELED: '%s'", job->strSourcePath.c_str());
    } else {
        job->MarkFailed();
        TraceMessage(kTraceProgress, ">> Encoding FAILED: '%s'", job->strSourcePath.c_str());
    }
    PostConversionNotice(WM_APP_CONVERSION_PROGRESS, *job);
}

void CConvertQueue::MarkJobs(bool all)
{
    {
        std::lock_guard lock(m_queueLock);
        for (const ConvertJobPtr& job : m_jobs) {
            const int state = job->nState;
            if (all || state == kConvertComplete || state == kConvertFailed)
                job->MarkRemoved();
        }
    }
    m_wake.notify_all();
}

ConvertJobPtr CConvertQueue::FindByKey(uint64_t key) const
{
    std::lock_guard lock(m_queueLock);
    for (const ConvertJobPtr& job : m_jobs) {
        if (job->nNoticeKey == key)
            return job;
    }
    return nullptr;
}

void CConvertQueue::OnConversionCompleted(uint64_t key)
{
    ConvertJobPtr job = FindByKey(key);
    if (!job || !job->MarkComplete())
        return; // gone, cancelled or failed meanwhile: its clean-up is elsewhere
    job->RaiseProgress(100);
    job->StopENC();
    if (job->bOwnsTemp.exchange(false)) {
        if (!RenameConvertOutput(job->strOutputPath, job->FinalOutputPath())) {
            job->nState = kConvertFailed;
            DeleteConvertOutput(job->strOutputPath);
        }
    }
    TraceMessage(kTraceWindow, "CConversionViewDialog::OnConversionCompleted (index:%d)", 0);
    PostConversionNotice(WM_APP_CONVERSION_STATE, *job);
}

void CConvertQueue::OnConversionError(uint64_t key)
{
    ConvertJobPtr job = FindByKey(key);
    if (!job || !job->MarkFailed())
        return;
    job->StopENC();
    if (job->bOwnsTemp.exchange(false))
        DeleteConvertOutput(job->strOutputPath);
    TraceMessage(kTraceWindow, "CConversionViewDialog::OnConversionError (index:%d)", 0);
    PostConversionNotice(WM_APP_CONVERSION_STATE, *job);
}
