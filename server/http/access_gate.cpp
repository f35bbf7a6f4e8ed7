#include "http/access_gate.h"

#include "config/settings.h"
#include "config/utf8_text.h"
#include "http/dispatch.h"
#include "http/home_network.h"
#include "http/http_context.h"
#include "http/request.h"

#include <array>

namespace {

bool IsKnownId(HttpContext& server, const std::string& id)
{
    return !id.empty() && server.Clients().FindClientHost(id).has_value();
}

} // namespace

bool IsPasswordRequired(HttpContext& server)
{
    return server.Settings().ReadInt(kRequirePasswordSetting, 0) == 1;
}

std::optional<std::string> FindCookie(std::string_view header, std::string_view name)
{
    while (!header.empty()) {
        size_t end = header.find(';');
        std::string_view pair = TrimBlanks(header.substr(0, end));
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
        size_t equals = pair.find('=');
        if (equals != std::string_view::npos && TrimBlanks(pair.substr(0, equals)) == name)
            return std::string(TrimBlanks(pair.substr(equals + 1)));
    }
    return std::nullopt;
}

std::string PathClientId(std::string_view uri)
{
    for (std::string_view prefix : { std::string_view("/list/"), std::string_view("/file/") }) {
        if (!uri.starts_with(prefix))
            continue;
        std::string_view rest = uri.substr(prefix.size());
        size_t slash = rest.find('/');
        return slash == std::string_view::npos ? std::string() : std::string(rest.substr(0, slash));
    }
    return std::string();
}

std::string CookieClientId(HttpContext& server, const HttpRequest& request)
{
    std::optional<std::string> cookies = request.Header("Cookie");
    if (!cookies)
        return std::string();
    std::optional<std::string> id = FindCookie(*cookies, kClientIdCookie);
    return id && IsKnownId(server, *id) ? *id : std::string();
}

std::string CarriedClientId(HttpContext& server, const HttpRequest& request)
{
    for (std::string id : { GetRequestVar(request, "id"), PathClientId(request.Uri()) }) {
        if (IsKnownId(server, id))
            return id;
    }
    return CookieClientId(server, request);
}

bool CarriesKnownClientId(HttpContext& server, const HttpRequest& request)
{
    return !CarriedClientId(server, request).empty();
}

bool AdmitRequest(HttpContext& server, const Route& route, const HttpRequest& request)
{
    if (route.access == RouteAccess::HomeNetwork)
        return IsHomeNetworkAddress(request.RemoteAddress());
    if (route.path == "/connect" || !IsPasswordRequired(server))
        return true;
    return CarriesKnownClientId(server, request);
}

std::string ClientIdCookieHeader(
    const std::string& clientId, bool secure, const std::string& basePath)
{
    return "Set-Cookie: " + std::string(kClientIdCookie) + "=" + clientId + "; Path=" + basePath
        + "/; Max-Age=" + std::to_string(kClientIdCookieSeconds) + "; HttpOnly; SameSite=Strict"
        + (secure ? "; Secure" : "") + "\r\n";
}

bool PasswordMatches(std::string_view given, std::string_view stored)
{
    if (stored.empty())
        return false;
    unsigned char difference = given.size() == stored.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ stored[i % stored.size()]);
    return difference == 0;
}
