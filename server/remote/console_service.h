#pragma once

// The console service's own logic, shared by the embedded console (started by the
// server on a loopback port when no console address is configured) and the
// standalone service. It answers the console pages with property lists; a page is
// known by the last part of its path, so "/info/getExternalIP.php" and
// "/getExternalIP.php" are the same page.

#include "http/form_service.h"

#include <functional>
#include <optional>
#include <string>

class CConsoleService {
public:
    // Gives the external address to report for a request; empty when there is none.
    using AddressSource = std::function<std::string(const FormRequest&)>;

    explicit CConsoleService(AddressSource externalAddress);

    // The answer document of a page, or nullopt for a page the console does not have.
    std::optional<std::string> Answer(const FormRequest& request) const;

private:
    std::string AnswerExternalIp(const FormRequest& request) const;

    AddressSource m_externalAddress;
};

// The result code and message of a console answer that could not be served.
inline constexpr int kConsoleResultNoAddress = -1;
