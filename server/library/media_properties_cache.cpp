#include "library/media_properties_cache.h"

#include "config/trace.h"

#include <algorithm>
#include <climits>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// The file keeps the layout of this table: a new layout gets a new table name, so an
// old file is simply outgrown.
constexpr int kCacheLayout = 1;
constexpr const char* kSetupSql = "CREATE TABLE IF NOT EXISTS media_properties_v1("
                                  " path BLOB PRIMARY KEY NOT NULL,"
                                  " size INTEGER NOT NULL,"
                                  " mtime_ns INTEGER NOT NULL,"
                                  " opened INTEGER NOT NULL,"
                                  " file_size INTEGER, duration_ms INTEGER, codec_id BLOB,"
                                  " frame_rate REAL, width INTEGER, height INTEGER,"
                                  " video_format BLOB, audio_id BLOB, audio_format BLOB"
                                  ") WITHOUT ROWID;";

constexpr const char* kFindSql
    = "SELECT opened, file_size, duration_ms, codec_id, frame_rate, width, height,"
      " video_format, audio_id, audio_format FROM media_properties_v1"
      " WHERE path = ?1 AND size = ?2 AND mtime_ns = ?3";

constexpr const char* kStoreSql = "INSERT OR REPLACE INTO media_properties_v1 VALUES"
                                  " (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)";

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
        Prepared find(db, kFindSql);
        sqlite3_stmt* s = find.statement;
        if (find.code != SQLITE_OK)
            return find.code;
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
        Prepared store(db, kStoreSql);
        sqlite3_stmt* s = store.statement;
        if (store.code != SQLITE_OK)
            return store.code;
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
        int code = sqlite3_step(s);
        return code == SQLITE_DONE ? SQLITE_OK : code;
    });
}
