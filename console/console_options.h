#pragma once

// The standalone console's command line. Everything is checked before anything is
// opened, so a malformed option changes nothing.

#include <set>
#include <string>

struct ConsoleOptions {
    std::string address = "0.0.0.0";
    int port = 47080; // 0 picks a free port (it is printed)
    // An SQLite file, or a PostgreSQL address ("postgresql://...") or libpq connection
    // string ("host=... dbname=...") for instances that share one registry.
    std::string database = "vembacast-console.sqlite";
    int poolSize = 0; // PostgreSQL connections per instance; 0 = one per worker
    std::set<std::string> trustedProxies; // whose X-Forwarded-For is believed
    int maxFailedLookups = 10;
    int lookupWindowSeconds = 600;
    int maxRegistrations = 20; // per address within the registration window
    int registrationWindowSeconds = 3600;
    int codesPerServer = 4; // live PIN codes one hardware address may hold
    int registrationLifetimeDays = 30; // unrenewed codes are dropped after this
    int workers = 16;
    int maxConnectionsPerAddress = 32;
    int headerTimeoutMs = 5000;
    int bodyTimeoutMs = 10000;
    std::string latestVersion = VEMBACAST_VERSION_TEXT;
    std::string downloadUrl;
    bool help = false;
    bool version = false;
};

// True when database names a PostgreSQL server rather than an SQLite file.
bool IsPostgresTarget(const std::string& database);

bool ParseConsoleOptions(int argc, char** argv, ConsoleOptions& options, std::string& error);
const char* ConsoleUsage();

// The address a request stands for: the peer's, or, when the peer is a trusted proxy
// and sent a well-formed X-Forwarded-For, the last address in it (the one that proxy
// added).
std::string RequesterAddress(const std::string& peer, const std::string& forwardedFor,
    const std::set<std::string>& trustedProxies);
