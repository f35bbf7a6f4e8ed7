#pragma once

// What is inside a media file, as MediaInfo reports it. MediaInfo parses hostile
// bytes, and some damaged files make it spin for ever (an MP4 edit list that claims
// four billion entries is enough); a thread stuck in it could never be stopped. So
// every read runs in a reader helper process (media_reader_process.h): the helper
// opens the file and sends the values back. The caller waits a bounded time; a
// helper that crashes or overruns is killed and the file counts as unreadable. The
// server process itself never runs MediaInfo code.

#include "library/media_reader_process.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct MediaProperties {
    int64_t fileSize = 0; // general "FileSize", bytes
    int64_t durationMs = 0; // general "Duration"
    std::string codecId; // general "CodecID", else video "CodecID"
    double frameRate = 0; // video "FrameRate"
    int width = 0; // video "Width"
    int height = 0; // video "Height"
    std::string videoFormat; // video "Format" ("AVC" for H.264)
    std::string audioId; // audio "ID": empty when there is no audio
    std::string audioFormat; // audio "Format" ("AAC", "AC-3", ...)
    std::string videoProfile; // video "Format_Profile" ("High", or "High@L4.1")
    std::string videoLevel; // video "Format_Level" ("4.1"; empty when in the profile)
    int rotation = 0; // video "Rotation": degrees to turn clockwise to show it upright
};

// H.264 video with AAC audio or none: a file a phone may play without transcoding.
bool IsDirectPlayableMedia(const MediaProperties& properties);

// "%02d:%02d:%02d" of hours, minutes and seconds of a duration in milliseconds.
std::string FormatPlayTime(int64_t durationMs);

// Leading-digits parsing: blanks, an optional sign, digits; anything else stops it.
// Empty or non-numeric text gives 0; values beyond the type are clamped.
int64_t ParseLeadingInteger(const std::string& text);

enum class MediaReadResult {
    Read,
    CannotOpen, // no module, not a regular file, or MediaInfo cannot open it
    ReaderFailed, // the reader crashed or ran out of time
};

class MediaPropertiesCache;

// The media reads of one server: its pool of reader helpers, its cache in the data
// folder, and the bound of one read.
//
// Threads: any number of readers at once; the pool and the cache order their own
// work, m_lock guards only the cache pointer and the module name.
class MediaPropertiesReader {
public:
    // helperProgram: the reader helper's path; cacheFile: the SQLite cache (empty:
    // no caching).
    MediaPropertiesReader(std::string helperProgram, const std::string& cacheFile);
    ~MediaPropertiesReader();
    MediaPropertiesReader(const MediaPropertiesReader&) = delete;
    MediaPropertiesReader& operator=(const MediaPropertiesReader&) = delete;

    // True when MediaInfo opened the file and the values were read; false when the
    // module is missing, the path is not a regular file, MediaInfo cannot open it, or
    // the reader crashed or ran out of time (out is then left at its defaults).
    bool ReadMediaProperties(const std::string& path, MediaProperties& out);
    MediaReadResult ReadMediaPropertiesResult(const std::string& path, MediaProperties& out);

    // Form used for live sessions: codec id, frame rate and picture size of a file.
    // Returns 1 on success, 0 when the file cannot be opened.
    int GetMovieProperty(
        const std::string& path, std::string& codecId, double& frameRate, int& width, int& height);
    // Form used for conversion jobs: as above, and the general duration in
    // milliseconds goes into the job's duration field.
    int GetMovieProperty(std::string& codecId, double& frameRate, const std::string& path,
        int& jobDurationMs, int& width, int& height);

    // How long one read may take before its helper is killed (default 15 s).
    void SetMediaReadTimeout(std::chrono::milliseconds timeout);
    // Another MediaInfo module name for the helpers (tests: a missing one shows the
    // behaviour without the module).
    void SetLibraryName(const std::string& name);
    // The cache in another file; an empty name turns caching off.
    void SetCacheFile(const std::string& databaseFile);
    std::shared_ptr<MediaPropertiesCache> Cache() const;
    // The server goes: reads under way end at once, later ones find nothing.
    void Shutdown() { m_pool.Shutdown(); }

private:
    MediaReadResult ReadWithHelper(const std::string& path, MediaProperties& out);
    bool IsModuleThere();

    const std::string m_helperProgram;
    std::atomic<int64_t> m_timeoutMs { 15000 };
    MediaReaderPool m_pool;

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::shared_ptr<MediaPropertiesCache> m_cache;
    std::string m_libraryName;
    bool m_moduleThere = false; // the module was found once; it stays loaded
};
