#include "conversion/convert_store.h"

#include "config/settings.h"
#include "config/trace.h"
#include "conversion/conversion_context.h"

#include <sqlite3.h>
#include <unistd.h>

namespace {

constexpr const char* kSetupSql = "PRAGMA journal_mode=WAL;"
                                  "PRAGMA synchronous=NORMAL;"
                                  "CREATE TABLE IF NOT EXISTS convert_jobs_v1("
                                  " position INTEGER PRIMARY KEY AUTOINCREMENT,"
                                  " convert_id TEXT UNIQUE NOT NULL,"
                                  " source_path BLOB, local_source BLOB, output_path BLOB,"
                                  " file_path BLOB, width INTEGER, height INTEGER,"
                                  " bitrate INTEGER, state INTEGER, progress INTEGER);";

constexpr const char* kLoadSql
    = "SELECT convert_id, source_path, local_source, output_path, file_path, width, height,"
      " bitrate, state, progress FROM convert_jobs_v1 ORDER BY position";

constexpr const char* kKeepSql
    = "INSERT INTO convert_jobs_v1 (convert_id, source_path, local_source, output_path,"
      " file_path, width, height, bitrate, state, progress)"
      " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"
      " ON CONFLICT(convert_id) DO UPDATE SET state = ?9, progress = ?10";

constexpr const char* kForgetSql = "DELETE FROM convert_jobs_v1 WHERE convert_id = ?1";

constexpr int kBusyTimeoutMs = 2000;

bool IsDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const void* data = sqlite3_column_blob(statement, column);
    const int bytes = sqlite3_column_bytes(statement, column);
    return data && bytes > 0 ? std::string(static_cast<const char*>(data), size_t(bytes))
                             : std::string();
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_blob64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT);
}

// One prepared statement for one call.
class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        m_code = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* Get() const { return m_statement; }
    int Code() const { return m_code; }

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_code = SQLITE_OK;
};

} // namespace

struct ConvertJobStore::Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close_v2(db); }

    int Open(const std::string& file)
    {
        int code = sqlite3_open_v2(file.c_str(), &db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
        if (code != SQLITE_OK)
            return code;
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        return sqlite3_exec(db, kSetupSql, nullptr, nullptr, nullptr);
    }
};

ConvertJobStore::ConvertJobStore(std::string databaseFile)
    : m_file(std::move(databaseFile))
{
}

ConvertJobStore::~ConvertJobStore() = default;

std::shared_ptr<ConvertJobStore::Connection> ConvertJobStore::Current()
{
    {
        std::lock_guard lock(m_lock);
        if (m_connection || m_file.empty())
            return m_connection;
    }
    auto connection = std::make_shared<Connection>();
    int code = connection->Open(m_file);
    if (IsDamage(code)) {
        Discard(nullptr);
        connection = std::make_shared<Connection>();
        code = connection->Open(m_file);
    }
    if (code != SQLITE_OK) {
        TraceMessage(kTraceStreamFailure, "Conversions - no job store ('%s'): %s", m_file.c_str(),
            sqlite3_errstr(code));
        return nullptr;
    }
    std::lock_guard lock(m_lock);
    if (!m_connection)
        m_connection = connection;
    return m_connection;
}

// The damaged database goes; the next use starts an empty one.
void ConvertJobStore::Discard(const std::shared_ptr<Connection>& damaged)
{
    {
        std::lock_guard lock(m_lock);
        if (damaged && m_connection != damaged)
            return; // replaced already
        m_connection.reset();
    }
    TraceMessage(
        kTraceStreamFailure, "Conversions - damaged job store replaced ('%s')", m_file.c_str());
    unlink(m_file.c_str());
    unlink((m_file + "-wal").c_str());
    unlink((m_file + "-shm").c_str());
}

template <typename Work> void ConvertJobStore::WithDatabase(Work work)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<Connection> connection = Current();
        if (!connection)
            return;
        const int code = work(connection->db);
        if (!IsDamage(code)) {
            if (code != SQLITE_OK)
                TraceMessage(
                    kTraceStreamFailure, "Conversions - job store: %s", sqlite3_errstr(code));
            return;
        }
        Discard(connection);
    }
}

