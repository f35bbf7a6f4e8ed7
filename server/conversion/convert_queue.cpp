#include "conversion/convert_queue.h"

#include "config/trace.h"
#include "conversion/conversion_limits.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kFileRetries = 10;
constexpr auto kFileRetryPause = std::chrono::milliseconds(20);
constexpr int kMaxNumberedName = 1000;

// finalPath with number in the form the conversion names its outputs: "clip-vembacast
// (2).m4v"; a number the name carries already is replaced.
std::string NumberedName(const std::string& finalPath, int number)
{
    const size_t slash = finalPath.rfind('/');
    const size_t dot = finalPath.rfind('.');
    const bool hasExtension
        = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string base = hasExtension ? finalPath.substr(0, dot) : finalPath;
    const std::string extension = hasExtension ? finalPath.substr(dot) : std::string();
    const size_t open = base.rfind(" (");
    if (base.ends_with(')') && open != std::string::npos && open + 3 < base.size()
        && base.find_first_not_of("0123456789", open + 2) == base.size() - 1)
        base.erase(open);
    return base + " (" + std::to_string(number) + ")" + extension;
}

} // namespace

std::string MoveConvertOutputIntoPlace(const std::string& temporary, const std::string& finalPath)
{
    for (int attempt = 0; attempt < kFileRetries; ++attempt) {
        std::string target = finalPath;
        for (int number = 2; number <= kMaxNumberedName; ++number) {
            TraceMessage(kTraceProgress, ">> File Renamed('%s')", target.c_str());
            // Never over a file: one that took the name meanwhile (another job of the
            // same base name, a copy the user made) is somebody's.
            if (RenameNoReplace(temporary, target))
                return target;
            if (errno != EEXIST)
                break;
            target = NumberedName(finalPath, number);
        }
        if (errno == EEXIST)
            return std::string(); // every numbered name is taken
        std::this_thread::sleep_for(kFileRetryPause);
    }
    return std::string();
}

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

void CConvertQueue::SetStore(std::shared_ptr<ConvertJobStore> store)
{
    m_store = std::move(store);
}

void CConvertQueue::Restore(std::vector<ConvertJobPtr> jobs)
{
    std::lock_guard lock(m_queueLock);
    m_jobs.insert(
        m_jobs.begin(), std::make_move_iterator(jobs.begin()), std::make_move_iterator(jobs.end()));
}

void CConvertQueue::Keep(const ConvertInfo_t& job)
{
    if (m_store)
        m_store->Keep(StoredJobOf(job));
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

ConvertJobPtr CConvertQueue::InsertLocked(const ConvertJobPtr& job, bool replaceSameName)
{
    const std::string name = ConvertFileName(job->strSourcePath);
    ConvertJobPtr replaced;
    for (auto it = m_jobs.begin(); replaceSameName && it != m_jobs.end(); ++it) {
        ConvertInfo_t& queued = **it;
        if (queued.nState == kConvertRemoved || ConvertFileName(queued.strSourcePath) != name)
            continue;
        // A job with an engine (or one the worker is starting) is cancelled, so the
        // worker stops that engine and deletes its file; any other leaves at once.
        if (*it == m_current || queued.bOwnsTemp || queued.nState == kConvertConverting) {
            queued.MarkRemoved();
        } else {
            replaced = *it;
            m_jobs.erase(it);
        }
        break;
    }
    m_jobs.push_back(job);
    return replaced;
}

bool CConvertQueue::AddJob(ConvertJobPtr job, SameNameJobs sameName)
{
    if (!job)
        return false;
    ConvertJobPtr replaced;
    {
        std::lock_guard lock(m_queueLock);
        if (m_stopping)
            return false; // the queue stops: nothing more is taken
        replaced = InsertLocked(job, sameName == SameNameJobs::Replace);
    }
    if (replaced && m_store)
        m_store->Forget(replaced->strConvertID);
    Keep(*job);
    m_wake.notify_all();
    Tell(ConversionChange::Added, *job);
    return true;
}

QueueAdmission CConvertQueue::AddClientJob(ConvertJobPtr job)
{
    if (!job)
        return QueueAdmission::Stopped;
    ConvertJobPtr replaced;
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
        replaced = InsertLocked(job, true);
    }
    if (replaced && m_store)
        m_store->Forget(replaced->strConvertID);
    Keep(*job);
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
    if (percent == 100 || percent < 0)
        Keep(*job);
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
        std::string placed = MoveConvertOutputIntoPlace(job->strOutputPath, job->FinalOutputPath());
        renamed = !placed.empty();
        if (!renamed) {
            DeleteConvertOutput(job->strOutputPath);
            if (job->MarkFailed()) {
                Keep(*job);
                Tell(ConversionChange::State, *job);
            }
            return;
        }
        job->SetFinishedPath(placed);
    }
    if (!job->MarkComplete()) {
        // Cancelled or failed while its file was renamed: that wins, and the file goes.
        if (renamed)
            DeleteConvertOutput(job->FinalOutputPath());
        return;
    }
    job->RaiseProgress(100);
    Keep(*job);
    TraceMessage(kTraceWindow, "CConversionViewDialog::OnConversionCompleted (index:%d)", 0);
    Tell(ConversionChange::State, *job);
}

void CConvertQueue::OnConversionError(const ConvertJobPtr& job)
{
    if (!job || !job->MarkFailed())
        return;
    Keep(*job);
    job->StopENC();
    if (job->bOwnsTemp.exchange(false))
        DeleteConvertOutput(job->strOutputPath);
    TraceMessage(kTraceWindow, "CConversionViewDialog::OnConversionError (index:%d)", 0);
    Tell(ConversionChange::State, *job);
}
