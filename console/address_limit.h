#pragma once

// A bound on how often one requester address may do a thing within a window: failed
// PIN look-ups, registrations. One console keeps the counts in its memory; consoles
// sharing a database keep them there, so that adding instances does not multiply
// what one address may try.

#include <string>

enum class LimitVerdict {
    Allowed,
    Refused,
    Unknown, // the counts could not be read (their store is unreachable)
};

class IAddressLimit {
public:
    virtual ~IAddressLimit() = default;
    virtual LimitVerdict Check(const std::string& address) = 0;
    // Counts one more for address; false when it could not be counted.
    virtual bool Record(const std::string& address) = 0;
};
