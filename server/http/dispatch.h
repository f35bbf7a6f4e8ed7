#pragma once

// Request routing: a table of request paths and the handlers that serve them. The
// URI is compared against the rows top to bottom; the first row that matches serves
// the request. A row without a handler yet, and any URI that matches no row, fall
// through to static files below the document root. The client API's own table is
// built by the server object (core/request_table.h), above every folder that has
// handlers, with each handler bound to the server.

#include <functional>
#include <span>
#include <string>
#include <string_view>

class HttpContext;
class HttpRequest;

// A handler bound to the server it serves (the server object builds the table).
using RequestHandler = std::function<void(HttpRequest& request)>;

enum class RouteMatch {
    Exact, // the whole URI, byte for byte, case-sensitive
    Prefix, // the URI starts with the whole path
};

// What serving a request does besides answering: it decides whether HEAD may run the
// handler and whether a page of another site may set it off (cross_site.h).
enum class RouteEffect {
    ReadOnly, // only reads: HEAD runs the handler, which sends the headers alone
    SideEffects, // makes something (an id, a list file, an engine run): no HEAD
    ChangesState, // acts for the user (power off, conversions, end of play): no HEAD,
                  // and refused when a browser says another site sent it
};

// Who may reach a row.
enum class RouteAccess {
    ClientApi, // anyone; with "RequirePassword" a known client id (access_gate.h)
    HomeNetwork, // only the home network, and without an id (devices without passwords)
};

struct Route {
    std::string path;
    RouteMatch match;
    std::string handlerName;
    RequestHandler handler; // empty until the request is served
    RouteEffect effect = RouteEffect::SideEffects;
    RouteAccess access = RouteAccess::ClientApi;
};

// The first row whose path matches uri, or nullptr.
const Route* FindRoute(std::span<const Route> routes, std::string_view uri);

// Serves the request through the first matching row that has a handler; false when
// the request is left to static file serving. Before any row is looked at, the proxy
// rule is applied (trusted_proxy.h) and the host checked (allowed_hosts.h): a request
// for a name the server does not answer to gets 421, static files included. Never lets
// an exception out.
bool DispatchRequest(HttpContext& server, std::span<const Route> routes, HttpRequest& request);
