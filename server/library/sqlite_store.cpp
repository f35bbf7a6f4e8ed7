#include "library/sqlite_store.h"

#include "config/trace.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bounds the wait for another writer; a store that stays busy fails the call.
constexpr int kBusyTimeoutMs = 5000;
constexpr size_t kMaxIdleConnections = 8;

constexpr const char* kVersionSql = "CREATE TABLE IF NOT EXISTS schema_version("
                                    " version INTEGER NOT NULL);";

bool SameFile(const std::string& file, dev_t device, ino_t inode)
{
    struct stat info { };
    return stat(file.c_str(), &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

void RemoveDatabaseFiles(const std::string& file)
{
    unlink(file.c_str());
    unlink((file + "-wal").c_str());
    unlink((file + "-shm").c_str());
}

// The stored layout version, 0 when none is written yet, -1 on failure.
int StoredVersion(sqlite3* db)
{
    SqlStatement read(db, "SELECT version FROM schema_version LIMIT 1");
    if (read.PrepareCode() != SQLITE_OK)
        return -1;
    const int code = read.Step();
    if (code == SQLITE_DONE)
        return 0;
    return code == SQLITE_ROW ? static_cast<int>(read.Int(0)) : -1;
}

} // namespace

SqlStatement::SqlStatement(sqlite3* db, std::string_view sql)
{
    m_prepared
        = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_statement, nullptr);
}

SqlStatement::~SqlStatement()
{
    sqlite3_finalize(m_statement);
}

SqlStatement& SqlStatement::Bind(int index, std::string_view text)
{
    sqlite3_bind_text64(
        m_statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

SqlStatement& SqlStatement::Bind(int index, int64_t value)
{
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

SqlStatement& SqlStatement::BindReal(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
    return *this;
}

int SqlStatement::Step()
{
    return m_statement ? sqlite3_step(m_statement) : m_prepared;
}

int SqlStatement::Run()
{
    int code = SQLITE_ROW;
    while (code == SQLITE_ROW)
        code = Step();
    Reset();
    return code == SQLITE_DONE ? SQLITE_OK : code;
}

void SqlStatement::Reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

std::string SqlStatement::Text(int column) const
{
    const unsigned char* text = sqlite3_column_text(m_statement, column);
    const int bytes = sqlite3_column_bytes(m_statement, column);
    return text && bytes > 0
        ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes))
        : std::string();
}

int64_t SqlStatement::Int(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double SqlStatement::Real(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

bool SqlStatement::IsNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

SqlTransaction::SqlTransaction(sqlite3* db)
    : m_db(db)
{
    m_begun = ExecuteSql(db, "BEGIN IMMEDIATE");
    m_open = m_begun == SQLITE_OK;
}

SqlTransaction::~SqlTransaction()
{
    if (m_open)
        ExecuteSql(m_db, "ROLLBACK");
}

int SqlTransaction::Commit()
{
    if (!m_open)
        return m_begun == SQLITE_OK ? SQLITE_MISUSE : m_begun;
    const int code = ExecuteSql(m_db, "COMMIT");
    if (code == SQLITE_OK)
        m_open = false;
    return code;
}

int ExecuteSql(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

bool IsDamagedDatabaseCode(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

struct SqliteStore::Connection {
    sqlite3* db = nullptr;
    dev_t device = 0;
    ino_t inode = 0;

    ~Connection() { sqlite3_close_v2(db); }

    // SQLITE_OK, or the code that made the open fail; SQLITE_SCHEMA when the file
    // holds another layout.
    int Open(const std::string& file, const std::string& setupSql, int version)
    {
        int code = sqlite3_open_v2(file.c_str(), &db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (code != SQLITE_OK)
            return code;
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // A new file is turned into a WAL database without waiting for the disk (the
        // switch goes through a rollback journal, which would sync four times): should
        // the machine stop just then, the file is damaged and replaced at the next
        // open, and a new file held nothing. For a file already in WAL this does nothing.
        code = ExecuteSql(
            db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
        if (code == SQLITE_OK)
            code = ExecuteSql(db, kVersionSql);
        if (code != SQLITE_OK)
            return code;
        const int stored = StoredVersion(db);
        if (stored < 0)
            return SQLITE_CORRUPT;
        if (stored != 0 && stored != version)
            return SQLITE_SCHEMA;
        code = ExecuteSql(db, setupSql.c_str());
        if (code == SQLITE_OK && stored == 0) {
            SqlStatement write(db, "INSERT INTO schema_version(version) VALUES (?1)");
            code = write.Bind(1, int64_t(version)).Run();
        }
        struct stat info { };
        if (code == SQLITE_OK && stat(file.c_str(), &info) != 0)
            code = SQLITE_CANTOPEN;
        device = info.st_dev;
        inode = info.st_ino;
        return code;
    }
};

SqliteStore::SqliteStore(std::string file, std::string setupSql, int version)
    : m_file(std::move(file))
    , m_setupSql(std::move(setupSql))
    , m_version(version)
{
}

SqliteStore::~SqliteStore() = default;

void SqliteStore::Replace()
{
    TraceMessage(kTraceProgress, "Database : replaced ('%s')", m_file.c_str());
    {
        std::lock_guard guard(m_lock);
        m_idle.clear();
    }
    RemoveDatabaseFiles(m_file);
}

std::unique_ptr<SqliteStore::Connection> SqliteStore::Borrow()
{
    if (m_file.empty())
        return nullptr;
    std::unique_ptr<Connection> connection;
    {
        std::lock_guard guard(m_lock);
        if (!m_idle.empty()) {
            connection = std::move(m_idle.back());
            m_idle.pop_back();
        }
    }
    if (connection && SameFile(m_file, connection->device, connection->inode))
        return connection;
    for (int attempt = 0; attempt < 2; ++attempt) {
        connection = std::make_unique<Connection>();
        const int code = connection->Open(m_file, m_setupSql, m_version);
        if (code == SQLITE_OK)
            return connection;
        connection.reset();
        if (!IsDamagedDatabaseCode(code) && code != SQLITE_SCHEMA)
            break;
        Replace();
    }
    return nullptr;
}

void SqliteStore::GiveBack(std::unique_ptr<Connection> connection)
{
    std::lock_guard guard(m_lock);
    if (m_idle.size() < kMaxIdleConnections)
        m_idle.push_back(std::move(connection));
}

bool SqliteStore::Run(const std::function<int(sqlite3* db)>& work)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::unique_ptr<Connection> connection = Borrow();
        if (!connection)
            return false;
        const int code = work(connection->db);
        if (!IsDamagedDatabaseCode(code)) {
            GiveBack(std::move(connection));
            return code == SQLITE_OK || code == SQLITE_DONE;
        }
        connection.reset();
        Replace();
    }
    return false;
}
