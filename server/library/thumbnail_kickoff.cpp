// The thumbnail kick-off of ThumbnailService (see thumbnail.h): the jobs a listing of
// each share's folder would queue go to the pool at once, so the first listings find
// their pictures made.

#include "config/trace.h"
#include "library/thumbnail.h"

void ThumbnailService::KickOffRound(const std::atomic<bool>& stopping)
{
    try {
        std::vector<ThumbInfo> jobs
            = m_collectShareJobs ? m_collectShareJobs() : std::vector<ThumbInfo>();
        // The collecting may take long; a service that went meanwhile makes nothing.
        if (stopping)
            return;
        TraceMessage(kTraceProgress, "Thumbnail kick-off : %zu new thumbnails", jobs.size());
        if (QZ_AddThumbnailJobs(std::move(jobs)) > 0)
            QZ_StartThumbnailThreads();
    } catch (...) {
        TraceMessage(kTraceProgress, "Thumbnail kick-off : failed");
    }
}

void ThumbnailService::Shutdown()
{
    // Dropping the queue lets a kick-off that waits for its round return soon.
    m_pool.Stop(std::chrono::milliseconds(0));
    m_kickOff.Stop();
    m_trim.Stop();
}
