#pragma once

// The console service client. The console tells the server its external address and
// keeps its PIN registration; each request is one HTTP form POST whose answer is a
// property list. CRelayServer is a short-lived value: construct one, make a request
// or two, let it go.
//
// The base addresses come from the settings ("TestSeverURL" and its _PIN, _INFO and
// _UPDATE companions); when "TestSeverURL" is empty the built-in console is used,
// which is the server's embedded console on a loopback port while it runs. With no
// built-in console and no setting every request answers empty.

#include "remote/http_transport.h"

#include <string>

class SettingsStore;

inline constexpr int kFormPost = 1;

// Splits an http address into host, port and object; false for anything that is not
// plain http with a host and a valid port.
bool SplitHttpUrl(const std::string& url, HttpTarget& target);

// The locale of the PIN requests: "KR" when "General_language" is kor, else "EN".
std::string PinLocale(SettingsStore& settings);
// The locale of the update check: "ErrLANG", default "en".
std::string UpdateLocale(SettingsStore& settings);

// The largest console answer taken; the console's answers are a few hundred bytes.
inline constexpr size_t kMaxConsoleAnswerBytes = 1024 * 1024;

class CRelayServer {
public:
    // builtInRoot: the embedded console's root address ("http://127.0.0.1:PORT/"),
    // empty for none. cancel, when given, ends a request under way once it is set.
    CRelayServer(SettingsStore& settings, IHttpTransport& transport,
        const std::string& builtInRoot = std::string(), const CancelFlag* cancel = nullptr);

    // One request: base + page (a '/' is added to a base that ends with neither '/'
    // nor '\'). Answers "ERR:INVAILD URL", "ERR: Unable Internet Session" or
    // "ERR: Unable Relay Server" for transport failures, the body for status 200
    // (what was read when the answer broke off), else empty.
    std::string PostForm(
        const std::string& base, const std::string& page, const std::string& body, int method);

    // The console requests. Each answers the console's property list, or empty text on
    // any transport failure, a cut-off answer, or one that is too large or not UTF-8.
    std::string GetExternalIp();
    std::string RegisterPinCode(
        const std::string& hardwareAddress, const std::string& name, const std::string& port);
    std::string GetServerInfoFromPinCode(const std::string& pinCode, const std::string& locale);
    std::string UpdatePinCode(const std::string& pinCode, const std::string& port,
        const std::string& name, const std::string& hardwareAddress, bool pinModeOn,
        const std::string& locale);
    std::string CheckUpdate(const std::string& locale);

    const std::string& PinAddress() const { return m_pinAddress; }
    const std::string& InfoAddress() const { return m_infoAddress; }
    const std::string& UpdateAddress() const { return m_updateAddress; }

    // PostForm with an error answer ("ERR:..." of 5 or more characters) made empty.
    std::string Request(const std::string& base, const std::string& page, const std::string& body);

private:
    IHttpTransport& m_transport;
    const CancelFlag* m_cancel;
    std::string m_rootAddress;
    std::string m_pinAddress;
    std::string m_infoAddress;
    std::string m_updateAddress;
};
