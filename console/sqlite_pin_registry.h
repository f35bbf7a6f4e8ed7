#pragma once

// The PIN registry in an SQLite file, so registrations outlive a restart of the
// console. PIN codes are eight random decimal digits, unique in the file.
//
// Threads: one connection guarded by m_lock; each call holds it for its statements.

#include "console/pin_registry.h"

#include <mutex>
#include <string>

struct sqlite3;

class CSqlitePinRegistry : public IPinRegistry {
public:
    CSqlitePinRegistry() = default;
    ~CSqlitePinRegistry() override;
    CSqlitePinRegistry(const CSqlitePinRegistry&) = delete;
    CSqlitePinRegistry& operator=(const CSqlitePinRegistry&) = delete;

    // Opens (creating when needed) the file; false with error filled when it cannot.
    bool Open(const std::string& path, std::string& error);

    std::string Register(const PinRecord& record) override;
    bool Update(const PinRecord& record) override;
    std::optional<PinRecord> Find(const std::string& pinCode) override;

private:
    std::mutex m_lock;
    sqlite3* m_db = nullptr; // guarded by m_lock
};
