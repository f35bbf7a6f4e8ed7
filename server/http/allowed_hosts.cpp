#include "http/allowed_hosts.h"

#include "config/utf8_text.h"
#include "http/trusted_proxy.h"
#include "platform/host.h"

namespace {

char LowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

bool IsPort(std::string_view port)
{
    if (port.empty() || port.size() > 5)
        return false;
    for (char c : port) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    }
    return true;
}

std::string_view WithoutTrailingDot(std::string_view name)
{
    return name.ends_with('.') ? name.substr(0, name.size() - 1) : name;
}

} // namespace

std::optional<std::string> HostValueName(std::string_view value)
{
    value = TrimBlanks(value);
    std::string name;
    if (value.starts_with('[')) {
        size_t close = value.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        std::string_view rest = value.substr(close + 1);
        if (!rest.empty() && !(rest.starts_with(':') && IsPort(rest.substr(1))))
            return std::nullopt;
        name = std::string(value.substr(1, close - 1));
        if (!IsIpAddress(name))
            return std::nullopt;
    } else {
        size_t colon = value.find(':');
        if (colon != std::string_view::npos && !IsPort(value.substr(colon + 1)))
            return std::nullopt;
        std::string_view host = WithoutTrailingDot(value.substr(0, colon));
        for (char c : host)
            name.push_back(LowerChar(c));
    }
    if (name.empty())
        return std::nullopt;
    for (char c : name) {
        if (!IsNameChar(c) && c != ':' && c != '%')
            return std::nullopt;
    }
    return name;
}

std::vector<std::string> OwnHostNames()
{
    std::vector<std::string> names;
    std::optional<std::string> own = HostValueName(GetHostName());
    if (own) {
        names.push_back(*own);
        if (!own->ends_with(".local"))
            names.push_back(*own + ".local");
    }
    return names;
}

bool IsAllowedHostName(std::string_view name, std::string_view allowedSetting,
    const std::vector<std::string>& ownNames)
{
    if (name.empty())
        return false;
    if (IsIpAddress(name) || name == "localhost")
        return true;
    for (const std::string& own : ownNames) {
        if (SameName(name, own))
            return true;
    }
    while (!allowedSetting.empty()) {
        size_t end = allowedSetting.find_first_of(" \t,;");
        std::string_view allowed = WithoutTrailingDot(TrimBlanks(allowedSetting.substr(0, end)));
        if (!allowed.empty() && SameName(name, allowed))
            return true;
        allowedSetting
            = end == std::string_view::npos ? std::string_view() : allowedSetting.substr(end + 1);
    }
    return false;
}

std::string MisdirectedRequestText(std::string_view name)
{
    return "This server does not answer to the name \"" + std::string(name)
        + "\". Open it by its address, or add the name to the setting " + kAllowedHostsSetting
        + " (vembacastd --allow-host " + std::string(name) + ").";
}
