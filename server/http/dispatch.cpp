#include "http/dispatch.h"

#include "config/settings_store.h"
#include "config/trace.h"
#include "config/utf8_text.h"
#include "http/access_gate.h"
#include "http/allowed_hosts.h"
#include "http/cross_site.h"
#include "http/http_context.h"
#include "http/request.h"
#include "http/trusted_proxy.h"

namespace {

void SendPlainText(HttpRequest& request, const char* status, const std::string& text)
{
    request.Write(std::string("HTTP/1.1 ") + status
        + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
        + std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text);
}

// Applies the proxy rule and checks the host asked for; false when the request has been
// answered and goes no further.
bool SeeClientAndHost(HttpContext& server, HttpRequest& request)
{
    std::shared_ptr<const SettingsSnapshot> settings = server.Settings().Current();
    const TrustedProxies proxies = TrustedProxies::Parse(settings->Text(kTrustedProxiesSetting));
    ClientView client = SeeClient(proxies, request.PeerAddress(), request.IsTls(),
        [&request](std::string_view name) { return request.Header(name); });
    if (!client.fault.empty()) {
        TraceMessage(kTraceWebFailure, "Web Server - proxy %s: %s", request.PeerAddress().c_str(),
            client.fault.c_str());
        SendPlainText(request, "400 Bad Request", client.fault + ".");
        return false;
    }
    request.SetClient(client);
    // A trusted proxy has checked the name it forwards; a request without a host
    // (HTTP/1.0) cannot have been sent under a foreign name by a browser.
    if (client.forwardedHost || TrimBlanks(client.host).empty())
        return true;
    std::optional<std::string> name = HostValueName(client.host);
    if (!name) {
        SendPlainText(request, "400 Bad Request", "The Host header is not a host name.");
        return false;
    }
    if (!IsAllowedHostName(*name, settings->Text(kAllowedHostsSetting), OwnHostNames())) {
        TraceMessage(kTraceRequest, " - refused: host '%s' from %s", name->c_str(),
            request.RemoteAddress().c_str());
        SendPlainText(request, "421 Misdirected Request", MisdirectedRequestText(*name));
        return false;
    }
    return true;
}

} // namespace

const Route* FindRoute(std::span<const Route> routes, std::string_view uri)
{
    for (const Route& route : routes) {
        const std::string& path = route.path;
        bool matches = route.match == RouteMatch::Exact ? uri == path : uri.starts_with(path);
        if (matches)
            return &route;
    }
    return nullptr;
}

bool DispatchRequest(HttpContext& server, std::span<const Route> routes, HttpRequest& request)
{
    // The library has removed dot segments already; a ".." left here would be a path
    // we never serve, handled or static.
    if (HasDotDotComponent(request.Uri())) {
        request.SendError(404, "Not Found");
        return true;
    }
    if (!SeeClientAndHost(server, request))
        return true;
    const Route* route = FindRoute(routes, request.Uri());
    if (!route || !route->handler)
        return false;
    // The API reads and never changes anything by method: "DELETE /connect" must not
    // make a session, nor "OPTIONS /serverOff" power anything off; and HEAD, which
    // crawlers and link previews send freely, runs only handlers that merely read.
    const bool headAllowed = route->effect == RouteEffect::ReadOnly;
    if (request.Method() != "GET" && !(request.Method() == "HEAD" && headAllowed)) {
        request.Write(std::string("HTTP/1.1 405 Method Not Allowed\r\n")
            + (headAllowed ? "Allow: GET, HEAD\r\n" : "Allow: GET\r\n")
            + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        return true;
    }
    if (route->effect == RouteEffect::ChangesState
        && IsCrossSiteRequest(request, OwnOrigin(request.IsSecure(), request.HostValue()))) {
        TraceMessage(kTraceRequest, " - refused: %s sent by another site (%s)",
            route->handlerName.c_str(), request.RemoteAddress().c_str());
        SendPlainText(request, "403 Forbidden", kCrossSiteRefusedText);
        return true;
    }
    if (!AdmitRequest(server, *route, request)) {
        request.SendError(403, "Forbidden");
        return true;
    }
    try {
        route->handler(request);
    } catch (...) {
        TraceMessage(kTraceWebFailure, "Web Server - %s failed: ('%s')", route->handlerName.c_str(),
            request.Uri().c_str());
        if (!request.Answered())
            request.SendError(500, "Internal Server Error");
    }
    return true;
}
