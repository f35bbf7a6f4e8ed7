#pragma once

// The console's PIN registry: which server (hardware address, name, external address
// and port) a PIN code stands for. Implementations are safe to call from several
// request threads at once. A store that cannot be reached answers Unavailable, which
// the console tells apart from an unknown code: an outage is no failed guess, and a
// server must not drop its code because of it.

#include "console/address_limit.h"

#include <chrono>
#include <optional>
#include <string>

struct PinRecord {
    std::string pinCode;
    std::string hardwareAddress; // kept to check updates; never handed out
    std::string name;
    std::string address; // the external address the server registered from
    std::string port;
    bool modeOn = true;
};

enum class RegistryOutcome {
    Done,
    NotFound,
    Unavailable, // the store could not be reached or refused the statement
};

// How long registrations live and how many one server may hold.
struct RegistryPolicy {
    // A registration neither made nor renewed (updated) for this long is gone; zero
    // keeps every registration for ever (the embedded console's own store).
    std::chrono::seconds lifetime { 0 };
    // The live codes one hardware address may hold; a registration beyond it replaces
    // that server's oldest. Zero means no bound.
    int maxCodesPerServer = 0;
};

inline constexpr std::chrono::seconds kDefaultRegistrationLifetime { 30 * 24 * 3600 };
inline constexpr int kDefaultCodesPerServer = 4;

// A look-up made for a requester under the failed-look-up limit: the limit's verdict,
// and the outcome when the look-up was allowed.
struct GuardedFind {
    LimitVerdict verdict = LimitVerdict::Allowed;
    RegistryOutcome outcome = RegistryOutcome::NotFound;
};

class IPinRegistry {
public:
    virtual ~IPinRegistry() = default;
    // Stores record under a new PIN code, which it writes into record.pinCode.
    virtual RegistryOutcome Add(PinRecord& record) = 0;
    // Replaces the record of record.pinCode and renews it.
    virtual RegistryOutcome Replace(const PinRecord& record) = 0;
    virtual RegistryOutcome Lookup(const std::string& pinCode, PinRecord& record) = 0;
    // The limit's check, then (when allowed) Lookup. A store that keeps the limit's
    // counts beside the codes answers both in one step.
    virtual GuardedFind FindGuarded(const std::string& pinCode, const std::string& requester,
        IAddressLimit* limit, PinRecord& record)
    {
        GuardedFind guarded;
        guarded.verdict = limit ? limit->Check(requester) : LimitVerdict::Allowed;
        if (guarded.verdict == LimitVerdict::Allowed)
            guarded.outcome = Lookup(pinCode, record);
        return guarded;
    }
    // Drops the registrations past their lifetime; the number dropped, -1 when the
    // store could not be reached.
    virtual long long RemoveExpired() = 0;
    // True when the store answers now (the balancer's health check).
    virtual bool Reachable() = 0;

    // The same for callers that take any failure as none: the new code or empty text,
    // true when replaced, the record or nothing.
    std::string Register(const PinRecord& record)
    {
        PinRecord stored = record;
        return Add(stored) == RegistryOutcome::Done ? stored.pinCode : std::string();
    }
    bool Update(const PinRecord& record) { return Replace(record) == RegistryOutcome::Done; }
    std::optional<PinRecord> Find(const std::string& pinCode)
    {
        PinRecord record;
        return Lookup(pinCode, record) == RegistryOutcome::Done ? std::optional(record)
                                                                : std::nullopt;
    }
};

// Eight random decimal digits.
std::string NewPinCode();
