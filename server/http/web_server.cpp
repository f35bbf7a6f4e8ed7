#include "http/web_server.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "http/civet_support.h"
#include "http/connection_limit.h"
#include "http/http_context.h"
#include "http/https_port.h"
#include "http/request.h"
#include "http/write_stall.h"
#include "http/trusted_proxy.h"
#include "platform/ports.h"

#include <cerrno>
#include <civetweb.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The client's own page, scripts and styles (the only static files): only this
// server's scripts run, and hls.js may feed the player from blob: URLs and a worker.
constexpr const char* kPageHeaders
    = "Content-Security-Policy: default-src 'self'; media-src 'self' blob:; worker-src 'self' blob:"
      "\r\nX-Content-Type-Options: nosniff";

// The app manifest's own type: browsers read a manifest of another type all the same,
// but audits and some installers go by the type.
constexpr const char* kExtraMimeTypes
    = ".m4v=video/mp4v-es,.ts=video/mp2t,.m3u8=application/vnd.apple.mpegurl,.mjs=text/javascript"
      ",.webmanifest=application/manifest+json";

// The leading decimal number of a setting text; 0 when there is none or it is too big.
int SettingNumber(const std::string& text)
{
    long value = std::strtol(text.c_str(), nullptr, 10);
    return value < INT_MIN || value > INT_MAX ? 0 : static_cast<int>(value);
}

} // namespace

// What a running server's callback reads: the routes and the server they serve,
// fixed before the library starts and freed only after it has stopped every thread
// that could read them.
struct CWebServer::RunningLibrary {
    HttpContext* server = nullptr;
    std::vector<Route> routes;
    std::unique_ptr<ConnectionLimit> connections;
    std::shared_ptr<HttpsPort> https; // null without HTTPS
    mg_context* context = nullptr;
};

namespace {

int BeginRequest(mg_connection* connection)
{
    const mg_request_info* info = mg_get_request_info(connection);
    auto* running
        = static_cast<CWebServer::RunningLibrary*>(mg_get_user_data(mg_get_context(connection)));
    if (!info || !info->local_uri || !running)
        return 0;
    try {
        HttpRequest request(connection);
        bool handled = DispatchRequest(*running->server, running->routes, request);
        // A connection stays for the client's next request only after an answer with a
        // length that went out whole (the handler says so), or a static file the library
        // serves to an HTTP/1.1 client; the phone API's answers, which have no length,
        // and anything that failed close it.
        bool http11 = info->http_version && std::strcmp(info->http_version, "1.1") == 0;
        if (handled ? !request.KeepsAlive() : !http11)
            mg_disable_connection_keep_alive(connection);
        return handled ? 200 : 0;
    } catch (...) {
        mg_disable_connection_keep_alive(connection);
        return 0; // nothing was written: the library answers as for a static file
    }
}

CWebServer::RunningLibrary* RunningOf(const mg_connection* connection)
{
    return static_cast<CWebServer::RunningLibrary*>(mg_get_user_data(mg_get_context(connection)));
}

// A connection has reached a worker. The marker in its connection data tells the close
// that it was counted.
int InitConnection(const mg_connection* connection, void** connectionData)
{
    CWebServer::RunningLibrary* running = RunningOf(connection);
    if (!running || !running->connections)
        return 0;
    try {
        running->connections->Opened();
        *connectionData = running;
    } catch (...) {
        // The census could not be taken; the connection goes on unlimited.
    }
    return 0;
}

void ConnectionClose(const mg_connection* connection)
{
    CWebServer::RunningLibrary* running = RunningOf(connection);
    if (running && running->connections && mg_get_user_connection_data(connection) == running)
        running->connections->Closed();
}

ConnectionLimit::Rules ConnectionRules(HttpContext& server)
{
    std::shared_ptr<const SettingsSnapshot> settings = server.Settings().Current();
    ConnectionLimit::Rules rules;
    rules.perAddress = settings->Int(kConnectionsPerAddressSetting, kDefaultConnectionsPerAddress);
    if (rules.perAddress <= 0)
        rules.perAddress = kDefaultConnectionsPerAddress;
    TrustedProxies proxies = TrustedProxies::Parse(settings->Text(kTrustedProxiesSetting));
    if (!proxies.Empty())
        rules.exempt = [proxies](const std::string& address) { return proxies.Trusts(address); };
    return rules;
}

// The library's hook for the HTTPS port's context (https_port.h); -1 fails the start.
int InitTls(void* sslContext, void* userData)
{
    auto* running = static_cast<CWebServer::RunningLibrary*>(userData);
    std::string error;
    if (running && running->https && running->https->ConfigureContext(sslContext, error))
        return 1;
    TraceMessage(kTraceWebFailure, "Web Server - %s", error.c_str());
    return -1;
}

} // namespace

