#pragma once

// The PIN registry in PostgreSQL, shared by any number of console instances: a code
// registered through one is found through every other at once. Each operation is one
// prepared statement (a registration and the trimming of that server's older codes
// are one statement), so nothing is held open between requests. Time is the
// database's, the one clock all instances share.
//
// Threads: safe from any thread; the pool holds the connections.

#include "console/pg_address_limit.h"
#include "console/pg_pool.h"
#include "console/pin_registry.h"

#include <vector>

class CPgPinRegistry : public IPinRegistry {
public:
    CPgPinRegistry(CPgPool& pool, RegistryPolicy policy);

    RegistryOutcome Add(PinRecord& record) override;
    RegistryOutcome Replace(const PinRecord& record) override;
    RegistryOutcome Lookup(const std::string& pinCode, PinRecord& record) override;
    // One statement for the check and the look-up when limit is the database's own.
    GuardedFind FindGuarded(const std::string& pinCode, const std::string& requester,
        IAddressLimit* limit, PinRecord& record) override;
    long long RemoveExpired() override;
    bool Reachable() override;

    // The statements it runs, to be prepared on each pooled connection.
    static std::vector<PgStatement> Statements();

private:
    CPgPool& m_pool;
    const RegistryPolicy m_policy;
    const std::string m_lifetime; // seconds; "0" for no expiry
};
