#include "console/sqlite_pin_registry.h"

#include <sqlite3.h>

namespace {

constexpr int kRegisterAttempts = 20;

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

Statement Prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (!db || sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return nullptr;
    return Statement(statement);
}

// A statement reset for its next use when the call that ran it returns.
class Use {
public:
    explicit Use(const Statement& statement)
        : m_statement(statement.get())
    {
    }
    ~Use()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* get() const { return m_statement; }

private:
    sqlite3_stmt* m_statement;
};

void Bind(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_text(
        statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string Column(sqlite3_stmt* statement, int index)
{
    const unsigned char* text = sqlite3_column_text(statement, index);
    return text ? reinterpret_cast<const char*>(text) : "";
}

void BindRecord(sqlite3_stmt* statement, const PinRecord& record, long long now)
{
    Bind(statement, 1, record.pinCode);
    Bind(statement, 2, record.hardwareAddress);
    Bind(statement, 3, record.name);
    Bind(statement, 4, record.address);
    Bind(statement, 5, record.port);
    sqlite3_bind_int(statement, 6, record.modeOn ? 1 : 0);
    sqlite3_bind_int64(statement, 7, now);
}

bool Exec(sqlite3* db, const char* sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message ? message : "statement failed";
    sqlite3_free(message);
    return false;
}

// The layouts in order; step N brings a file of version N-1 to version N. The first
// layout was written without a version, so its step only creates what is missing.
const char* const kMigrations[] = {
    "CREATE TABLE IF NOT EXISTS pins (pincode TEXT PRIMARY KEY, mac TEXT NOT NULL, "
    "name TEXT NOT NULL, address TEXT NOT NULL, port TEXT NOT NULL, modeon INTEGER NOT NULL)",
    // Registration and renewal times (seconds since the epoch): codes that are not
    // renewed expire, and one server's codes are bounded.
    "ALTER TABLE pins ADD COLUMN registered_at INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE pins ADD COLUMN renewed_at INTEGER NOT NULL DEFAULT 0;"
    "UPDATE pins SET registered_at = CAST(strftime('%s','now') AS INTEGER), "
    "renewed_at = CAST(strftime('%s','now') AS INTEGER);"
    "CREATE INDEX pins_by_mac ON pins (mac, registered_at);"
    "CREATE INDEX pins_by_renewal ON pins (renewed_at)",
};
static_assert(std::size(kMigrations) == CSqlitePinRegistry::kSchemaVersion);

} // namespace

struct CSqlitePinRegistry::Statements {
    Statement insert;
    Statement trim;
    Statement update;
    Statement find;
    Statement expire;
};

CSqlitePinRegistry::CSqlitePinRegistry(RegistryPolicy policy, Clock clock)
    : m_policy(policy)
    , m_clock(std::move(clock))
{
}

CSqlitePinRegistry::~CSqlitePinRegistry()
{
    m_statements.reset();
    if (m_db)
        sqlite3_close(m_db);
}

long long CSqlitePinRegistry::NowSeconds() const
{
    auto now = m_clock ? m_clock() : std::chrono::system_clock::now();
    return std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
}

long long CSqlitePinRegistry::OldestLiveSecond() const
{
    return m_policy.lifetime.count() > 0 ? NowSeconds() - m_policy.lifetime.count() : 0;
}

bool CSqlitePinRegistry::Migrate(std::string& error)
{
    Statement version = Prepare(m_db, "PRAGMA user_version");
    if (!version || sqlite3_step(version.get()) != SQLITE_ROW)
        return error = sqlite3_errmsg(m_db), false;
    int current = sqlite3_column_int(version.get(), 0);
    version.reset();
    if (current > kSchemaVersion)
        return error = "the file was written by a newer console", false;
    for (int step = current; step < kSchemaVersion; ++step) {
        std::string bump = "PRAGMA user_version = " + std::to_string(step + 1);
        if (!Exec(m_db, "BEGIN IMMEDIATE", error))
            return false;
        if (!Exec(m_db, kMigrations[step], error) || !Exec(m_db, bump.c_str(), error)
            || !Exec(m_db, "COMMIT", error)) {
            std::string ignored;
            Exec(m_db, "ROLLBACK", ignored);
            return false;
        }
    }
    return true;
}

bool CSqlitePinRegistry::Open(const std::string& path, std::string& error)
{
    std::lock_guard lock(m_lock);
    if (m_db)
        return true;
    if (sqlite3_open_v2(path.c_str(), &m_db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr)
        != SQLITE_OK) {
        error = m_db ? sqlite3_errmsg(m_db) : "cannot open " + path;
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    auto statements = std::make_unique<Statements>();
    bool ready = Exec(m_db, "PRAGMA journal_mode = WAL", error) && Migrate(error);
    if (ready) {
        statements->insert = Prepare(m_db,
            "INSERT OR IGNORE INTO pins (pincode, mac, name, address, port, modeon, "
            "registered_at, renewed_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?7)");
        // One server keeps its newest codes; ?2 below zero keeps them all.
        statements->trim = Prepare(m_db,
            "DELETE FROM pins WHERE mac = ?1 AND ?2 >= 0 AND pincode NOT IN (SELECT pincode "
            "FROM pins WHERE mac = ?1 ORDER BY registered_at DESC, rowid DESC LIMIT ?2)");
        statements->update = Prepare(m_db,
            "UPDATE pins SET mac = ?2, name = ?3, address = ?4, port = ?5, modeon = ?6, "
            "renewed_at = ?7 WHERE pincode = ?1 AND renewed_at >= ?8");
        statements->find = Prepare(m_db,
            "SELECT pincode, mac, name, address, port, modeon FROM pins "
            "WHERE pincode = ?1 AND renewed_at >= ?2");
        statements->expire = Prepare(m_db, "DELETE FROM pins WHERE renewed_at < ?1");
        ready = statements->insert && statements->trim && statements->update && statements->find
            && statements->expire;
        if (!ready)
            error = sqlite3_errmsg(m_db);
    }
    if (!ready) {
        statements.reset();
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    m_statements = std::move(statements);
    return true;
}

RegistryOutcome CSqlitePinRegistry::Add(PinRecord& record)
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return RegistryOutcome::Unavailable;
    std::string ignored;
    if (!Exec(m_db, "BEGIN IMMEDIATE", ignored))
        return RegistryOutcome::Unavailable;
    RegistryOutcome outcome = RegistryOutcome::Unavailable;
    for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
        record.pinCode = NewPinCode();
        Use insert(m_statements->insert);
        BindRecord(insert.get(), record, NowSeconds());
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            break;
        if (sqlite3_changes(m_db) == 1) {
            outcome = RegistryOutcome::Done;
            break;
        }
        // The code was taken: draw another.
    }
    if (outcome == RegistryOutcome::Done) {
        Use trim(m_statements->trim);
        Bind(trim.get(), 1, record.hardwareAddress);
        sqlite3_bind_int(
            trim.get(), 2, m_policy.maxCodesPerServer > 0 ? m_policy.maxCodesPerServer : -1);
        if (sqlite3_step(trim.get()) != SQLITE_DONE)
            outcome = RegistryOutcome::Unavailable;
    }
    if (outcome != RegistryOutcome::Done || !Exec(m_db, "COMMIT", ignored)) {
        Exec(m_db, "ROLLBACK", ignored);
        record.pinCode.clear();
        return RegistryOutcome::Unavailable;
    }
    return outcome;
}

RegistryOutcome CSqlitePinRegistry::Replace(const PinRecord& record)
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return RegistryOutcome::Unavailable;
    Use update(m_statements->update);
    BindRecord(update.get(), record, NowSeconds());
    sqlite3_bind_int64(update.get(), 8, OldestLiveSecond());
    if (sqlite3_step(update.get()) != SQLITE_DONE)
        return RegistryOutcome::Unavailable;
    return sqlite3_changes(m_db) == 1 ? RegistryOutcome::Done : RegistryOutcome::NotFound;
}

RegistryOutcome CSqlitePinRegistry::Lookup(const std::string& pinCode, PinRecord& record)
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return RegistryOutcome::Unavailable;
    Use select(m_statements->find);
    Bind(select.get(), 1, pinCode);
    sqlite3_bind_int64(select.get(), 2, OldestLiveSecond());
    int step = sqlite3_step(select.get());
    if (step == SQLITE_DONE)
        return RegistryOutcome::NotFound;
    if (step != SQLITE_ROW)
        return RegistryOutcome::Unavailable;
    record = PinRecord { Column(select.get(), 0), Column(select.get(), 1), Column(select.get(), 2),
        Column(select.get(), 3), Column(select.get(), 4),
        sqlite3_column_int(select.get(), 5) != 0 };
    return RegistryOutcome::Done;
}

long long CSqlitePinRegistry::RemoveExpired()
{
    std::lock_guard lock(m_lock);
    if (!m_db)
        return -1;
    if (m_policy.lifetime.count() <= 0)
        return 0;
    Use expire(m_statements->expire);
    sqlite3_bind_int64(expire.get(), 1, OldestLiveSecond());
    if (sqlite3_step(expire.get()) != SQLITE_DONE)
        return -1;
    return sqlite3_changes(m_db);
}

bool CSqlitePinRegistry::Reachable()
{
    std::lock_guard lock(m_lock);
    return m_db != nullptr;
}
