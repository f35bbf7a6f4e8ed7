#include "library/media_properties_cache.h"

#include "config/trace.h"

#include <algorithm>
#include <climits>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A new layout gets a new table name, so an old file is simply outgrown.
constexpr const char* kSetupSql = "PRAGMA journal_mode=WAL;"
                                  "DROP TABLE IF EXISTS media_properties_v1;"
                                  "PRAGMA synchronous=NORMAL;"
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

// Bounds the wait for another writer; a cache that stays busy is just a miss.
constexpr int kBusyTimeoutMs = 2000;
constexpr size_t kMaxIdleConnections = 8;

bool IsDamage(int code)
{
    int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool SameFile(const std::string& file, dev_t device, ino_t inode)
{
    struct stat info { };
    return stat(file.c_str(), &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

// The database and its side files go; the next connection starts a new one.
void RemoveDatabaseFiles(const std::string& file)
{
    TraceMessage(kTraceProgress, "MediaProperties : damaged cache replaced ('%s')", file.c_str());
    unlink(file.c_str());
    unlink((file + "-wal").c_str());
    unlink((file + "-shm").c_str());
}

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

// Leaves a statement ready for its next use however the use ended.
struct StatementReset {
    sqlite3_stmt* statement;
    ~StatementReset()
    {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

} // namespace

struct MediaPropertiesCache::Connection {
    sqlite3* db = nullptr;
    sqlite3_stmt* find = nullptr;
    sqlite3_stmt* store = nullptr;
    sqlite3_stmt* findIndex = nullptr;
    sqlite3_stmt* storeIndex = nullptr;
    dev_t device = 0;
    ino_t inode = 0;

    ~Connection()
    {
        sqlite3_finalize(find);
        sqlite3_finalize(store);
        sqlite3_finalize(findIndex);
        sqlite3_finalize(storeIndex);
        sqlite3_close_v2(db);
    }

    // SQLITE_OK, or the code that made the open fail.
    int Open(const std::string& file)
    {
        int code = sqlite3_open_v2(file.c_str(), &db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (code != SQLITE_OK)
            return code;
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        code = sqlite3_exec(db, kSetupSql, nullptr, nullptr, nullptr);
        if (code == SQLITE_OK)
            code = sqlite3_prepare_v2(db, kFindSql, -1, &find, nullptr);
        if (code == SQLITE_OK)
            code = sqlite3_prepare_v2(db, kStoreSql, -1, &store, nullptr);
        if (code == SQLITE_OK)
            code = sqlite3_prepare_v2(db, kFindIndexSql, -1, &findIndex, nullptr);
        if (code == SQLITE_OK)
            code = sqlite3_prepare_v2(db, kStoreIndexSql, -1, &storeIndex, nullptr);
        struct stat info { };
        if (code == SQLITE_OK && stat(file.c_str(), &info) != 0)
            code = SQLITE_CANTOPEN;
        device = info.st_dev;
        inode = info.st_ino;
        return code;
    }
};

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
    : m_file(std::move(databaseFile))
{
}

MediaPropertiesCache::~MediaPropertiesCache() = default;

std::unique_ptr<MediaPropertiesCache::Connection> MediaPropertiesCache::Borrow()
{
    std::unique_ptr<Connection> connection;
    {
        std::lock_guard guard(m_lock);
        if (!m_idle.empty()) {
            connection = std::move(m_idle.back());
            m_idle.pop_back();
        }
    }
    // A database deleted or replaced under us is not written into any more.
    if (connection && SameFile(m_file, connection->device, connection->inode))
        return connection;
    for (int attempt = 0; attempt < 2; ++attempt) {
        connection = std::make_unique<Connection>();
        int code = connection->Open(m_file);
        if (code == SQLITE_OK)
            return connection;
        connection.reset();
        if (!IsDamage(code))
            break;
        RemoveDatabaseFiles(m_file);
    }
    return nullptr;
}

void MediaPropertiesCache::GiveBack(std::unique_ptr<Connection> connection)
{
    std::lock_guard guard(m_lock);
    if (m_idle.size() < kMaxIdleConnections)
        m_idle.push_back(std::move(connection));
}

template <typename Work> bool MediaPropertiesCache::WithConnection(Work work)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::unique_ptr<Connection> connection = Borrow();
        if (!connection)
            return false;
        int code = work(*connection);
        if (!IsDamage(code)) {
            GiveBack(std::move(connection));
            return code == SQLITE_OK;
        }
        connection.reset();
        RemoveDatabaseFiles(m_file);
    }
    return false;
}

std::optional<CachedMediaRead> MediaPropertiesCache::Find(
    const std::string& path, const MediaFileStamp& stamp)
{
    std::optional<CachedMediaRead> found;
    WithConnection([&](Connection& connection) {
        sqlite3_stmt* s = connection.find;
        StatementReset reset { s };
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
    WithConnection([&](Connection& connection) {
        sqlite3_stmt* s = connection.store;
        StatementReset reset { s };
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
    WithConnection([&](Connection& connection) {
        sqlite3_stmt* s = connection.findIndex;
        StatementReset reset { s };
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
    WithConnection([&](Connection& connection) {
        sqlite3_stmt* s = connection.storeIndex;
        StatementReset reset { s };
        BindText(s, 1, path);
        sqlite3_bind_int64(s, 2, stamp.size);
        sqlite3_bind_int64(s, 3, stamp.modifiedNs);
        sqlite3_bind_int(s, 4, index.indexed ? 1 : 0);
        BindText(s, 5, index.text);
        int code = sqlite3_step(s);
        return code == SQLITE_DONE ? SQLITE_OK : code;
    });
}
