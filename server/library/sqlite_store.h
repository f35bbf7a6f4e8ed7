#pragma once

// A database file of the data folder kept with SQLite (write-ahead log, so readers
// never wait for the writer). The library index and the play positions each keep one.
//
// Each caller borrows a connection of its own from a small pool; the pool's lock
// guards only the list of idle connections, never a database call. A file that is
// damaged, or written by another layout (its schema version differs), is replaced by
// a fresh one: what these files hold can be found again or is not worth a server
// that does not start. A file deleted under the running server is opened afresh.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement, finalized when it goes. Text is bound and read as UTF-8.
class SqlStatement {
public:
    SqlStatement(sqlite3* db, std::string_view sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    // SQLITE_OK when prepared, else the error code.
    int PrepareCode() const { return m_prepared; }
    SqlStatement& Bind(int index, std::string_view text);
    SqlStatement& Bind(int index, int64_t value);
    SqlStatement& BindReal(int index, double value);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    // Steps to the end: SQLITE_OK when done, else the error code.
    int Run();
    // Ready for new bindings.
    void Reset();

    std::string Text(int column) const;
    int64_t Int(int column) const;
    double Real(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_prepared = 0;
};

// "BEGIN IMMEDIATE" at construction; rolled back unless Commit succeeded.
class SqlTransaction {
public:
    explicit SqlTransaction(sqlite3* db);
    ~SqlTransaction();
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;
    int BeginCode() const { return m_begun; }
    int Commit();

private:
    sqlite3* m_db;
    int m_begun = 0;
    bool m_open = false;
};

// Runs sql (several statements) on db: SQLITE_OK or the error code.
int ExecuteSql(sqlite3* db, const char* sql);

// True for the codes that mean the file is not a usable database.
bool IsDamagedDatabaseCode(int code);

class SqliteStore {
public:
    // setupSql makes the tables (CREATE ... IF NOT EXISTS); version is the layout
    // they have. An empty file name: a store that never succeeds (no data folder).
    SqliteStore(std::string file, std::string setupSql, int version);
    ~SqliteStore();
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    const std::string& File() const { return m_file; }

    // Runs work with a connection of the pool; work returns SQLITE_OK (or
    // SQLITE_DONE) on success, else the code that stopped it. A damaged file is
    // replaced and work runs once more on the new one. True on success.
    bool Run(const std::function<int(sqlite3* db)>& work);

    struct Connection;

private:
    std::unique_ptr<Connection> Borrow();
    void GiveBack(std::unique_ptr<Connection> connection);
    void Replace();

    const std::string m_file;
    const std::string m_setupSql;
    const int m_version;

    std::mutex m_lock;
    // --- guarded by m_lock
    std::vector<std::unique_ptr<Connection>> m_idle;
};
