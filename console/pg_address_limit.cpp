#include "console/pg_address_limit.h"

#include <cstdlib>
#include <libpq-fe.h>

std::vector<PgStatement> CPgAddressLimit::Statements()
{
    return {
        { "limit_check",
            "SELECT count FROM address_counts WHERE kind = $1::smallint AND address = $2 "
            "AND window_start > now() - $3::bigint * interval '1 second'",
            3 },
        { "limit_record",
            "INSERT INTO address_counts AS c (kind, address, window_start, count) "
            "VALUES ($1::smallint, $2, now(), 1) ON CONFLICT (kind, address) DO UPDATE SET "
            "count = CASE WHEN c.window_start > now() - $3::bigint * interval '1 second' "
            "THEN c.count + 1 ELSE 1 END, "
            "window_start = CASE WHEN c.window_start > now() - $3::bigint * interval '1 second' "
            "THEN c.window_start ELSE now() END",
            3 },
        { "limit_stale",
            "DELETE FROM address_counts WHERE window_start < now() - $1::bigint * "
            "interval '1 second'",
            1 },
    };
}

CPgAddressLimit::CPgAddressLimit(
    CPgPool& pool, LimitKind kind, int maxCount, std::chrono::seconds window)
    : m_pool(pool)
    , m_kind(std::to_string(static_cast<int>(kind)))
    , m_maxCount(maxCount)
    , m_window(std::to_string(window.count()))
{
}

LimitVerdict CPgAddressLimit::Check(const std::string& address)
{
    PgOutcome counted = m_pool.Execute("limit_check", { m_kind, address, m_window });
    if (!counted.ok)
        return LimitVerdict::Unknown;
    if (PQntuples(counted.result.get()) == 0)
        return LimitVerdict::Allowed;
    return std::atoi(PQgetvalue(counted.result.get(), 0, 0)) < m_maxCount ? LimitVerdict::Allowed
                                                                          : LimitVerdict::Refused;
}

bool CPgAddressLimit::Record(const std::string& address)
{
    return m_pool.Execute("limit_record", { m_kind, address, m_window }).ok;
}

long long CPgAddressLimit::RemoveStale(CPgPool& pool, std::chrono::seconds keep)
{
    PgOutcome removed = pool.Execute("limit_stale", { std::to_string(keep.count()) });
    return removed.ok ? std::atoll(PQcmdTuples(removed.result.get())) : -1;
}
