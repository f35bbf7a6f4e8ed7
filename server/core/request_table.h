#pragma once

// The client API's request table. Adding a request: write its handler in one file of
// its family (for example core/connect_request.cpp or streaming/play.cpp), declare it
// in that folder's request_handlers.h, and put it into its row in request_table.cpp.

#include "http/dispatch.h"

#include <vector>

class CVembaServer;

// The client API's table, in its fixed order, each handler bound to server.
std::vector<Route> BuildRoutes(CVembaServer& server);
