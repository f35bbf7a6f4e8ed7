#pragma once

// The PIN registry in an SQLite file, so registrations outlive a restart of the
// console: the store of a console that runs alone and of the server's embedded one.
// PIN codes are eight random decimal digits, unique in the file. The file's layout
// carries its version (user_version) and is brought up to date when opened, each step
// in its own transaction; a file of the first, unversioned layout keeps its codes.
//
// Threads: one connection and its prepared statements guarded by m_lock; each call
// holds it for its statements.

#include "console/pin_registry.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

class CSqlitePinRegistry : public IPinRegistry {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    explicit CSqlitePinRegistry(RegistryPolicy policy = {}, Clock clock = {});
    ~CSqlitePinRegistry() override;
    CSqlitePinRegistry(const CSqlitePinRegistry&) = delete;
    CSqlitePinRegistry& operator=(const CSqlitePinRegistry&) = delete;

    // Opens (creating when needed) the file; false with error filled when it cannot.
    bool Open(const std::string& path, std::string& error);

    RegistryOutcome Add(PinRecord& record) override;
    RegistryOutcome Replace(const PinRecord& record) override;
    RegistryOutcome Lookup(const std::string& pinCode, PinRecord& record) override;
    long long RemoveExpired() override;
    bool Reachable() override;

    static constexpr int kSchemaVersion = 2;

private:
    struct Statements;
    bool Migrate(std::string& error);
    long long NowSeconds() const;
    long long OldestLiveSecond() const; // 0 when registrations never expire

    const RegistryPolicy m_policy;
    const Clock m_clock;
    std::mutex m_lock;
    sqlite3* m_db = nullptr; // guarded by m_lock
    std::unique_ptr<Statements> m_statements; // guarded by m_lock
};
