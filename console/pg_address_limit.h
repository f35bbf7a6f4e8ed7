#pragma once

// A per-address limit kept in PostgreSQL, so every console instance on the database
// counts against the same bound. Each address has one counter per kind with the start
// of its window; the window opens at the first event and the count starts again once
// it has passed. Time is the database's.
//
// Threads: safe from any thread; the pool holds the connections.

#include "console/address_limit.h"
#include "console/pg_pool.h"

#include <chrono>
#include <vector>

enum class LimitKind : int { FailedLookup = 1, Registration = 2 };

class CPgAddressLimit : public IAddressLimit {
public:
    CPgAddressLimit(CPgPool& pool, LimitKind kind, int maxCount, std::chrono::seconds window);

    LimitVerdict Check(const std::string& address) override;
    bool Record(const std::string& address) override;

    static std::vector<PgStatement> Statements();
    // The parameters of its check, for a statement that checks it beside other work:
    // kind, address, window; the count must stay below MaxCount.
    std::vector<std::string> CheckParameters(const std::string& address) const
    {
        return { m_kind, address, m_window };
    }
    int MaxCount() const { return m_maxCount; }
    // Drops counters whose window ended longer ago than keep; -1 when unreachable.
    static long long RemoveStale(CPgPool& pool, std::chrono::seconds keep);

private:
    CPgPool& m_pool;
    const std::string m_kind;
    const int m_maxCount;
    const std::string m_window; // seconds
};
