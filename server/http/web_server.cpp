#include "http/web_server.h"

#include "config/settings.h"
#include "config/trace.h"
#include "http/civet_support.h"
#include "http/request.h"
#include "platform/places.h"
#include "platform/ports.h"

#include <civetweb.h>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

std::atomic<int> g_nExtPort { 0 };

namespace {

// What a running server's callback reads; owned by the process-wide state below and
// freed only after the library has stopped every thread that could read it.
struct RunningServer {
    std::vector<Route> routes;
    mg_context* context = nullptr;
};

std::mutex g_startStopLock;
std::unique_ptr<RunningServer> g_server; // guarded by g_startStopLock
std::atomic<bool> g_running { false }; // mirrors g_server for readers without the lock
std::atomic<int> g_listeningPort { 0 };

// The client's own page, scripts and styles (the only static files): only this
// server's scripts run, and hls.js may feed the player from blob: URLs and a worker.
constexpr const char* kPageHeaders
    = "Content-Security-Policy: default-src 'self'; media-src 'self' blob:; worker-src 'self' blob:"
      "\r\nX-Content-Type-Options: nosniff";

constexpr const char* kExtraMimeTypes
    = ".m4v=video/mp4v-es,.ts=video/mp2t,.m3u8=application/vnd.apple.mpegurl,.mjs=text/javascript";

// The leading decimal number of a setting text; 0 when there is none or it is too big.
int SettingNumber(const std::string& text)
{
    long value = std::strtol(text.c_str(), nullptr, 10);
    return value < INT_MIN || value > INT_MAX ? 0 : static_cast<int>(value);
}

int BeginRequest(mg_connection* connection)
{
    const mg_request_info* info = mg_get_request_info(connection);
    auto* server = static_cast<RunningServer*>(mg_get_user_data(mg_get_context(connection)));
    if (!info || !info->local_uri || !server)
        return 0;
    try {
        HttpRequest request(connection);
        return DispatchRequest(server->routes, request) ? 200 : 0;
    } catch (...) {
        return 0; // nothing was written: the library answers as for a static file
    }
}

} // namespace

bool IsWebServerRunning()
{
    return g_running.load();
}

int GetListeningPort()
{
    return g_listeningPort.load();
}

CWebServer::CWebServer(WebServerHooks hooks, WebServerConfig config)
    : m_hooks(std::move(hooks))
    , m_config(std::move(config))
{
}

CWebServer::~CWebServer()
{
    Stop();
}

bool CWebServer::CheckSettings() const
{
    if (GetSettingInt(kSettingSection, "SET", 0) == 0)
        return false;
    if (GetSettingString("ExtIP").empty() || GetSettingString("ExtPort").empty()
        || GetSettingString("MACA").empty())
        return false;
    if (GetSettingInt(kSettingSection, "PINCodeMode", 0) == 1
        && (GetSettingString("PINCode").empty() || GetSettingString("PCName").empty()))
        return false;
    if (GetSettingInt(kSettingSection, "PasswordMode", 0) == 1
        && GetSettingString("Password").empty())
        return false;
    return true;
}

void CWebServer::LoadSettings()
{
    m_strInIP = GetSettingString("InIP");
    m_nPort = SettingNumber(GetSettingString("InPort"));
    m_strExtIP = GetSettingString("ExtIP");
    g_nExtPort = SettingNumber(GetSettingString("ExtPort"));
}

bool CWebServer::CheckNetwork()
{
    if (!m_hooks.refreshExternalIp || !m_hooks.refreshExternalIp())
        return false;
    m_strExtIP = GetSettingString("ExtIP");
    // The running server's own port counts as free: a second start must reach the
    // "already running" answer, not fail on the port it holds itself.
    bool ownPort = g_running && g_listeningPort == m_nPort;
    if (m_nPort <= 0 || m_nPort > 65535 || !(ownPort || IsPortFree(m_nPort)))
        return false;
    if (GetSettingInt(kSettingSection, "AutoPortMapMode", 0) != 0 || m_nPort == g_nExtPort)
        return true;
    // Manual mapping forwards the same port; correct it so the next start passes.
    SetSettingString("", kSettingSection, "ExtPort", std::to_string(m_nPort));
    return false;
}

