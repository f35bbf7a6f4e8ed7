#include "console/console_store.h"

#include "console/console_log.h"
#include "console/lookup_limiter.h"
#include "console/pg_address_limit.h"
#include "console/pg_pin_registry.h"
#include "console/pg_schema.h"
#include "console/sqlite_pin_registry.h"

#include <algorithm>

namespace {

bool OpenSqlite(const ConsoleOptions& options, ConsoleStore& store, std::string& error)
{
    auto registry = std::make_unique<CSqlitePinRegistry>(PolicyOf(options));
    if (!registry->Open(options.database, error))
        return false;
    store.registry = std::move(registry);
    store.failedLookups = std::make_unique<CLookupLimiter>(
        options.maxFailedLookups, std::chrono::seconds(options.lookupWindowSeconds));
    store.registrations = std::make_unique<CLookupLimiter>(
        options.maxRegistrations, std::chrono::seconds(options.registrationWindowSeconds));
    return true;
}

bool OpenPostgres(const ConsoleOptions& options, ConsoleStore& store, std::string& error)
{
    std::vector<PgStatement> statements = CPgPinRegistry::Statements();
    for (const PgStatement& statement : CPgAddressLimit::Statements())
        statements.push_back(statement);
    PgPoolOptions pool { options.database,
        options.poolSize > 0 ? options.poolSize : options.workers };
    store.pool = std::make_unique<CPgPool>(pool, statements);
    auto connection = store.pool->Connect(error);
    if (!connection || !MigratePgSchema(connection.get(), kPgSchemaVersion, error))
        return false;
    store.registry = std::make_unique<CPgPinRegistry>(*store.pool, PolicyOf(options));
    store.failedLookups = std::make_unique<CPgAddressLimit>(*store.pool, LimitKind::FailedLookup,
        options.maxFailedLookups, std::chrono::seconds(options.lookupWindowSeconds));
    store.registrations = std::make_unique<CPgAddressLimit>(*store.pool, LimitKind::Registration,
        options.maxRegistrations, std::chrono::seconds(options.registrationWindowSeconds));
    return true;
}

} // namespace

RegistryPolicy PolicyOf(const ConsoleOptions& options)
{
    return RegistryPolicy { std::chrono::hours(24) * options.registrationLifetimeDays,
        options.codesPerServer };
}

bool OpenConsoleStore(const ConsoleOptions& options, ConsoleStore& store, std::string& error)
{
    store.longestWindow = std::chrono::seconds(
        std::max(options.lookupWindowSeconds, options.registrationWindowSeconds));
    return IsPostgresTarget(options.database) ? OpenPostgres(options, store, error)
                                              : OpenSqlite(options, store, error);
}

void ConsoleStore::Upkeep()
{
    long long expired = registry->RemoveExpired();
    if (expired > 0)
        ConsoleLog(LogPriority::Info, "dropped %lld PIN codes not renewed in time", expired);
    if (pool)
        CPgAddressLimit::RemoveStale(*pool, longestWindow);
}
