#include "console/sqlite_pin_registry.h"

#include <memory>
#include <random>
#include <sqlite3.h>

namespace {

constexpr int kPinDigits = 8;
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

std::string NewPinCode()
{
    static thread_local std::mt19937_64 generator { std::random_device {}() };
    std::uniform_int_distribution<int> digit(0, 9);
    std::string pin;
    for (int i = 0; i < kPinDigits; ++i)
        pin += static_cast<char>('0' + digit(generator));
    return pin;
}

void BindRecord(sqlite3_stmt* statement, const PinRecord& record)
{
    Bind(statement, 1, record.pinCode);
    Bind(statement, 2, record.hardwareAddress);
    Bind(statement, 3, record.name);
    Bind(statement, 4, record.address);
    Bind(statement, 5, record.port);
    sqlite3_bind_int(statement, 6, record.modeOn ? 1 : 0);
}

} // namespace

CSqlitePinRegistry::~CSqlitePinRegistry()
{
    if (m_db)
        sqlite3_close(m_db);
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
    const char* schema = "CREATE TABLE IF NOT EXISTS pins (pincode TEXT PRIMARY KEY, "
                         "mac TEXT NOT NULL, name TEXT NOT NULL, address TEXT NOT NULL, "
                         "port TEXT NOT NULL, modeon INTEGER NOT NULL)";
    char* message = nullptr;
    if (sqlite3_exec(m_db, schema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : "cannot create the PIN table";
        sqlite3_free(message);
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    return true;
}

std::string CSqlitePinRegistry::Register(const PinRecord& record)
{
    std::lock_guard lock(m_lock);
    Statement insert = Prepare(m_db,
        "INSERT OR IGNORE INTO pins (pincode, mac, name, address, port, modeon) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    if (!insert)
        return std::string();
    for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
        PinRecord stored = record;
        stored.pinCode = NewPinCode();
        sqlite3_reset(insert.get());
        BindRecord(insert.get(), stored);
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            return std::string();
        if (sqlite3_changes(m_db) == 1)
            return stored.pinCode;
        // The code was taken: draw another.
    }
    return std::string();
}

bool CSqlitePinRegistry::Update(const PinRecord& record)
{
    std::lock_guard lock(m_lock);
    Statement update = Prepare(m_db,
        "UPDATE pins SET mac = ?2, name = ?3, address = ?4, port = ?5, modeon = ?6 "
        "WHERE pincode = ?1");
    if (!update)
        return false;
    BindRecord(update.get(), record);
    return sqlite3_step(update.get()) == SQLITE_DONE && sqlite3_changes(m_db) == 1;
}

std::optional<PinRecord> CSqlitePinRegistry::Find(const std::string& pinCode)
{
    std::lock_guard lock(m_lock);
    Statement select = Prepare(
        m_db, "SELECT pincode, mac, name, address, port, modeon FROM pins WHERE pincode = ?1");
    if (!select)
        return std::nullopt;
    Bind(select.get(), 1, pinCode);
    if (sqlite3_step(select.get()) != SQLITE_ROW)
        return std::nullopt;
    return PinRecord { Column(select.get(), 0), Column(select.get(), 1), Column(select.get(), 2),
        Column(select.get(), 3), Column(select.get(), 4),
        sqlite3_column_int(select.get(), 5) != 0 };
}
