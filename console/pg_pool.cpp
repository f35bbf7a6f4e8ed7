#include "console/pg_pool.h"

#include "console/console_log.h"

#include <libpq-fe.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string ErrorOf(const PGconn* connection)
{
    std::string text = connection ? PQerrorMessage(connection) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (char& c : text) {
        if (c == '\n' || c == '\t')
            c = ' ';
    }
    return text;
}

} // namespace

void PgResultDeleter::operator()(pg_result* result) const
{
    PQclear(result);
}

CPgPool::CPgPool(PgPoolOptions options, std::vector<PgStatement> statements)
    : m_options(std::move(options))
    , m_statements(std::move(statements))
    , m_slots(static_cast<size_t>(std::max(1, m_options.size)))
{
}

CPgPool::~CPgPool()
{
    for (Slot& slot : m_slots) {
        if (slot.connection)
            PQfinish(slot.connection);
    }
}

std::unique_ptr<pg_conn, void (*)(pg_conn*)> CPgPool::Connect(std::string& error) const
{
    // The caller's own connect_timeout wins: it comes later in the expanded string.
    const char* keys[] = { "connect_timeout", "application_name", "options", "dbname", nullptr };
    const char* values[] = { "3", "vembacast-console", "-c client_min_messages=warning",
        m_options.conninfo.c_str(), nullptr };
    std::unique_ptr<pg_conn, void (*)(pg_conn*)> connection(
        PQconnectdbParams(keys, values, 1), &PQfinish);
    if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
        error = ErrorOf(connection.get());
        return { nullptr, &PQfinish };
    }
    return connection;
}

void CPgPool::NoteDown(const std::string& why)
{
    std::lock_guard lock(m_lock);
    m_retryAt = Clock::now() + m_options.retryAfter;
    if (!m_down)
        ConsoleLog(LogPriority::Error, "database unreachable: %s", why.c_str());
    m_down = true;
}

void CPgPool::NoteUp()
{
    std::lock_guard lock(m_lock);
    if (m_down)
        ConsoleLog(LogPriority::Notice, "database reachable again");
    m_down = false;
}

int CPgPool::TakeSlot()
{
    std::unique_lock lock(m_lock);
    auto free = [this] {
        for (size_t i = 0; i < m_slots.size(); ++i) {
            if (!m_slots[i].busy)
                return static_cast<int>(i);
        }
        return -1;
    };
    int slot = -1;
    m_slotFree.wait_for(lock, m_options.waitForSlot, [&] { return (slot = free()) >= 0; });
    if (slot >= 0)
        m_slots[static_cast<size_t>(slot)].busy = true;
    return slot;
}

void CPgPool::GiveBack(int slot, pg_conn* connection)
{
    {
        std::lock_guard lock(m_lock);
        m_slots[static_cast<size_t>(slot)] = Slot { connection, false };
    }
    m_slotFree.notify_one();
}

// The slot's connection when it is usable, else a new one with the statements
// prepared; null during the back-off of an outage or when the server cannot be had.
pg_conn* CPgPool::Ready(pg_conn* connection)
{
    if (connection && PQstatus(connection) == CONNECTION_OK)
        return connection;
    if (connection)
        PQfinish(connection);
    {
        std::lock_guard lock(m_lock);
        if (m_down && Clock::now() < m_retryAt)
            return nullptr;
    }
    std::string error;
    auto fresh = Connect(error);
    if (!fresh) {
        NoteDown(error);
        return nullptr;
    }
    for (const PgStatement& statement : m_statements) {
        PgResult prepared(
            PQprepare(fresh.get(), statement.name, statement.sql, statement.parameters, nullptr));
        if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
            NoteDown(std::string("cannot prepare ") + statement.name + ": " + ErrorOf(fresh.get()));
            return nullptr;
        }
    }
    NoteUp();
    return fresh.release();
}

PgOutcome CPgPool::Execute(const char* statement, const std::vector<std::string>& parameters)
{
    std::vector<const char*> values;
    for (const std::string& parameter : parameters)
        values.push_back(parameter.c_str());
    int slot = TakeSlot();
    if (slot < 0)
        return PgOutcome {};
    pg_conn* connection = nullptr;
    {
        std::lock_guard lock(m_lock);
        connection = m_slots[static_cast<size_t>(slot)].connection;
    }
    PgOutcome outcome;
    for (int attempt = 0; attempt < 2; ++attempt) {
        connection = Ready(connection);
        if (!connection)
            break;
        outcome.result.reset(PQexecPrepared(connection, statement, static_cast<int>(values.size()),
            values.data(), nullptr, nullptr, 0));
        ExecStatusType status = PQresultStatus(outcome.result.get());
        outcome.ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (outcome.ok || PQstatus(connection) == CONNECTION_OK) {
            const char* state = PQresultErrorField(outcome.result.get(), PG_DIAG_SQLSTATE);
            outcome.sqlState = state ? state : "";
            break;
        }
        // The connection was lost under the statement: once more on a fresh one.
        ConsoleLog(
            LogPriority::Warning, "database connection lost: %s", ErrorOf(connection).c_str());
        outcome = PgOutcome {};
    }
    GiveBack(slot, connection);
    return outcome;
}
