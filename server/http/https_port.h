#pragma once

// The HTTPS port: a second listening port beside the plain one, on the same request
// table, served through the HTTP library's OpenSSL support. The plain port stays
// what the phone client uses (its URLs are http://); browsers from outside may use
// this one. It is on when "TlsPort" names a port; then "TlsCert" and "TlsKey" must
// name a certificate and key that belong together, or the server does not start:
// it never falls back to plain HTTP alone. "HstsMaxAge" above 0 sends
// Strict-Transport-Security with the static files (the page), only when the user asks
// for it, since it binds browsers to HTTPS on every port of the host (browsers heed it
// over HTTPS only).

#include "http/tls_identity.h"

#include <memory>
#include <string>
#include <vector>

class SettingsSnapshot;

inline constexpr const char* kKeyTlsPort = "TlsPort";
inline constexpr const char* kKeyTlsCert = "TlsCert";
inline constexpr const char* kKeyTlsKey = "TlsKey";
inline constexpr const char* kKeyTlsExtPort = "TlsExtPort"; // the port mapped on the router
inline constexpr const char* kKeyHstsMaxAge = "HstsMaxAge";

class HttpsPort {
public:
    // Reads the HTTPS settings; null when HTTPS is off. With HTTPS on, false with a
    // sentence in error when its port is unusable (taken, out of range, the plain
    // port) or the certificate and key cannot be loaded.
    static bool Prepare(const SettingsSnapshot& settings, int plainPort,
        std::shared_ptr<HttpsPort>& https, std::string& error);

    int Port() const { return m_port; }
    // The HTTP library's "listening_ports" entry of this port ("47443s").
    std::string ListeningEntry() const;
    // Adds the library options of this port (before the closing null); the texts live
    // as long as this object.
    void AddOptions(std::vector<const char*>& options) const;
    // The library's context hook: the TLS settings and the certificate choice.
    bool ConfigureContext(void* sslContext, std::string& error)
    {
        return m_store.ConfigureServerContext(sslContext, error);
    }
    // Reads the certificate and key again; the next connection presents them. The
    // outcome is the new certificate's description, or why the old one stays.
    bool Reload(std::string& outcome);
    std::string Describe() const;

private:
    HttpsPort(int port, TlsFiles files, int hstsMaxAge);

    const int m_port;
    const std::string m_hstsMaxAge; // empty: no Strict-Transport-Security
    TlsIdentityStore m_store;
};