CWebServer::CWebServer(HttpContext& server)
    : m_server(server)
{
}

CWebServer::~CWebServer()
{
    m_hooks = {};
    Stop();
}

void CWebServer::Configure(WebServerHooks hooks, WebServerConfig config)
{
    m_hooks = std::move(hooks);
    m_config = std::move(config);
}

bool CWebServer::CheckSettings() const
{
    std::shared_ptr<const SettingsSnapshot> settings = m_server.Settings().Current();
    if (settings->Int(kKeySet, 0) == 0)
        return false;
    if (settings->Text(kKeyExtIP).empty() || settings->Text(kKeyExtPort).empty()
        || settings->Text(kKeyMacAddress).empty())
        return false;
    if (settings->Int(kKeyPINCodeMode, 0) == 1
        && (settings->Text(kKeyPINCode).empty() || settings->Text(kKeyPCName).empty()))
        return false;
    if (settings->Int(kKeyPasswordMode, 0) == 1 && settings->Text(kKeyPassword).empty())
        return false;
    return true;
}

void CWebServer::LoadSettings()
{
    std::shared_ptr<const SettingsSnapshot> settings = m_server.Settings().Current();
    m_strInIP = settings->Text(kKeyInIP);
    m_nPort = SettingNumber(settings->Text(kKeyInPort));
    m_strExtIP = settings->Text(kKeyExtIP);
    m_nExtPort = SettingNumber(settings->Text(kKeyExtPort));
}

void CWebServer::ReloadExternalPort()
{
    m_nExtPort = SettingNumber(m_server.Settings().ReadText(kKeyExtPort));
}

// The external address is not asked for here: the console may take long to answer,
// and the server's start never waits for it (the remote layer fetches it in the
// background and stores it when it comes).
bool CWebServer::CheckNetwork()
{
    // The running server's own port counts as free: a second start must reach the
    // "already running" answer, not fail on the port it holds itself.
    bool ownPort = m_running && m_listeningPort == m_nPort;
    if (m_nPort <= 0 || m_nPort > 65535 || !(ownPort || IsPortFree(m_nPort)))
        return false;
    if (m_server.Settings().ReadInt(kKeyAutoPortMapMode, 0) != 0 || m_nPort == m_nExtPort)
        return true;
    // Manual mapping forwards the same port; correct it so the next start passes.
    if (!m_server.Settings().WriteText(kKeyExtPort, std::to_string(m_nPort))
        && m_server.Settings().LastWriteError() == ENOSPC) {
        TraceMessage(kTraceWebFailure, "Web Server - the data folder's disk is full (ENOSPC)");
        m_nLastError = kWebErrorDiskFull;
    }
    return false;
}

namespace {

constexpr const char* kWorkerThreads = "256";

} // namespace

std::unique_ptr<CWebServer::RunningLibrary> CWebServer::StartLibrary(
    std::shared_ptr<HttpsPort> https)
{
    auto library = std::make_unique<RunningLibrary>();
    library->server = &m_server;
    library->routes = m_config.routes;
    HttpContext& server = m_server;
    library->connections
        = std::make_unique<ConnectionLimit>(m_nPort, [&server] { return ConnectionRules(server); });
    library->https = std::move(https);
    std::string portText = std::to_string(m_nPort)
        + (library->https ? "," + library->https->ListeningEntry() : std::string());
    const std::string timeoutText = std::to_string(kLibraryIoTimeout.count());
    std::string root = m_config.documentRoot.empty() ? m_server.Places().resourceFolder + "/web"
                                                     : m_config.documentRoot;
    // A worker is taken by a connection from its first byte (the library cannot
    // refuse one before its request line arrives), so idle and slow clients are
    // outlasted by numbers, a limit per address (connection_limit.h, which counts kept-
    // alive connections like any other) and a short timeout: far more workers than one
    // address may hold, and 5 s for a request's headers. The same timeout bounds each
    // try of a write; a client known to read gets more for one stalled write
    // (write_stall.h), so a paused download goes on. A connection kept alive between
    // requests holds its worker too, so it waits for the next request no longer than
    // for headers; an answer's last bytes go out at once rather than wait for the
    // client's acknowledgement (no Nagle delay on a connection that stays open).
    // clang-format off
    std::vector<const char*> options = {
        "listening_ports", portText.c_str(),
        "document_root", root.c_str(),
        "num_threads", kWorkerThreads,
        "request_timeout_ms", timeoutText.c_str(),
        "listen_backlog", "1024",
        "connection_queue", "1024",
        "enable_keep_alive", "yes",
        "keep_alive_timeout_ms", timeoutText.c_str(),
        "tcp_nodelay", "1",
        "enable_directory_listing", "no",
        "max_request_size", "16384",
        "extra_mime_types", kExtraMimeTypes,
        "additional_header", kPageHeaders,
    };
    // clang-format on
    mg_callbacks callbacks {};
    SetCommonCallbacks(callbacks);
    callbacks.begin_request = BeginRequest;
    callbacks.init_connection = InitConnection;
    callbacks.connection_close = ConnectionClose;
    if (library->https) {
        library->https->AddOptions(options);
        callbacks.init_ssl = InitTls;
    }
    options.push_back(nullptr);

    EnsureCivetLibrary();
    char errorText[256] = "";
    unsigned errorCode = 0;
    mg_error_data error { &errorCode, errorText, sizeof(errorText) };
    mg_init_data init { &callbacks, library.get(), options.data() };
    library->context = mg_start2(&init, &error);
    if (!library->context) {
        TraceMessage(kTraceWebFailure, "Web Server - Cannot initialize Mongoose context");
        if (errorText[0])
            TraceMessage(kTraceWebFailure, "Web Server - %s", errorText);
        m_strLastErrorDetail = errorText;
        return nullptr;
    }
    return library;
}

