// The worker thread of the conversion queue (see convert_queue.h for the design).

#include "config/trace.h"
#include "conversion/conversion_limits.h"
#include "conversion/convert_queue.h"

#include <algorithm>

namespace {

// The job's percent from its engine's last status: position (whole ms) against the
// duration, rounded. Only the completion notice makes a job 100 % done, since the
// engine still writes the index after the last frame.
int StatusPercent(const ConvertInfo_t& job)
{
    const int duration = job.nDuration;
    if (duration <= 0)
        return 0;
    const double position = job.m_EngineStatus.PositionSeconds();
    if (!(position > 0))
        return 0;
    const auto done = static_cast<int64_t>(std::min(position * 1000.0, 1e15));
    const int64_t percent = (done * 100 + duration / 2) / duration;
    return static_cast<int>(std::clamp<int64_t>(percent, 0, 99));
}

} // namespace

void CConvertQueue::WorkerThread()
{
    for (;;) {
        RemoveMarkedJobs();
        if (ConvertJobPtr job = TakeFirstWaitingJob()) {
            RunJob(job);
            std::lock_guard lock(m_queueLock);
            m_current.reset();
        }
        if (!PauseStep())
            break;
    }
}

bool CConvertQueue::PauseStep()
{
    std::unique_lock lock(m_queueLock);
    m_wake.wait_for(lock, m_timing.step, [this] { return m_stopping; });
    return !m_stopping;
}

ConvertJobPtr CConvertQueue::TakeFirstWaitingJob()
{
    std::lock_guard lock(m_queueLock);
    if (m_stopping)
        return nullptr;
    for (const ConvertJobPtr& job : m_jobs) {
        if (job->nState == kConvertWaiting) {
            m_current = job;
            return job;
        }
    }
    return nullptr;
}

void CConvertQueue::RunJob(const ConvertJobPtr& job)
{
    // The disk may have filled while the job waited.
    const std::string& source
        = job->strSourceDisk.empty() ? job->strLocalSource : job->strSourceDisk;
    if (!source.empty() && !HasRoomToConvert(source, job->strOutputPath)) {
        TraceMessage(kTraceStreamFailure, " - not enough disk space to convert '%s'",
            job->strSourcePath.c_str());
        FailJob(job);
        return;
    }
    if (!job->StartENC()) {
        // An engine that cannot start is tried again on the next round, but not
        // forever: the job fails and the queue goes on.
        if (++job->nStartFailures >= m_timing.startAttempts)
            FailJob(job);
        return;
    }
    job->nStartFailures = 0;
    Keep(*job);
    Tell(ConversionChange::State, *job);
    TraceMessage(kTraceProgress, " - Encoder found: '%s' (%.2f Sec)-- \n",
        job->strSourcePath.c_str(), static_cast<double>(job->nDuration / 1000));
    auto endedAt = std::chrono::steady_clock::time_point();
    while (job->nState == kConvertConverting) {
        RemoveMarkedJobs();
        if (!job->m_Encoder.IsENCRunning()) {
            // The engine has ended; its notice may still be on its way. One that
            // never comes leaves the job failed, not converting for ever.
            auto now = std::chrono::steady_clock::now();
            if (endedAt == std::chrono::steady_clock::time_point())
                endedAt = now;
            else if (now - endedAt >= m_timing.noticeGrace) {
                TraceMessage(kTraceStreamFailure, " - engine ended without a notice: '%s'",
                    job->strSourcePath.c_str());
                FailJob(job);
                break;
            }
        } else {
            SendProgress(job);
        }
        if (!PauseStep())
            return; // Stop cancels the job
    }
}

void CConvertQueue::SendProgress(const ConvertJobPtr& job)
{
    ReportProgress(StatusPercent(*job), job);
}

void CConvertQueue::FailJob(const ConvertJobPtr& job)
{
    if (!job->MarkFailed())
        return;
    Keep(*job);
    job->StopENC();
    if (job->bOwnsTemp.exchange(false))
        DeleteConvertOutput(job->strOutputPath);
    Tell(ConversionChange::State, *job);
}

void CConvertQueue::RemoveMarkedJobs()
{
    std::vector<ConvertJobPtr> marked;
    {
        std::lock_guard lock(m_queueLock);
        for (const ConvertJobPtr& job : m_jobs) {
            if (job->nState == kConvertRemoved)
                marked.push_back(job);
        }
    }
    if (marked.empty())
        return;
    for (const ConvertJobPtr& job : marked) {
        job->StopENC();
        if (job->bOwnsTemp.exchange(false))
            DeleteConvertOutput(job->strOutputPath);
    }
    {
        std::lock_guard lock(m_queueLock);
        std::erase_if(m_jobs, [&](const ConvertJobPtr& job) {
            return std::find(marked.begin(), marked.end(), job) != marked.end();
        });
    }
    // Told only once they are out of the list: whoever redraws on the news reads the
    // jobs again and must not find them there.
    for (const ConvertJobPtr& job : marked) {
        if (m_store)
            m_store->Forget(job->strConvertID);
        Tell(ConversionChange::Deleted, *job);
    }
}
