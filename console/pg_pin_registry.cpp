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

// Failures counted for the requester ($3 kind, $4 address, $5 window) beside the code.
const std::string& GuardedFindSql()
{
    static const std::string sql = WithLifetime(
        "SELECT p.pincode, p.mac, p.name, p.address, p.port, p.modeon, (SELECT c.count FROM "
        "address_counts c WHERE c.kind = $3::smallint AND c.address = $4 AND c.window_start > "
        "now() - $5::bigint * interval '1 second') FROM (SELECT 1) AS one LEFT JOIN pins p ON "
        "p.pincode = $1 AND LIVE",
        "$2");
    return sql;
}

std::string Value(const PgResult& result, int column)
{
    return PQgetvalue(result.get(), 0, column);
}

PinRecord RecordOf(const PgResult& result)
{
    return PinRecord { Value(result, 0), Value(result, 1), Value(result, 2), Value(result, 3),
        Value(result, 4), Value(result, 5) == "t" };
}

} // namespace

std::vector<PgStatement> CPgPinRegistry::Statements()
{
    return {
        { "pin_register", kRegisterSql, 7 },
        { "pin_update", UpdateSql().c_str(), 7 },
        { "pin_find", FindSql().c_str(), 2 },
        { "pin_find_guarded", GuardedFindSql().c_str(), 5 },
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

RegistryOutcome CPgPinRegistry::Add(PinRecord& record)
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

RegistryOutcome CPgPinRegistry::Replace(const PinRecord& record)
{
    PgOutcome updated = m_pool.Execute("pin_update",
        { record.pinCode, record.hardwareAddress, record.name, record.address, record.port,
            record.modeOn ? "true" : "false", m_lifetime });
    if (!updated.ok)
        return RegistryOutcome::Unavailable;
    return std::atoi(PQcmdTuples(updated.result.get())) == 1 ? RegistryOutcome::Done
                                                             : RegistryOutcome::NotFound;
}

RegistryOutcome CPgPinRegistry::Lookup(const std::string& pinCode, PinRecord& record)
{
    PgOutcome found = m_pool.Execute("pin_find", { pinCode, m_lifetime });
    if (!found.ok)
        return RegistryOutcome::Unavailable;
    if (PQntuples(found.result.get()) != 1)
        return RegistryOutcome::NotFound;
    record = RecordOf(found.result);
    return RegistryOutcome::Done;
}

GuardedFind CPgPinRegistry::FindGuarded(const std::string& pinCode, const std::string& requester,
    IAddressLimit* limit, PinRecord& record)
{
    auto* shared = dynamic_cast<CPgAddressLimit*>(limit);
    if (!shared)
        return IPinRegistry::FindGuarded(pinCode, requester, limit, record);
    std::vector<std::string> parameters { pinCode, m_lifetime };
    for (std::string& parameter : shared->CheckParameters(requester))
        parameters.push_back(std::move(parameter));
    PgOutcome found = m_pool.Execute("pin_find_guarded", parameters);
    GuardedFind guarded;
    if (!found.ok || PQntuples(found.result.get()) != 1) {
        guarded.verdict = LimitVerdict::Unknown;
        return guarded;
    }
    bool counted = !PQgetisnull(found.result.get(), 0, 6);
    if (counted && std::atoi(Value(found.result, 6).c_str()) >= shared->MaxCount()) {
        guarded.verdict = LimitVerdict::Refused;
        return guarded;
    }
    if (PQgetisnull(found.result.get(), 0, 0))
        return guarded;
    record = RecordOf(found.result);
    guarded.outcome = RegistryOutcome::Done;
    return guarded;
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
