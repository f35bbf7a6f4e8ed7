#pragma once

// Key frame index passes, run in the background. A first play of a file asks for its
// index and goes on at once; the pass runs the engine (`vembacast-engine -keyframes
// PATH -o OUT`) as a plain child of the server's spawner, bounded in time, and keeps
// the result in the media-properties cache under the file's path, size and
// modification time, so each version of a file is indexed once. A later play finds
// the index there and may then offer the file's direct stream.
//
// Threads: any request thread asks (Find, Request); one pass thread of the indexer
// runs the queued passes one after the other, so a folder full of films never starts
// more than one index process at a time. m_lock guards the queue and the memory of
// recent results, never a pass, a cache call or a process. Shutdown kills a pass
// under way and joins the thread.

#include "library/keyframe_index.h"
#include "library/media_properties_cache.h"
#include "platform/background_job.h"
#include "platform/process.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class KeyframeIndexer {
public:
    struct Launch {
        std::shared_ptr<ProcessSpawner> spawner;
        std::string enginePath; // the vembacast-engine program
        std::string scratchFolder; // where the engine writes its index for the pass
    };
    // The cache to keep results in (null: none, results are only remembered).
    using CacheSource = std::function<std::shared_ptr<MediaPropertiesCache>()>;

    KeyframeIndexer(Launch launch, CacheSource cache);
    ~KeyframeIndexer();
    KeyframeIndexer(const KeyframeIndexer&) = delete;
    KeyframeIndexer& operator=(const KeyframeIndexer&) = delete;

    enum class State {
        Ready, // the index is known
        NoIndex, // this version of the file has none (not a video the engine reads)
        Unknown, // not indexed yet (a pass may be queued)
    };
    struct Lookup {
        State state = State::Unknown;
        std::shared_ptr<const MediaKeyframeIndex> index; // with Ready
    };

    // What is known of the file's current version, from memory or the cache; never
    // waits for a pass.
    Lookup Find(const std::string& path);
    // Queues a pass for the file unless its index is known, or a pass for it is
    // queued or running. Returns at once.
    void Request(const std::string& path);

    // How long one pass may run before its process is killed (default 120 s); a pass
    // that runs out is not remembered, so a later play asks again.
    void SetPassTimeout(std::chrono::milliseconds timeout);
    // Called on the pass thread when a pass has ended, with its state (Unknown: it
    // failed or ran out and was not kept).
    void SetPassObserver(std::function<void(const std::string& path, State state)> observer);
    // Kills a pass under way, drops the queue and joins the pass thread; later
    // requests are ignored.
    void Shutdown();

    // The most passes waiting at once; further requests are dropped (asked again by
    // the next play).
    static constexpr size_t kMaxQueued = 256;

private:
    struct Remembered {
        std::string path;
        MediaFileStamp stamp;
        State state = State::Unknown;
        std::shared_ptr<const MediaKeyframeIndex> index;
    };
    struct PassResult {
        State state = State::Unknown;
        std::string text;
    };

    void RunPasses(const std::atomic<bool>& stopping);
    PassResult RunPass(const std::string& path, const std::atomic<bool>& stopping);
    void Keep(const std::string& path, const MediaFileStamp& stamp, State state,
        std::shared_ptr<const MediaKeyframeIndex> index);
    std::optional<Lookup> Recall(const std::string& path, const MediaFileStamp& stamp);

    const Launch m_launch;
    const CacheSource m_cache;
    std::atomic<int64_t> m_timeoutMs { 120000 };
    std::atomic<bool> m_shutDown { false };

    std::mutex m_lock;
    // --- guarded by m_lock
    std::deque<std::string> m_queue;
    std::set<std::string> m_queued; // the queue's paths and the one being indexed
    std::list<Remembered> m_recent; // newest first, bounded
    std::function<void(const std::string&, State)> m_observer;
    // ---

    BackgroundJob m_passes; // last: its thread ends before the rest goes
};