namespace {

constexpr const char* kWorkerThreads = "256";
constexpr const char* kRequestTimeoutMs = "5000";

} // namespace

bool CWebServer::StartLibrary()
{
    auto server = std::make_unique<RunningServer>();
    server->routes.assign(m_config.routes.begin(), m_config.routes.end());
    std::string portText = std::to_string(m_nPort);
    std::string root
        = m_config.documentRoot.empty() ? GetResourceFolder() + "/web" : m_config.documentRoot;
    // A worker is taken by a connection from its first byte (the library cannot
    // refuse one before its request line arrives), so idle and slow clients are
    // outlasted by numbers and a short timeout: more workers than the slow
    // connections one address plausibly holds, and 5 s for a request's headers. The
    // same timeout bounds each write, so a download fails only for a reader slower
    // than one 64 KB chunk in 5 s (about 13 KB/s).
    // clang-format off
    const char* options[] = {
        "listening_ports", portText.c_str(),
        "document_root", root.c_str(),
        "num_threads", kWorkerThreads,
        "request_timeout_ms", kRequestTimeoutMs,
        "listen_backlog", "1024",
        "connection_queue", "1024",
        "enable_keep_alive", "no",
        "enable_directory_listing", "no",
        "max_request_size", "16384",
        "extra_mime_types", kExtraMimeTypes,
        "additional_header", kPageHeaders,
        nullptr,
    };
    // clang-format on
    mg_callbacks callbacks {};
    SetCommonCallbacks(callbacks);
    callbacks.begin_request = BeginRequest;

    EnsureCivetLibrary();
    char errorText[256] = "";
    unsigned errorCode = 0;
    mg_error_data error { &errorCode, errorText, sizeof(errorText) };
    mg_init_data init { &callbacks, server.get(), options };
    server->context = mg_start2(&init, &error);
    if (!server->context) {
        TraceMessage(kTraceWebFailure, "Web Server - Cannot initialize Mongoose context");
        if (errorText[0])
            TraceMessage(kTraceWebFailure, "Web Server - %s", errorText);
        return false;
    }
    g_server = std::move(server);
    g_listeningPort = m_nPort;
    g_running = true;
    return true;
}

bool CWebServer::Start()
{
    std::lock_guard lock(g_startStopLock);
    if (!CheckSettings()) {
        m_nLastError = kWebErrorSettings;
        return false;
    }
    LoadSettings();
    if (!CheckNetwork()) {
        m_nLastError = kWebErrorNetwork;
        return false;
    }
    if (g_server) {
        TraceMessage(kTraceWebFailure, " - Already Running Mongoose server");
        m_nLastError = kWebErrorAlreadyRunning;
        return false;
    }
    if (m_hooks.sweepLeftovers)
        m_hooks.sweepLeftovers();
    if (!StartLibrary()) {
        m_nLastError = kWebErrorLibrary;
        return false;
    }
    if (m_hooks.forgetWorkFolders)
        m_hooks.forgetWorkFolders();
    TraceMessage(kTraceRequest, "<< Start webserver   (port:%d) >>", m_nPort);
    TraceMessage(kTraceRequest, " - Start webserver complete (succeed)");
    return true;
}

bool CWebServer::Stop()
{
    std::lock_guard lock(g_startStopLock);
    TraceMessage(kTraceRequest, "<< Stop webserver >>");
    if (m_hooks.releaseSessions)
        m_hooks.releaseSessions();
    if (!g_server) {
        CleanUp();
        m_nLastError = kWebErrorNotRunning;
        return false;
    }
    g_running = false;
    StopCivetContext(
        g_server->context, g_listeningPort); // returns once every library thread has ended
    g_server.reset();
    g_listeningPort = 0;
    m_nPort = 0;
    CleanUp();
    return true;
}

void CWebServer::CleanUp()
{
    if (m_hooks.clearWorkFolders)
        m_hooks.clearWorkFolders();
    if (m_hooks.removeEngineFiles)
        m_hooks.removeEngineFiles();
    if (m_hooks.removeListFiles)
        m_hooks.removeListFiles();
    if (m_hooks.sweepLeftovers)
        m_hooks.sweepLeftovers();
}
