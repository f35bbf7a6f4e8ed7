#pragma once

// The console's tables in PostgreSQL and how a database is brought to the current
// layout. The version lives in console_schema; each step runs in its own transaction
// under an advisory lock, so instances starting together migrate once, in order.
//   1  pins: the PIN codes (the layout of the first SQLite file)
//   2  registration and renewal times on pins, their indexes, and address_counts
//      (the shared per-address limits)

#include <string>

struct pg_conn;

inline constexpr int kPgSchemaVersion = 2;

// Brings the database to targetVersion (never down); false with error filled when a
// step fails (that step leaves nothing behind) or the database is newer than this
// program.
bool MigratePgSchema(pg_conn* connection, int targetVersion, std::string& error);

// The version the database is at; -1 when it cannot be read.
int PgSchemaVersion(pg_conn* connection);
