#pragma once

// The console's PIN registry: which server (hardware address, name, external address
// and port) a PIN code stands for. Implementations are safe to call from several
// request threads at once.

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

class IPinRegistry {
public:
    virtual ~IPinRegistry() = default;
    // Stores record under a new PIN code and returns it; empty when it cannot.
    virtual std::string Register(const PinRecord& record) = 0;
    // Replaces the record of record.pinCode; false when there is none.
    virtual bool Update(const PinRecord& record) = 0;
    virtual std::optional<PinRecord> Find(const std::string& pinCode) = 0;
};