CWebServer::State CWebServer::WaitSettled(std::unique_lock<std::mutex>& lock)
{
    m_settled.wait(lock, [&] { return m_state == State::Stopped || m_state == State::Running; });
    return m_state;
}

bool CWebServer::Start()
{
    if (!CheckSettings()) {
        m_nLastError = kWebErrorSettings;
        return false;
    }
    LoadSettings();
    m_nLastError = 0;
    if (!CheckNetwork()) {
        if (m_nLastError != kWebErrorDiskFull)
            m_nLastError = kWebErrorNetwork;
        return false;
    }
    {
        std::unique_lock lock(m_lock);
        if (WaitSettled(lock) == State::Running) {
            TraceMessage(kTraceWebFailure, " - Already Running Mongoose server");
            m_nLastError = kWebErrorAlreadyRunning;
            return false;
        }
        m_state = State::Starting;
    }
    m_strLastErrorDetail.clear();
    std::shared_ptr<HttpsPort> https;
    bool httpsReady
        = HttpsPort::Prepare(*m_server.Settings().Current(), m_nPort, https, m_strLastErrorDetail);
    std::unique_ptr<RunningLibrary> library;
    if (httpsReady) {
        if (m_hooks.sweepLeftovers)
            m_hooks.sweepLeftovers();
        library = StartLibrary(https);
    }
    bool started = library != nullptr;
    {
        std::lock_guard lock(m_lock);
        m_library = std::move(library);
        m_state = started ? State::Running : State::Stopped;
        if (started) {
            m_listeningPort = m_nPort;
            m_httpsListeningPort = https ? https->Port() : 0;
            m_running = true;
        }
    }
    m_settled.notify_all();
    if (!started) {
        m_nLastError = httpsReady ? kWebErrorLibrary : kWebErrorHttps;
        TraceMessage(kTraceWebFailure, "Web Server - %s", m_strLastErrorDetail.c_str());
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
    TraceMessage(kTraceRequest, "<< Stop webserver >>");
    std::unique_ptr<RunningLibrary> library;
    {
        std::unique_lock lock(m_lock);
        if (WaitSettled(lock) == State::Running) {
            m_state = State::Stopping;
            m_running = false;
        }
    }
    // The sessions go first, so no engine outlives the server; a stop while stopped
    // releases them too (sessions made by requests of a server that failed).
    if (m_hooks.releaseSessions)
        m_hooks.releaseSessions();
    bool wasRunning = false;
    {
        std::lock_guard lock(m_lock);
        wasRunning = m_state == State::Stopping;
        if (wasRunning)
            library = std::move(m_library);
    }
    if (!wasRunning) {
        CleanUp();
        m_nLastError = kWebErrorNotRunning;
        return false;
    }
    // Returns once every library thread has ended; no lock is held meanwhile.
    StopCivetContext(library->context, m_listeningPort);
    library.reset();
    m_listeningPort = 0;
    m_httpsListeningPort = 0;
    m_nPort = 0;
    CleanUp();
    {
        std::lock_guard lock(m_lock);
        m_state = State::Stopped;
    }
    m_settled.notify_all();
    return true;
}

bool CWebServer::ReloadTlsIdentity(std::string& outcome)
{
    std::shared_ptr<HttpsPort> https;
    {
        std::lock_guard lock(m_lock);
        if (m_library)
            https = m_library->https;
    }
    if (!https) {
        outcome = "HTTPS is not serving";
        return false;
    }
    return https->Reload(outcome); // reads the files with no lock held
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
