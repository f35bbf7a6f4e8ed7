#pragma once

// Thumbnails of the videos in the shares. A picture is made once: the encoder
// engine decodes a frame of the video and hands its pixels back; the frame is
// stretched to the wanted size and stored as a JPEG file in the services folder,
// in a tree that mirrors the shares ("Movies/Kids/a.avi_s.jpg"), where every later
// request finds it. A failed picture leaves no file, so the next request tries
// again. Pictures are made on demand ("/getThumbnail") and in the background by
// the worker pool (thumbnail_pool.h) that listings and server start feed.

#include "library/engine_slots.h"
#include "library/thumbnail_pool.h"
#include "platform/background_job.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One frame as the engine sends it: the 48-byte bitmap header and the pixel rows.
struct EngineFrame {
    std::vector<uint8_t> header;
    std::vector<uint8_t> pixels;
};

enum class FrameResult {
    Image, // frame filled
    NoImage, // the engine ran but could not give a picture of this file
    EngineFailed, // no engine could be started or reached
};

// Where frames come from: the encoder engine in the server, something else in tests.
using FrameSource = std::function<FrameResult(const std::string& mediaPath, EngineFrame& frame)>;

// Widths below this give the small thumbnail ("_s.jpg"), others the large ("_l.jpg").
inline constexpr int kLargeThumbnailWidth = 101;
// The size listings ask for.
inline constexpr const char* kListThumbnailWidth = "64";
inline constexpr const char* kListThumbnailHeight = "50";

// servicesFolder + '/' + name + "_s.jpg" or "_l.jpg" by the width.
std::string ThumbnailFilePath(
    const std::string& servicesFolder, const std::string& name, int width);

class CThumbnailMaker {
public:
    // servicesFolder is asked at every use, as the folder may change between runs;
    // made, when given, hears of each picture written.
    CThumbnailMaker(std::function<std::string()> servicesFolder, FrameSource source,
        std::function<void(const std::string& file)> made = {});

    // QZ_MakeThumbnail: the thumbnail file's path (also when the engine gave no
    // picture and nothing was written), or empty text when the request is unusable
    // or the engine or the JPEG writing failed. A stored thumbnail is returned at
    // once. name is the video's name relative to the shares ("Share/rest").
    std::string Make(const std::string& path, const std::string& width, const std::string& height,
        const std::string& playTime, const std::string& name) const;

private:
    std::function<std::string()> m_servicesFolder;
    FrameSource m_source;
    std::function<void(const std::string& file)> m_made;
};

class EngineContext;

// The encoder engine as frame source: one private engine run per picture, quit (or
// killed) before returning.
FrameSource EngineFrameSource(EngineContext& engines);

// The thumbnails of one server: the maker over its services folder, the worker pool,
// and the background kick-off that queues the pictures of every share (server start,
// a share added). The kick-off runs on one thread of its own so the caller returns at
// once; a request while it runs makes it go round once more for shares added meanwhile.
// The pictures are a bounded cache (thumbnail_cache.h): a background trim runs at
// every kick-off and whenever an eighth of the limit has been written since the last.
//
// Every picture, of the pool or of a request, runs its engine in one of `cores` slots
// (engine_slots.h), so no more engines run at once than the machine has cores.
//
// Threads: any thread; the kick-off and the trim are background jobs
// (platform/background_job.h); the count of bytes written is an atomic of its own.
class ThumbnailService {
public:
    using JobCollector = std::function<std::vector<ThumbInfo>()>;
    // The cache's limit in bytes, asked at every trim; empty or 0: no limit.
    using CacheLimit = std::function<uint64_t()>;

    // cores: how many engines may run at once (the machine's cores; tests set their own).
    ThumbnailService(std::string servicesFolder, FrameSource source, JobCollector collectShareJobs,
        CacheLimit cacheLimit = {}, unsigned cores = std::thread::hardware_concurrency());
    ~ThumbnailService(); // Shutdown
    ThumbnailService(const ThumbnailService&) = delete;
    ThumbnailService& operator=(const ThumbnailService&) = delete;

    // The thumbnail file's path; see CThumbnailMaker::Make.
    std::string QZ_MakeThumbnail(const std::string& path, const std::string& width,
        const std::string& height, const std::string& playTime, const std::string& name) const;
    // Appends jobs to the pool's queue; returns how many were new.
    size_t QZ_AddThumbnailJobs(std::vector<ThumbInfo> jobs);
    // Starts the pool when it is idle and jobs wait, then waits up to 10 seconds for
    // it; true when every job is done by then.
    bool QZ_StartThumbnailThreads();
    // Drops the waiting jobs and waits up to 10 seconds for the ones in hand (at exit).
    bool QZ_StopThumbnailThreads();

    // Starts the kick-off (and a trim of the cache) in the background and returns at once.
    void QZ_StartShareThumbnails();
    // Waits until no trim runs or is asked for (tests).
    void WaitForCacheTrim() { m_trim.WaitIdle(); }
    // True while the kick-off is still collecting or waiting for the pool.
    bool IsShareThumbnailKickOffRunning() const { return m_kickOff.IsRunning(); }
    // Joins the kick-off once it has finished; false while it still runs.
    bool ReapShareThumbnailKickOff() { return m_kickOff.Reap(); }

    // No kick-off starts any more, the queue is dropped, and the kick-off and the
    // pool's threads are joined (each waits at most for the picture in hand).
    void Shutdown();

    CThumbnailPool& Pool() { return m_pool; }
    EngineSlots& Engines() { return m_engines; }

private:
    void KickOffRound(const std::atomic<bool>& stopping);
    void PictureMade(const std::string& file);

    const std::string m_servicesFolder;
    EngineSlots m_engines; // before the maker, whose source takes its slots
    CThumbnailMaker m_maker;
    const JobCollector m_collectShareJobs;
    const CacheLimit m_cacheLimit;
    std::atomic<uint64_t> m_madeSinceTrim { 0 };
    CThumbnailPool m_pool;
    BackgroundJob m_kickOff; // after the pool: it ends before the pool goes
    BackgroundJob m_trim;
};
