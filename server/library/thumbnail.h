#pragma once

// Thumbnails of the videos in the shares. A picture is made once: the encoder
// engine decodes a frame of the video and hands its pixels back; the frame is
// stretched to the wanted size and stored as a JPEG file in the services folder,
// in a tree that mirrors the shares ("Movies/Kids/a.avi_s.jpg"), where every later
// request finds it. A failed picture leaves no file, so the next request tries
// again. Pictures are made on demand ("/getThumbnail") and in the background by
// the worker pool (thumbnail_pool.h) that listings and server start feed.

#include "library/thumbnail_pool.h"

#include <cstdint>
#include <functional>
#include <string>
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
    // servicesFolder is asked at every use, as the folder may change between runs.
    CThumbnailMaker(std::function<std::string()> servicesFolder, FrameSource source);

    // QZ_MakeThumbnail: the thumbnail file's path (also when the engine gave no
    // picture and nothing was written), or empty text when the request is unusable
    // or the engine or the JPEG writing failed. A stored thumbnail is returned at
    // once. name is the video's name relative to the shares ("Share/rest").
    std::string Make(const std::string& path, const std::string& width, const std::string& height,
        const std::string& playTime, const std::string& name) const;

private:
    std::function<std::string()> m_servicesFolder;
    FrameSource m_source;
};

// The encoder engine as frame source: one private engine run per picture, quit (or
// killed) before returning.
FrameSource EngineFrameSource();

// The process-wide maker (services folder of the places, the engine) and pool.
std::string QZ_MakeThumbnail(const std::string& path, const std::string& width,
    const std::string& height, const std::string& playTime, const std::string& name);
// Appends jobs to the pool's queue; returns how many were new.
size_t QZ_AddThumbnailJobs(std::vector<ThumbInfo> jobs);
// Starts the pool when it is idle and jobs wait, then waits up to 10 seconds for
// it; true when every job is done by then.
bool QZ_StartThumbnailThreads();
// Drops the waiting jobs and waits up to 10 seconds for the ones in hand (at exit).
bool QZ_StopThumbnailThreads();
