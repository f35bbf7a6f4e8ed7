#include "library/media_properties_cache.h"

#include <algorithm>
#include <climits>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// A new layout of a table gets a new table name, so an old file is simply outgrown;
// the store's own layout number stays.
constexpr int kCacheLayout = 1;
constexpr const char* kSetupSql = "DROP TABLE IF EXISTS media_properties_v1;"
                                  "CREATE TABLE IF NOT EXISTS media_properties_v2("
                                  " path BLOB PRIMARY KEY NOT NULL,"
                                  " size INTEGER NOT NULL,"
                                  " mtime_ns INTEGER NOT NULL,"
                                  " opened INTEGER NOT NULL,"
                                  " file_size INTEGER, duration_ms INTEGER, codec_id BLOB,"
                                  " frame_rate REAL, width INTEGER, height INTEGER,"
                                  " video_format BLOB, audio_id BLOB, audio_format BLOB,"
                                  " video_profile BLOB, video_level BLOB, rotation INTEGER"
                                  ") WITHOUT ROWID;"
                                  "CREATE TABLE IF NOT EXISTS keyframe_index_v1("
                                  " path BLOB PRIMARY KEY NOT NULL,"
                                  " size INTEGER NOT NULL,"
                                  " mtime_ns INTEGER NOT NULL,"
                                  " indexed INTEGER NOT NULL,"
                                  " text BLOB"
                                  ") WITHOUT ROWID;";

constexpr const char* kFindSql
    = "SELECT opened, file_size, duration_ms, codec_id, frame_rate, width, height,"
      " video_format, audio_id, audio_format, video_profile, video_level, rotation"
      " FROM media_properties_v2"
      " WHERE path = ?1 AND size = ?2 AND mtime_ns = ?3";

constexpr const char* kStoreSql = "INSERT OR REPLACE INTO media_properties_v2 VALUES"
                                  " (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13,"
                                  " ?14, ?15, ?16)";

constexpr const char* kFindIndexSql = "SELECT indexed, text FROM keyframe_index_v1"
                                      " WHERE path = ?1 AND size = ?2 AND mtime_ns = ?3";

constexpr const char* kStoreIndexSql
    = "INSERT OR REPLACE INTO keyframe_index_v1 VALUES (?1, ?2, ?3, ?4, ?5)";

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const void* data = sqlite3_column_blob(statement, column);
    int bytes = sqlite3_column_bytes(statement, column);
    return data && bytes > 0 ? std::string(static_cast<const char*>(data), size_t(bytes))
                             : std::string();
}

int ColumnInt(sqlite3_stmt* statement, int column)
{
    return int(std::clamp<int64_t>(sqlite3_column_int64(statement, column), INT_MIN, INT_MAX));
}

// Paths are bytes, not always UTF-8: bound and kept as blobs.
void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_blob64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT);
}

// A statement prepared for one call, finalized however the call ends.
struct Prepared {
    sqlite3_stmt* statement = nullptr;
    int code = 0;
    Prepared(sqlite3* db, const char* sql)
        : code(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr))
    {
    }
    ~Prepared() { sqlite3_finalize(statement); }
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;
};

} // namespace

