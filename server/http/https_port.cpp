#include "http/https_port.h"

#include "config/settings_store.h"
#include "platform/ports.h"

#include <algorithm>
#include <cctype>

namespace {

// A port number from 1 to 65535, 0 for an empty text or "0" (HTTPS off), -1 otherwise.
int PortOf(const std::string& text)
{
    if (text.empty())
        return 0;
    if (text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        }))
        return -1;
    int port = std::stoi(text);
    return port <= 65535 ? port : -1;
}

} // namespace

HttpsPort::HttpsPort(int port, TlsFiles files, int hstsMaxAge)
    : m_port(port)
    , m_hstsMaxAge(hstsMaxAge > 0 ? std::to_string(hstsMaxAge) : std::string())
    , m_store(std::move(files))
{
}

bool HttpsPort::Prepare(const SettingsSnapshot& settings, int plainPort,
    std::shared_ptr<HttpsPort>& https, std::string& error)
{
    https.reset();
    std::string portText = settings.Text(kKeyTlsPort);
    int port = PortOf(portText);
    if (port == 0)
        return true;
    if (port < 0) {
        error = "the HTTPS port '" + portText + "' is no number from 1 to 65535";
        return false;
    }
    if (port == plainPort) {
        error = "the HTTPS port " + portText + " is the plain HTTP port as well";
        return false;
    }
    if (!IsPortFree(port)) {
        error = "the HTTPS port " + portText + " is taken";
        return false;
    }
    // Paths are read uncut: a long path must not turn into another file.
    TlsFiles files { settings.Value(kSettingSection, kKeyTlsCert).value_or(""),
        settings.Value(kSettingSection, kKeyTlsKey).value_or("") };
    std::shared_ptr<HttpsPort> candidate(
        new HttpsPort(port, std::move(files), settings.Int(kKeyHstsMaxAge, 0)));
    if (!candidate->m_store.Load(error))
        return false;
    https = std::move(candidate);
    return true;
}

std::string HttpsPort::ListeningEntry() const
{
    return std::to_string(m_port) + "s";
}

void HttpsPort::AddOptions(std::vector<const char*>& options) const
{
    // TLS 1.2 and later from the library's own set-up as well; the context hook
    // (ConfigureContext) then sets the ciphers and the certificate choice.
    options.insert(options.end(), { "ssl_protocol_version", "4" });
    if (!m_hstsMaxAge.empty())
        options.insert(
            options.end(), { "strict_transport_security_max_age", m_hstsMaxAge.c_str() });
}

bool HttpsPort::Reload(std::string& outcome)
{
    if (!m_store.Load(outcome))
        return false;
    outcome = Describe();
    return true;
}

std::string HttpsPort::Describe() const
{
    std::shared_ptr<const TlsIdentity> identity = m_store.Current();
    return identity ? DescribeTlsIdentity(*identity) : std::string();
}
