#include "conversion/convert_queue.h"

#include "config/trace.h"
#include "conversion/conversion_limits.h"

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

void CConvertQueue::SetObserver(ConversionObserver observer)
{
    m_observer = std::move(observer);
}

void CConvertQueue::Tell(ConversionChange change, const ConvertInfo_t& job)
{
    if (m_observer)
        m_observer(change, job);
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
    if (m_worker.joinable())
        return;
    {
        std::lock_guard lock(m_queueLock);
        m_stopping = false;
    }
    m_worker = std::thread([this] { WorkerThread(); });
}

void CConvertQueue::Stop()
{
    std::thread worker;
    {
        std::lock_guard threads(m_threadLock);
        worker = std::move(m_worker);
    }
    {
        std::lock_guard lock(m_queueLock);
        m_stopping = true;
    }
    m_wake.notify_all();
    // Joined with no lock held: the worker may be stopping an engine.
    if (worker.joinable())
        worker.join();
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

void CConvertQueue::InsertLocked(const ConvertJobPtr& job, bool replaceSameName)
{
    const std::string name = ConvertFileName(job->strSourcePath);
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

bool CConvertQueue::AddJob(ConvertJobPtr job, SameNameJobs sameName)
{
    if (!job)
        return false;
    {
        std::lock_guard lock(m_queueLock);
        if (m_stopping)
            return false; // the queue stops: nothing more is taken
        InsertLocked(job, sameName == SameNameJobs::Replace);
    }
    m_wake.notify_all();
    Tell(ConversionChange::Added, *job);
    return true;
}

QueueAdmission CConvertQueue::AddClientJob(ConvertJobPtr job)
{
    if (!job)
        return QueueAdmission::Stopped;
    {
        std::lock_guard lock(m_queueLock);
        if (m_stopping)
            return QueueAdmission::Stopped;
        size_t waiting = 0;
        size_t ofClient = 0;
        for (const ConvertJobPtr& queued : m_jobs) {
            if (queued->nState != kConvertWaiting || queued == m_current)
                continue;
            ++waiting;
            ofClient += queued->strOwner == job->strOwner ? 1 : 0;
        }
        if (ofClient >= kMaxWaitingJobsPerClient)
            return QueueAdmission::ClientFull;
        if (waiting >= kMaxWaitingJobs)
            return QueueAdmission::QueueFull;
        InsertLocked(job, true);
    }
    m_wake.notify_all();
    Tell(ConversionChange::Added, *job);
    return QueueAdmission::Added;
}

void CConvertQueue::ReportProgress(int percent, const ConvertJobPtr& job)
{
    TraceMessage(kTraceProgress, "<< Encoding Progress : ID:'%s', %d%%)", job->strConvertID.c_str(),
        percent);
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
    Tell(ConversionChange::Progress, *job);
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

void CConvertQueue::OnConversionCompleted(const ConvertJobPtr& job)
{
    if (!job || (job->nState != kConvertWaiting && job->nState != kConvertConverting))
        return; // gone, cancelled or failed meanwhile: its clean-up is elsewhere
    job->StopENC();
    // The final name exists before the job shows complete: whoever sees it complete (a
    // client's list, the window) finds the file.
    bool renamed = false;
    if (job->bOwnsTemp.exchange(false)) {
        renamed = RenameConvertOutput(job->strOutputPath, job->FinalOutputPath());
        if (!renamed) {
            DeleteConvertOutput(job->strOutputPath);
            if (job->MarkFailed())
                Tell(ConversionChange::State, *job);
            return;
        }
    }
    if (!job->MarkComplete()) {
        // Cancelled or failed while its file was renamed: that wins, and the file goes.
        if (renamed)
            DeleteConvertOutput(job->FinalOutputPath());
        return;
    }
    job->RaiseProgress(100);
    TraceMessage(kTraceWindow, "CConversionViewDialog::OnConversionCompleted (index:%d)", 0);
    Tell(ConversionChange::State, *job);
}

void CConvertQueue::OnConversionError(const ConvertJobPtr& job)
{
    if (!job || !job->MarkFailed())
        return;
    job->StopENC();
    if (job->bOwnsTemp.exchange(false))
        DeleteConvertOutput(job->strOutputPath);
    TraceMessage(kTraceWindow, "CConversionViewDialog::OnConversionError (index:%d)", 0);
    Tell(ConversionChange::State, *job);
}
