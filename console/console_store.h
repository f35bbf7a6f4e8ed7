#pragma once

// Where the standalone console keeps its PIN codes and limits, as its options say: an
// SQLite file with the limits in this process's memory (one instance), or PostgreSQL
// with the limits in the database too (any number of instances).
//
// Threads: everything here is safe from the request threads; Upkeep runs on the
// main thread.

#include "console/address_limit.h"
#include "console/console_options.h"
#include "console/pg_pool.h"
#include "console/pin_registry.h"

#include <memory>
#include <string>

struct ConsoleStore {
    std::unique_ptr<CPgPool> pool; // PostgreSQL only
    std::unique_ptr<IPinRegistry> registry;
    std::unique_ptr<IAddressLimit> failedLookups;
    std::unique_ptr<IAddressLimit> registrations;
    std::chrono::seconds longestWindow { 0 };

    // Drops expired registrations and stale counters; logs what it did.
    void Upkeep();
};

// Opens (and brings up to date) the store the options name; false with error filled.
bool OpenConsoleStore(const ConsoleOptions& options, ConsoleStore& store, std::string& error);

RegistryPolicy PolicyOf(const ConsoleOptions& options);