bool StampRegularFile(const std::string& path, MediaFileStamp& stamp)
{
    struct stat info { };
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    stamp.size = info.st_size;
    stamp.modifiedNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

MediaPropertiesCache::MediaPropertiesCache(std::string databaseFile)
    : m_store(std::move(databaseFile), kSetupSql, kCacheLayout)
{
}

MediaPropertiesCache::~MediaPropertiesCache() = default;

std::optional<CachedMediaRead> MediaPropertiesCache::Find(
    const std::string& path, const MediaFileStamp& stamp)
{
    std::optional<CachedMediaRead> found;
    m_store.Run([&](sqlite3* db) {
        Prepared statement(db, kFindSql);
        sqlite3_stmt* s = statement.statement;
        if (statement.code != SQLITE_OK)
            return statement.code;
        BindText(s, 1, path);
        sqlite3_bind_int64(s, 2, stamp.size);
        sqlite3_bind_int64(s, 3, stamp.modifiedNs);
        int code = sqlite3_step(s);
        if (code == SQLITE_DONE)
            return SQLITE_OK;
        if (code != SQLITE_ROW)
            return code;
        CachedMediaRead read;
        read.opened = sqlite3_column_int(s, 0) != 0;
        if (read.opened) {
            MediaProperties& p = read.properties;
            p.fileSize = sqlite3_column_int64(s, 1);
            p.durationMs = sqlite3_column_int64(s, 2);
            p.codecId = ColumnText(s, 3);
            p.frameRate = sqlite3_column_double(s, 4);
            p.width = ColumnInt(s, 5);
            p.height = ColumnInt(s, 6);
            p.videoFormat = ColumnText(s, 7);
            p.audioId = ColumnText(s, 8);
            p.audioFormat = ColumnText(s, 9);
            p.videoProfile = ColumnText(s, 10);
            p.videoLevel = ColumnText(s, 11);
            p.rotation = ColumnInt(s, 12);
        }
        found = std::move(read);
        return SQLITE_OK;
    });
    return found;
}

void MediaPropertiesCache::Store(
    const std::string& path, const MediaFileStamp& stamp, const CachedMediaRead& read)
{
    m_store.Run([&](sqlite3* db) {
        Prepared statement(db, kStoreSql);
        sqlite3_stmt* s = statement.statement;
        if (statement.code != SQLITE_OK)
            return statement.code;
        const MediaProperties& p = read.properties;
        BindText(s, 1, path);
        sqlite3_bind_int64(s, 2, stamp.size);
        sqlite3_bind_int64(s, 3, stamp.modifiedNs);
        sqlite3_bind_int(s, 4, read.opened ? 1 : 0);
        sqlite3_bind_int64(s, 5, p.fileSize);
        sqlite3_bind_int64(s, 6, p.durationMs);
        BindText(s, 7, p.codecId);
        sqlite3_bind_double(s, 8, p.frameRate);
        sqlite3_bind_int(s, 9, p.width);
        sqlite3_bind_int(s, 10, p.height);
        BindText(s, 11, p.videoFormat);
        BindText(s, 12, p.audioId);
        BindText(s, 13, p.audioFormat);
        BindText(s, 14, p.videoProfile);
        BindText(s, 15, p.videoLevel);
        sqlite3_bind_int(s, 16, p.rotation);
        int code = sqlite3_step(s);
        return code == SQLITE_DONE ? SQLITE_OK : code;
    });
}

std::optional<CachedKeyframeIndex> MediaPropertiesCache::FindKeyframeIndex(
    const std::string& path, const MediaFileStamp& stamp)
{
    std::optional<CachedKeyframeIndex> found;
    m_store.Run([&](sqlite3* db) {
        Prepared statement(db, kFindIndexSql);
        sqlite3_stmt* s = statement.statement;
        if (statement.code != SQLITE_OK)
            return statement.code;
        BindText(s, 1, path);
        sqlite3_bind_int64(s, 2, stamp.size);
        sqlite3_bind_int64(s, 3, stamp.modifiedNs);
        int code = sqlite3_step(s);
        if (code == SQLITE_DONE)
            return SQLITE_OK;
        if (code != SQLITE_ROW)
            return code;
        found = CachedKeyframeIndex { sqlite3_column_int(s, 0) != 0, ColumnText(s, 1) };
        return SQLITE_OK;
    });
    return found;
}

void MediaPropertiesCache::StoreKeyframeIndex(
    const std::string& path, const MediaFileStamp& stamp, const CachedKeyframeIndex& index)
{
    m_store.Run([&](sqlite3* db) {
        Prepared statement(db, kStoreIndexSql);
        sqlite3_stmt* s = statement.statement;
        if (statement.code != SQLITE_OK)
            return statement.code;
        BindText(s, 1, path);
        sqlite3_bind_int64(s, 2, stamp.size);
        sqlite3_bind_int64(s, 3, stamp.modifiedNs);
        sqlite3_bind_int(s, 4, index.indexed ? 1 : 0);
        BindText(s, 5, index.text);
        int code = sqlite3_step(s);
        return code == SQLITE_DONE ? SQLITE_OK : code;
    });
}
