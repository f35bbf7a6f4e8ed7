#pragma once

// The server as its HTTP front sees it: the layer of the server object that owns the
// client ids with their hosts, the failed password attempts of "/connect" and the
// embedded HTTP server itself (see enginectl/engine_context.h for how the layers of
// the server object stack).

#include "enginectl/engine_context.h"
#include "http/client_ids.h"
#include "http/password_attempts.h"
#include "http/web_server.h"

class HttpContext : public EngineContext {
public:
    explicit HttpContext(ServerParts parts);
    ~HttpContext() override;

    ClientIds& Clients() { return m_clients; }
    PasswordAttempts& ConnectAttempts() { return m_attempts; }
    CWebServer& WebServer() { return m_webServer; }
    const CWebServer& WebServer() const { return m_webServer; }
    // The external port loaded at the last start, for URLs that point a client back.
    unsigned ExtPort() const { return static_cast<unsigned>(m_webServer.ExtPort()); }

private:
    ClientIds m_clients;
    PasswordAttempts m_attempts;
    CWebServer m_webServer; // last: stopped before the rest of this layer goes
};
