// The thumbnail kick-off of ThumbnailService (see thumbnail.h): the jobs a listing of
// each share's folder would queue go to the pool at once, so the first listings find
// their pictures made.

#include "config/trace.h"
#include "library/thumbnail.h"

#include <system_error>

void ThumbnailService::RunKickOff()
{
    for (;;) {
        try {
            std::vector<ThumbInfo> jobs
                = m_collectShareJobs ? m_collectShareJobs() : std::vector<ThumbInfo>();
            TraceMessage(kTraceProgress, "Thumbnail kick-off : %zu new thumbnails", jobs.size());
            if (QZ_AddThumbnailJobs(std::move(jobs)) > 0)
                QZ_StartThumbnailThreads();
        } catch (...) {
            TraceMessage(kTraceProgress, "Thumbnail kick-off : failed");
        }
        std::lock_guard hold(m_kickOffLock);
        if (!m_kickOffAgain || m_shutDown) {
            m_kickOffRunning = false;
            return;
        }
        m_kickOffAgain = false;
    }
}

void ThumbnailService::QZ_StartShareThumbnails()
{
    std::thread finished;
    {
        std::lock_guard hold(m_kickOffLock);
        if (m_shutDown)
            return;
        if (m_kickOffRunning) {
            m_kickOffAgain = true;
            return;
        }
        finished = std::move(m_kickOff);
        try {
            m_kickOff = std::thread([this] { RunKickOff(); });
            m_kickOffRunning = true;
        } catch (const std::system_error&) {
            TraceMessage(kTraceProgress, "Thumbnail kick-off : no thread");
        }
    }
    if (finished.joinable())
        finished.join(); // it has left RunKickOff already
}

bool ThumbnailService::IsShareThumbnailKickOffRunning() const
{
    std::lock_guard hold(m_kickOffLock);
    return m_kickOffRunning;
}

bool ThumbnailService::ReapShareThumbnailKickOff()
{
    std::thread finished;
    {
        std::lock_guard hold(m_kickOffLock);
        if (m_kickOffRunning)
            return false;
        finished = std::move(m_kickOff);
    }
    if (finished.joinable())
        finished.join();
    return true;
}

void ThumbnailService::Shutdown()
{
    std::thread kickOff;
    {
        std::lock_guard hold(m_kickOffLock);
        m_shutDown = true;
        kickOff = std::move(m_kickOff);
    }
    // Dropping the queue lets a kick-off that waits for its round return soon.
    m_pool.Stop(std::chrono::milliseconds(0));
    if (kickOff.joinable())
        kickOff.join();
}
