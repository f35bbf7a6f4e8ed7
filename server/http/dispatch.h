#pragma once

// The request table: every request path of the client API and the handler that serves
// it. The URI is compared against the rows top to bottom; the first row that matches
// serves the request. A row without a handler yet, and any URI that matches no row,
// fall through to static files below the document root.
//
// Adding a request: write its handler in one file of its family (for example
// server/http/connect.cpp or server/streaming/play.cpp), declare it in
// http/handlers.h, and put it into its row of kRoutes in dispatch_table.cpp.

#include <span>
#include <string_view>

class HttpRequest;

using RequestHandler = void (*)(HttpRequest& request);

enum class RouteMatch {
    Exact, // the whole URI, byte for byte, case-sensitive
    Prefix, // the URI starts with the whole path
};

struct Route {
    const char* path;
    RouteMatch match;
    const char* handlerName;
    RequestHandler handler; // nullptr until the request is served
};

// The client API's table, in its fixed order.
std::span<const Route> DefaultRoutes();

// The first row whose path matches uri, or nullptr.
const Route* FindRoute(std::span<const Route> routes, std::string_view uri);

// Serves the request through the first matching row that has a handler; false when
// the request is left to static file serving. Never lets an exception out.
bool DispatchRequest(std::span<const Route> routes, HttpRequest& request);
