#include "console/pg_schema.h"

#include <algorithm>
#include <cstdlib>
#include <libpq-fe.h>
#include <memory>

namespace {

// Any constant of the console's own; instances hold it while they migrate.
constexpr const char* kTakeLock = "SELECT pg_advisory_xact_lock(7623019412)";

const char* const kSteps[] = {
    "CREATE TABLE pins (pincode text PRIMARY KEY, mac text NOT NULL, name text NOT NULL, "
    "address text NOT NULL, port text NOT NULL, modeon boolean NOT NULL)",

    "ALTER TABLE pins ADD COLUMN registered_at timestamptz NOT NULL DEFAULT now(), "
    "ADD COLUMN renewed_at timestamptz NOT NULL DEFAULT now();"
    "CREATE INDEX pins_by_mac ON pins (mac, registered_at);"
    "CREATE INDEX pins_by_renewal ON pins (renewed_at);"
    "CREATE TABLE address_counts (kind smallint NOT NULL, address text NOT NULL, "
    "window_start timestamptz NOT NULL, count integer NOT NULL, PRIMARY KEY (kind, address));"
    "CREATE INDEX address_counts_by_age ON address_counts (window_start)",
};
static_assert(std::size(kSteps) == kPgSchemaVersion);

struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

bool Run(PGconn* connection, const char* sql, std::string& error, Result* kept = nullptr)
{
    Result result(PQexec(connection, sql));
    ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        error = PQerrorMessage(connection);
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        return false;
    }
    if (kept)
        *kept = std::move(result);
    return true;
}

// Inside a transaction holding the lock: the version, with the table made when missing.
int LockedVersion(PGconn* connection, std::string& error)
{
    Result version;
    if (!Run(connection, "CREATE TABLE IF NOT EXISTS console_schema (version integer NOT NULL)",
            error)
        || !Run(connection, "SELECT version FROM console_schema", error, &version))
        return -1;
    if (PQntuples(version.get()) == 0)
        return Run(connection, "INSERT INTO console_schema VALUES (0)", error) ? 0 : -1;
    return std::atoi(PQgetvalue(version.get(), 0, 0));
}

} // namespace

bool MigratePgSchema(PGconn* connection, int targetVersion, std::string& error)
{
    targetVersion = std::min(targetVersion, kPgSchemaVersion);
    for (;;) {
        if (!Run(connection, "BEGIN", error))
            return false;
        int version = Run(connection, kTakeLock, error) ? LockedVersion(connection, error) : -1;
        bool done = version >= targetVersion;
        bool ok = version >= 0;
        if (version > kPgSchemaVersion) {
            error = "the database was written by a newer console (schema " + std::to_string(version)
                + ")";
            ok = false;
        }
        if (ok && !done) {
            std::string bump = "UPDATE console_schema SET version = " + std::to_string(version + 1);
            ok = Run(connection, kSteps[version], error) && Run(connection, bump.c_str(), error);
            if (!ok)
                error = "schema step " + std::to_string(version + 1) + ": " + error;
        }
        if (!ok) {
            std::string ignored;
            Run(connection, "ROLLBACK", ignored);
            return false;
        }
        if (!Run(connection, "COMMIT", error))
            return false;
        if (done)
            return true;
    }
}

int PgSchemaVersion(PGconn* connection)
{
    Result version(PQexec(connection, "SELECT version FROM console_schema"));
    if (PQresultStatus(version.get()) != PGRES_TUPLES_OK || PQntuples(version.get()) != 1)
        return -1;
    return std::atoi(PQgetvalue(version.get(), 0, 0));
}
