#include "remote/relay_server.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/utf8_text.h"
#include "remote/form_encoding.h"

#include <cctype>
#include <strings.h>

namespace {

std::string WithSlash(std::string address)
{
    if (!address.empty() && address.back() != '/' && address.back() != '\\')
        address += '/';
    return address;
}

std::string SettingOr(
    const SettingsSnapshot& settings, const char* key, const std::string& fallback)
{
    std::string value = settings.Text(key);
    return value.empty() ? fallback : value;
}

bool ParsePort(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

bool SplitHttpUrl(const std::string& url, HttpTarget& target)
{
    constexpr std::string_view kScheme = "http://";
    if (url.size() <= kScheme.size()
        || strncasecmp(url.c_str(), kScheme.data(), kScheme.size()) != 0)
        return false;
    std::string rest = url.substr(kScheme.size());
    size_t objectStart = rest.find('/');
    std::string authority = rest.substr(0, objectStart);
    std::string object = objectStart == std::string::npos ? "/" : rest.substr(objectStart);
    if (authority.find('@') != std::string::npos)
        return false;

    std::string host = authority;
    std::string portText;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        host = authority.substr(0, close + 1);
        std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return false;
            portText = after.substr(1);
        }
    } else if (size_t colon = authority.find(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of(" \t\r\n") != std::string::npos)
        return false;
    int port = 80;
    if (!portText.empty() && !ParsePort(portText, port))
        return false;
    target = HttpTarget { host, port, object };
    return true;
}

CRelayServer::CRelayServer(SettingsStore& settings, IHttpTransport& transport,
    const std::string& builtInRoot, const CancelFlag* cancel)
    : m_transport(transport)
    , m_cancel(cancel)
{
    std::shared_ptr<const SettingsSnapshot> current = settings.Current();
    m_rootAddress = WithSlash(SettingOr(*current, kKeyTestServerURL, builtInRoot));
    std::string root = m_rootAddress;
    m_pinAddress = SettingOr(*current, kKeyTestServerURLPin, root.empty() ? "" : root + "pin/");
    m_infoAddress = SettingOr(*current, kKeyTestServerURLInfo, root.empty() ? "" : root + "info/");
    m_updateAddress
        = SettingOr(*current, kKeyTestServerURLUpdate, root.empty() ? "" : root + "update/");
}

std::string CRelayServer::PostForm(
    const std::string& base, const std::string& page, const std::string& body, int method)
{
    std::string url = WithSlash(base) + page;
    HttpTarget target;
    if (!SplitHttpUrl(url, target))
        return "ERR:INVAILD URL";
    TransportResult result = m_transport.Exchange(target, body, method == kFormPost, m_cancel);
    switch (result.failure) {
    case TransportFailure::Connect:
        return "ERR: Unable Internet Session";
    case TransportFailure::Request:
        return "ERR: Unable Relay Server";
    case TransportFailure::Receive:
    case TransportFailure::TooLarge:
        // A cut-off answer may end inside a value ("192.168.1"): nothing of it is used.
        return std::string();
    case TransportFailure::None:
        break;
    }
    if (result.status != 200 || result.body.size() > kMaxConsoleAnswerBytes
        || SanitizeUtf8(result.body) != result.body)
        return std::string();
    return result.body;
}

std::string CRelayServer::Request(
    const std::string& base, const std::string& page, const std::string& body)
{
    std::string answer = PostForm(base, page, body, kFormPost);
    if (answer.size() >= 5 && answer.starts_with("ERR:"))
        answer.clear();
    return answer;
}

std::string CRelayServer::GetExternalIp()
{
    return Request(m_infoAddress, "getExternalIP.php", "admin_id=corvane");
}

std::string CRelayServer::RegisterPinCode(
    const std::string& hardwareAddress, const std::string& name, const std::string& port)
{
    return Request(m_pinAddress, "registerPINCode.php",
        FormBody({ { "mac", hardwareAddress }, { "name", name }, { "port", port } }));
}

std::string CRelayServer::GetServerInfoFromPinCode(
    const std::string& pinCode, const std::string& locale)
{
    return Request(m_pinAddress, "getServerInfoFromPINCode.php",
        FormBody({ { "pincode", pinCode }, { "locale", locale } }));
}

std::string CRelayServer::UpdatePinCode(const std::string& pinCode, const std::string& port,
    const std::string& name, const std::string& hardwareAddress, bool pinModeOn,
    const std::string& locale)
{
    return Request(m_pinAddress, "updatePINCode.php",
        FormBody({ { "pincode", pinCode }, { "port", port }, { "name", name },
            { "mac", hardwareAddress }, { "modeon", pinModeOn ? "1" : "0" },
            { "locale", locale } }));
}

std::string CRelayServer::CheckUpdate(const std::string& locale)
{
    return Request(
        m_updateAddress, "updatecheck.php", FormBody({ { "product", "0" }, { "locale", locale } }));
}

std::string PinLocale(SettingsStore& settings)
{
    std::string language = settings.ReadText(kKeyGeneralLanguage, kDefaultGeneralLanguage);
    for (char& c : language)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return language == "KOR" ? "KR" : "EN";
}

std::string UpdateLocale(SettingsStore& settings)
{
    return settings.ReadText(kKeyErrLang, kDefaultErrLang);
}
