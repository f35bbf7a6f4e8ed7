#pragma once

// What the web server's start and stop do in the running system: the console's
// external-address refresh, and the clean-up of work folders and list files.

#include "http/web_server.h"

WebServerHooks DefaultWebServerHooks();
// The client API's request table, static files from res/web of the program folder.
WebServerConfig DefaultWebServerConfig();
