#include "http/http_context.h"

HttpContext::HttpContext(ServerParts parts)
    : EngineContext(std::move(parts))
    , m_clients([this] { return Time().Now(); })
    , m_attempts([this] { return Time().Now(); })
    , m_webServer(*this)
{
}

HttpContext::~HttpContext()
{
    // The layers above, which the hooks reach, are gone by now; the server object
    // stops the web server with its hooks before they go, so this stop finds it
    // stopped unless this layer was used alone.
    StopNotices();
    m_webServer.Configure({}, {});
    m_webServer.Stop();
}
