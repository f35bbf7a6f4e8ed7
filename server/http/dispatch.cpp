#include "http/dispatch.h"

#include "config/trace.h"
#include "http/access_gate.h"
#include "http/request.h"

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
    const Route* route = FindRoute(routes, request.Uri());
    if (!route || !route->handler)
        return false;
    // The API reads and never changes anything by method: "DELETE /connect" must not
    // make a session, nor "OPTIONS /serverOff" power anything off.
    if (request.Method() != "GET" && request.Method() != "HEAD") {
        request.Write("HTTP/1.1 405 Method Not Allowed\r\n"
                      "Allow: GET, HEAD\r\n"
                      "Content-Length: 0\r\n"
                      "Connection: close\r\n\r\n");
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
