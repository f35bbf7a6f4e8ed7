#include "http/cross_site.h"

#include "config/utf8_text.h"
#include "http/request.h"

#include <optional>

namespace {

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower;
}

// "scheme://host[:port]" with the scheme's default port dropped.
std::string Normalized(std::string_view scheme, std::string_view authority)
{
    std::string host = Lower(authority);
    const std::string defaultPort = scheme == "https" ? ":443" : ":80";
    bool bracketed = host.starts_with('[');
    size_t close = bracketed ? host.find(']') : std::string::npos;
    bool hasPort = bracketed ? close != std::string::npos && close + 1 < host.size()
                             : host.find(':') != std::string::npos;
    if (hasPort && host.ends_with(defaultPort))
        host.resize(host.size() - defaultPort.size());
    return std::string(scheme) + "://" + host;
}

} // namespace

std::string OwnOrigin(bool secure, std::string_view hostValue)
{
    hostValue = TrimBlanks(hostValue);
    if (hostValue.empty())
        return std::string();
    return Normalized(secure ? "https" : "http", hostValue);
}

std::string OriginOfUrl(std::string_view url)
{
    url = TrimBlanks(url);
    size_t separator = url.find("://");
    if (separator == std::string_view::npos)
        return std::string();
    std::string scheme = Lower(url.substr(0, separator));
    if (scheme != "http" && scheme != "https")
        return std::string();
    std::string_view rest = url.substr(separator + 3);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    // Credentials ("user@host") are not part of the origin.
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority = authority.substr(at + 1);
    if (authority.empty())
        return std::string();
    return Normalized(scheme, authority);
}

bool IsCrossSiteRequest(const HttpRequest& request, std::string_view ownOrigin)
{
    if (std::optional<std::string> site = request.Header("Sec-Fetch-Site")) {
        std::string value = Lower(TrimBlanks(*site));
        if (value == "cross-site" || value == "same-site")
            return true;
    }
    if (std::optional<std::string> origin = request.Header("Origin")) {
        std::string named = OriginOfUrl(*origin);
        if (named.empty() || named != ownOrigin)
            return true;
    }
    if (std::optional<std::string> referer = request.Header("Referer")) {
        // An empty Referer says nothing; one that names a page elsewhere does.
        if (!TrimBlanks(*referer).empty()) {
            std::string named = OriginOfUrl(*referer);
            if (named.empty() || named != ownOrigin)
                return true;
        }
    }
    return false;
}
