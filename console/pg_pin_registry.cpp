#include "console/pg_pin_registry.h"

#include <cstdlib>
#include <libpq-fe.h>

namespace {

constexpr int kRegisterAttempts = 20;
constexpr const char* kUniqueViolation = "23505";

// $7: the codes one server keeps (0 = all). The delete sees the table as it was before
// the insert, so it keeps that server's newest codes less one, making room for this.
constexpr const char* kRegisterSql
    = "WITH added AS (INSERT INTO pins (pincode, mac, name, address, port, modeon) "
      "VALUES ($1, $2, $3, $4, $5, $6::boolean) ON CONFLICT (pincode) DO NOTHING "
      "RETURNING pincode), "
      "trimmed AS (DELETE FROM pins WHERE $7::integer > 0 AND mac = $2 "
      "AND EXISTS (SELECT 1 FROM added) AND pincode IN (SELECT pincode FROM pins "
      "WHERE mac = $2 ORDER BY registered_at DESC OFFSET $7::integer - 1)) "
      "SELECT pincode FROM added";

constexpr const char* kLiveSql = "($LIFE::bigint = 0 OR renewed_at > now() - $LIFE::bigint * "
                                 "interval '1 second')";

std::string WithLifetime(std::string sql, const std::string& parameter)
{
    std::string live = kLiveSql;
    for (size_t at = live.find("$LIFE"); at != std::string::npos; at = live.find("$LIFE"))
        live.replace(at, 5, parameter);
    size_t at = sql.find("LIVE");
    sql.replace(at, 4, live);
    return sql;
}

const std::string& UpdateSql()
{
    static const std::string sql = WithLifetime(
        "UPDATE pins SET mac = $2, name = $3, address = $4, port = $5, modeon = $6::boolean, "
        "renewed_at = now() WHERE pincode = $1 AND LIVE",
        "$7");
    return sql;
}

const std::string& FindSql()
{
    static const std::string sql = WithLifetime(
        "SELECT pincode, mac, name, address, port, modeon FROM pins WHERE pincode = $1 AND LIVE",
        "$2");
    return sql;
}

std::string Value(const PgResult& result, int column)
{
    return PQgetvalue(result.get(), 0, column);
}

} // namespace

std::vector<PgStatement> CPgPinRegistry::Statements()
{
    return {
        { "pin_register", kRegisterSql, 7 },
        { "pin_update", UpdateSql().c_str(), 7 },
        { "pin_find", FindSql().c_str(), 2 },
        { "pin_expire",
            "DELETE FROM pins WHERE $1::bigint > 0 AND renewed_at < now() - $1::bigint * "
            "interval '1 second'",
            1 },
        { "ping", "SELECT 1", 0 },
    };
}

CPgPinRegistry::CPgPinRegistry(CPgPool& pool, RegistryPolicy policy)
    : m_pool(pool)
    , m_policy(policy)
    , m_lifetime(std::to_string(std::max<long long>(0, policy.lifetime.count())))
{
}

RegistryOutcome CPgPinRegistry::Register(PinRecord& record)
{
    for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
        record.pinCode = NewPinCode();
        PgOutcome added = m_pool.Execute("pin_register",
            { record.pinCode, record.hardwareAddress, record.name, record.address, record.port,
                record.modeOn ? "true" : "false",
                std::to_string(std::max(0, m_policy.maxCodesPerServer)) });
        if (added.ok && PQntuples(added.result.get()) == 1)
            return RegistryOutcome::Done;
        // No row: the code was taken. A race on the same code is the same thing.
        if (!added.ok && added.sqlState != kUniqueViolation)
            break;
    }
    record.pinCode.clear();
    return RegistryOutcome::Unavailable;
}

RegistryOutcome CPgPinRegistry::Update(const PinRecord& record)
{
    PgOutcome updated = m_pool.Execute("pin_update",
        { record.pinCode, record.hardwareAddress, record.name, record.address, record.port,
            record.modeOn ? "true" : "false", m_lifetime });
    if (!updated.ok)
        return RegistryOutcome::Unavailable;
    return std::atoi(PQcmdTuples(updated.result.get())) == 1 ? RegistryOutcome::Done
                                                             : RegistryOutcome::NotFound;
}

RegistryOutcome CPgPinRegistry::Find(const std::string& pinCode, PinRecord& record)
{
    PgOutcome found = m_pool.Execute("pin_find", { pinCode, m_lifetime });
    if (!found.ok)
        return RegistryOutcome::Unavailable;
    if (PQntuples(found.result.get()) != 1)
        return RegistryOutcome::NotFound;
    record = PinRecord { Value(found.result, 0), Value(found.result, 1), Value(found.result, 2),
        Value(found.result, 3), Value(found.result, 4), Value(found.result, 5) == "t" };
    return RegistryOutcome::Done;
}

long long CPgPinRegistry::RemoveExpired()
{
    PgOutcome removed = m_pool.Execute("pin_expire", { m_lifetime });
    return removed.ok ? std::atoll(PQcmdTuples(removed.result.get())) : -1;
}

bool CPgPinRegistry::Reachable()
{
    return m_pool.Execute("ping", {}).ok;
}
