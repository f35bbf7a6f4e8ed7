#pragma once

// Media properties read ahead of need: the browser's listings answer at once with what
// the cache knows and hand the other videos here; one background round reads them one
// after the other (each read bounded, in its helper process, and kept in the cache), so
// the next look at the listing finds them. The queue is bounded: what does not fit is
// handed in again by a later listing.
//
// Threads: Queue from any thread; the reads run on the job's thread. m_lock guards the
// queue only, never a read.

#include "platform/background_job.h"

#include <deque>
#include <mutex>
#include <string>
#include <unordered_set>

class MediaPropertiesReader;

inline constexpr size_t kMaxPrefetchQueue = 4096;

class MediaPrefetch {
public:
    explicit MediaPrefetch(MediaPropertiesReader& media);
    ~MediaPrefetch(); // Stop
    MediaPrefetch(const MediaPrefetch&) = delete;
    MediaPrefetch& operator=(const MediaPrefetch&) = delete;

    // Queues a read of the file; true when it is queued (now or already), false when
    // the queue is full or stopped.
    bool Queue(const std::string& path);
    // Waits until every queued read is done (tests); false after Stop.
    bool WaitIdle() { return m_job.WaitIdle(); }
    void Stop();

private:
    void Round(const std::atomic<bool>& stopping);

    MediaPropertiesReader& m_media;
    std::mutex m_lock;
    // --- guarded by m_lock
    std::deque<std::string> m_queue;
    std::unordered_set<std::string> m_queued; // in m_queue or being read
    bool m_stopped = false;
    // ---
    BackgroundJob m_job; // last: its thread ends before the rest goes
};
