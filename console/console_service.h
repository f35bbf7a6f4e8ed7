#pragma once

// The console service's logic, served two ways: by the embedded console the server
// starts on a loopback port, and by the standalone vembacast-console that a user may
// host on a public machine. It answers the console pages with property lists:
//   getExternalIP.php             the requester's external address ("ip")
//   registerPINCode.php           mac, name, port -> a new "pincode"
//   getServerInfoFromPINCode.php  pincode -> "ip", "port", "pcname" (never the mac)
//   updatePINCode.php             pincode, port, name, mac, modeon -> result only
//   updatecheck.php               product -> "version", "code", "url"
// Failed look-ups of PIN codes and registrations are limited per requester address;
// one server holds a bounded number of codes (the registry's policy). When the
// registry cannot be reached the answer is a 503, so a server takes it for no answer
// and keeps its code, rather than for a verdict on the code.
//
// Threads: Answer is called on the serving library's worker threads; the registry and
// the limiter lock for themselves, everything else is fixed at construction.

#include "console/address_limit.h"
#include "console/console_request.h"
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
    kConsoleResultTooManyRegistrations = -8,
};

// An answer with its HTTP status: 200, 404 for a page the console does not have, 503
// while the registry or the shared limits cannot be reached.
struct ConsoleAnswer {
    int status = 200;
    std::string document;
};

class CConsoleService {
public:
    // Gives the external address to report for a request; empty when there is none.
    using AddressSource = std::function<std::string(const ConsoleRequest&)>;

    // registry and the limits may be null (no PIN pages, no limit); all outlive the
    // service. lookupLimit counts failed look-ups, registrationLimit registrations.
    CConsoleService(AddressSource externalAddress, IPinRegistry* registry = nullptr,
        IAddressLimit* lookupLimit = nullptr, ConsoleRelease release = {},
        IAddressLimit* registrationLimit = nullptr);

    ConsoleAnswer Respond(const ConsoleRequest& request) const;
    // The answer document of a page (an unreachable registry's too), or nullopt for a
    // page the console does not have.
    std::optional<std::string> Answer(const ConsoleRequest& request) const;

private:
    ConsoleAnswer AnswerExternalIp(const ConsoleRequest& request) const;
    ConsoleAnswer AnswerRegister(const ConsoleRequest& request) const;
    ConsoleAnswer AnswerServerInfo(const ConsoleRequest& request) const;
    ConsoleAnswer AnswerUpdatePin(const ConsoleRequest& request) const;
    ConsoleAnswer AnswerUpdateCheck() const;
    // Looks pinCode up under the look-up limit; status 0 when record was found, else
    // the answer that says why not.
    ConsoleAnswer GuardedLookUp(
        const ConsoleRequest& request, const std::string& pinCode, PinRecord& record) const;
    // The answer to a failed look-up, counted against the requester.
    ConsoleAnswer FailedLookup(
        const ConsoleRequest& request, int result, const char* message) const;

    AddressSource m_externalAddress;
    IPinRegistry* m_registry;
    IAddressLimit* m_lookupLimit;
    ConsoleRelease m_release;
    IAddressLimit* m_registrationLimit;
};
