#pragma once

// What media reads and key frame index passes found, kept in an SQLite database in
// the data folder so that a listing of files already seen starts no reader helper at
// all, and a file is indexed once. An entry is keyed by the file's path, size and
// modification time: a file that changed in either is read again, and its entry
// replaced.
//
// Threads: HTTP workers, the thumbnail pool and the conversion worker use one cache
// at once, each through a connection of its own (sqlite_store.h); SQLite orders the
// writers (write-ahead log, so readers never wait for a writer).
//
// The cache is only an accelerator: a database that cannot be opened means no
// caching; one that is damaged, or deleted under the running server, is replaced
// by a fresh one. No failure here is ever seen by a caller other than as a miss.

#include "library/media_properties.h"
#include "library/sqlite_store.h"

#include <cstdint>
#include <optional>
#include <string>

// The cache's file in the data folder.
inline constexpr const char* kMediaPropertiesDatabaseName = "MediaProperties.sqlite";

// The identity of one version of a file.
struct MediaFileStamp {
    int64_t size = 0;
    int64_t modifiedNs = 0; // modification time, nanoseconds since the epoch

    bool operator==(const MediaFileStamp&) const = default;
};

// Size and modification time of a regular file (links followed); false for
// anything else or a file that cannot be examined.
bool StampRegularFile(const std::string& path, MediaFileStamp& stamp);

// One remembered read: either the values, or the fact that MediaInfo could not
// open this version of the file.
struct CachedMediaRead {
    bool opened = false;
    MediaProperties properties; // defaults when not opened
};

// One remembered key frame index pass: the engine's index text, or the fact that
// this version of the file has none (not a video, or one the engine cannot read).
struct CachedKeyframeIndex {
    bool indexed = false;
    std::string text; // empty when not indexed
};

class MediaPropertiesCache {
public:
    explicit MediaPropertiesCache(std::string databaseFile);
    ~MediaPropertiesCache();
    MediaPropertiesCache(const MediaPropertiesCache&) = delete;
    MediaPropertiesCache& operator=(const MediaPropertiesCache&) = delete;

    const std::string& DatabaseFile() const { return m_store.File(); }

    // The remembered read of exactly this version of the file, if any.
    std::optional<CachedMediaRead> Find(const std::string& path, const MediaFileStamp& stamp);

    // Remembers a read, replacing whatever was kept for the path.
    void Store(const std::string& path, const MediaFileStamp& stamp, const CachedMediaRead& read);

    // The key frame index of exactly this version of the file, under the same key.
    std::optional<CachedKeyframeIndex> FindKeyframeIndex(
        const std::string& path, const MediaFileStamp& stamp);
    void StoreKeyframeIndex(
        const std::string& path, const MediaFileStamp& stamp, const CachedKeyframeIndex& index);

private:
    SqliteStore m_store;
};
