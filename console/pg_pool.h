#pragma once

// A pool of PostgreSQL connections for the console's request threads. Each connection
// has every statement of its users prepared when it is made. A connection found
// broken is dropped and made again on its next use; while the server cannot be
// reached, new attempts wait for a short back-off and requests fail at once instead
// of each waiting for a connect time-out. The first failure of an outage and the
// recovery are logged; nothing here ends the process.
//
// Threads: any thread may Execute; m_lock guards the slots and the outage state, and
// is never held while talking to the server.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

struct PgStatement {
    const char* name;
    const char* sql;
    int parameters;
};

struct PgPoolOptions {
    std::string conninfo; // a libpq connection string or postgresql:// address
    int size = 8;
    std::chrono::milliseconds retryAfter { 1000 }; // back-off after a failed connect
    std::chrono::milliseconds waitForSlot { 5000 }; // longest wait for a free connection
};

struct PgResultDeleter {
    void operator()(pg_result* result) const;
};
using PgResult = std::unique_ptr<pg_result, PgResultDeleter>;

// The outcome of one statement: ok, or why not.
struct PgOutcome {
    PgResult result; // null when the statement did not run
    bool ok = false; // ran and succeeded
    std::string sqlState; // the server's error code when it ran and failed
};

class CPgPool {
public:
    CPgPool(PgPoolOptions options, std::vector<PgStatement> statements);
    ~CPgPool();
    CPgPool(const CPgPool&) = delete;
    CPgPool& operator=(const CPgPool&) = delete;

    // Runs a prepared statement with text parameters. A statement that meets a lost
    // connection is tried once more on a fresh one.
    PgOutcome Execute(const char* statement, const std::vector<std::string>& parameters);

    // A fresh connection outside the pool (schema work); null with error filled.
    std::unique_ptr<pg_conn, void (*)(pg_conn*)> Connect(std::string& error) const;

    int Size() const { return static_cast<int>(m_slots.size()); }

private:
    struct Slot {
        pg_conn* connection = nullptr;
        bool busy = false;
    };
    int TakeSlot();
    void GiveBack(int slot, pg_conn* connection);
    pg_conn* Ready(pg_conn* connection);
    void NoteDown(const std::string& why);
    void NoteUp();

    const PgPoolOptions m_options;
    const std::vector<PgStatement> m_statements;
    std::mutex m_lock;
    std::condition_variable m_slotFree;
    std::vector<Slot> m_slots; // guarded by m_lock
    bool m_down = false; // guarded by m_lock: the last connect or statement met an outage
    std::chrono::steady_clock::time_point m_retryAt {}; // guarded by m_lock
};
