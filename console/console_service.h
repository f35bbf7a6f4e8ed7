#pragma once

// The console service's logic, served two ways: by the embedded console the server
// starts on a loopback port, and by the standalone vembacast-console that a user may
// host on a public machine. It answers the console pages with property lists:
//   getExternalIP.php             the requester's external address ("ip")
//   registerPINCode.php           mac, name, port -> a new "pincode"
//   getServerInfoFromPINCode.php  pincode -> "ip", "port", "pcname" (never the mac)
//   updatePINCode.php             pincode, port, name, mac, modeon -> result only
//   updatecheck.php               product -> "version", "code", "url"
// Failed look-ups of PIN codes are limited per requester address.
//
// Threads: Answer is called on the serving library's worker threads; the registry and
// the limiter lock for themselves, everything else is fixed at construction.

#include "console/console_request.h"
#include "console/lookup_limiter.h"
#include "console/pin_registry.h"

#include <functional>
#include <optional>
#include <string>

// The newest release the update check reports.
struct ConsoleRelease {
    std::string version;
    std::string code;
    std::string url;
};

// Result codes of console answers that could not be served.
enum ConsoleResult : int {
    kConsoleResultNoAddress = -1,
    kConsoleResultBadRequest = -2,
    kConsoleResultUnknownPin = -3,
    kConsoleResultTooManyLookups = -4,
    kConsoleResultPinModeOff = -5,
    kConsoleResultNotYourPin = -6,
    kConsoleResultNoRegistry = -7,
};

class CConsoleService {
public:
    // Gives the external address to report for a request; empty when there is none.
    using AddressSource = std::function<std::string(const ConsoleRequest&)>;

    // registry and limiter may be null (no PIN pages, no limit); both outlive the service.
    CConsoleService(AddressSource externalAddress, IPinRegistry* registry = nullptr,
        CLookupLimiter* limiter = nullptr, ConsoleRelease release = {});

    // The answer document of a page, or nullopt for a page the console does not have.
    std::optional<std::string> Answer(const ConsoleRequest& request) const;

private:
    std::string AnswerExternalIp(const ConsoleRequest& request) const;
    std::string AnswerRegister(const ConsoleRequest& request) const;
    std::string AnswerServerInfo(const ConsoleRequest& request) const;
    std::string AnswerUpdatePin(const ConsoleRequest& request) const;
    std::string AnswerUpdateCheck() const;
    // The limiter's verdict for a PIN page; an error document when refused.
    std::optional<std::string> RefuseLookup(const ConsoleRequest& request) const;
    void RecordFailedLookup(const ConsoleRequest& request) const;

    AddressSource m_externalAddress;
    IPinRegistry* m_registry;
    CLookupLimiter* m_limiter;
    ConsoleRelease m_release;
};