std::vector<StoredConvertJob> ConvertJobStore::Load()
{
    std::vector<StoredConvertJob> jobs;
    WithDatabase([&](sqlite3* db) {
        jobs.clear();
        Statement load(db, kLoadSql);
        if (load.Code() != SQLITE_OK)
            return load.Code();
        int code = SQLITE_OK;
        while ((code = sqlite3_step(load.Get())) == SQLITE_ROW) {
            sqlite3_stmt* s = load.Get();
            StoredConvertJob job;
            job.convertId = ColumnText(s, 0);
            job.sourcePath = ColumnText(s, 1);
            job.localSource = ColumnText(s, 2);
            job.outputPath = ColumnText(s, 3);
            job.filePath = ColumnText(s, 4);
            job.width = sqlite3_column_int(s, 5);
            job.height = sqlite3_column_int(s, 6);
            job.bitrate = sqlite3_column_int(s, 7);
            job.state = sqlite3_column_int(s, 8);
            job.progress = sqlite3_column_int(s, 9);
            jobs.push_back(std::move(job));
        }
        return code == SQLITE_DONE ? SQLITE_OK : code;
    });
    return jobs;
}

void ConvertJobStore::Keep(const StoredConvertJob& job)
{
    WithDatabase([&](sqlite3* db) {
        Statement keep(db, kKeepSql);
        if (keep.Code() != SQLITE_OK)
            return keep.Code();
        sqlite3_stmt* s = keep.Get();
        BindText(s, 1, job.convertId);
        BindText(s, 2, job.sourcePath);
        BindText(s, 3, job.localSource);
        BindText(s, 4, job.outputPath);
        BindText(s, 5, job.filePath);
        sqlite3_bind_int(s, 6, job.width);
        sqlite3_bind_int(s, 7, job.height);
        sqlite3_bind_int(s, 8, job.bitrate);
        sqlite3_bind_int(s, 9, job.state);
        sqlite3_bind_int(s, 10, job.progress);
        const int code = sqlite3_step(s);
        return code == SQLITE_DONE ? SQLITE_OK : code;
    });
}

void ConvertJobStore::Forget(const std::string& convertId)
{
    WithDatabase([&](sqlite3* db) {
        Statement forget(db, kForgetSql);
        if (forget.Code() != SQLITE_OK)
            return forget.Code();
        BindText(forget.Get(), 1, convertId);
        const int code = sqlite3_step(forget.Get());
        return code == SQLITE_DONE ? SQLITE_OK : code;
    });
}

StoredConvertJob StoredJobOf(const ConvertInfo_t& job)
{
    StoredConvertJob stored;
    stored.convertId = job.strConvertID;
    stored.sourcePath = job.strSourcePath;
    stored.localSource = job.strLocalSource;
    stored.outputPath = job.strOutputPath;
    stored.filePath = job.FilePath();
    stored.width = job.nWidth;
    stored.height = job.nHeight;
    stored.bitrate = job.nBitrate;
    stored.state = job.nState;
    stored.progress = job.nProgress;
    return stored;
}

std::vector<std::shared_ptr<ConvertInfo_t>> RestoreConvertJobs(
    ConversionContext& server, ConvertJobStore& store)
{
    std::vector<std::shared_ptr<ConvertInfo_t>> jobs;
    for (const StoredConvertJob& stored : store.Load()) {
        if (stored.convertId.empty() || stored.state == kConvertRemoved) {
            store.Forget(stored.convertId);
            continue;
        }
        auto job = std::make_shared<ConvertInfo_t>(server);
        job->strConvertID = stored.convertId;
        job->strSourcePath = stored.sourcePath;
        job->strLocalSource = stored.localSource;
        job->strOutputPath = stored.outputPath;
        job->SetFilePath(stored.filePath);
        job->nWidth = stored.width;
        job->nHeight = stored.height;
        job->nBitrate = stored.bitrate;
        const bool finished = stored.state == kConvertComplete || stored.state == kConvertFailed;
        job->nState = finished ? stored.state : kConvertWaiting;
        job->nProgress = finished ? stored.progress : 0;
        // No engine runs yet: whatever an unfinished job's engine wrote is a part.
        if (!finished && !stored.outputPath.empty() && FileExists(stored.outputPath)
            && DeleteConvertOutput(stored.outputPath))
            TraceMessage(kTraceProgress, "Conversions - left-over '%s' removed; '%s' waits again",
                stored.outputPath.c_str(), stored.sourcePath.c_str());
        if (!finished)
            store.Keep(StoredJobOf(*job));
        jobs.push_back(std::move(job));
    }
    return jobs;
}
