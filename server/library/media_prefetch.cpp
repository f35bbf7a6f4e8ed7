#include "library/media_prefetch.h"

#include "library/media_properties.h"

MediaPrefetch::MediaPrefetch(MediaPropertiesReader& media)
    : m_media(media)
    , m_job([this](const std::atomic<bool>& stopping) { Round(stopping); })
{
}

MediaPrefetch::~MediaPrefetch()
{
    Stop();
}

bool MediaPrefetch::Queue(const std::string& path)
{
    {
        std::lock_guard guard(m_lock);
        if (m_stopped)
            return false;
        if (m_queued.count(path))
            return true;
        if (m_queue.size() >= kMaxPrefetchQueue)
            return false;
        m_queue.push_back(path);
        m_queued.insert(path);
    }
    return m_job.Request();
}

void MediaPrefetch::Stop()
{
    {
        std::lock_guard guard(m_lock);
        m_stopped = true;
        m_queue.clear();
        m_queued.clear();
    }
    m_job.Stop();
}

void MediaPrefetch::Round(const std::atomic<bool>& stopping)
{
    while (!stopping) {
        std::string path;
        {
            std::lock_guard guard(m_lock);
            if (m_queue.empty())
                return;
            path = std::move(m_queue.front());
            m_queue.pop_front();
        }
        MediaProperties properties;
        m_media.ReadMediaProperties(path, properties);
        std::lock_guard guard(m_lock);
        m_queued.erase(path);
    }
}
