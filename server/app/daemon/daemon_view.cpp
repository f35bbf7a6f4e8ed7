#include "daemon_view.h"

#include "config/settings_store.h"
#include "config/texts.h"
#include "daemon_log.h"

CDaemonView::CDaemonView(CVembaServer& server)
    : m_server(server)
{
}

void CDaemonView::ServerStateChanged(bool running)
{
    if (!running) {
        DaemonLog(LogLevel::Notice, "server stopped");
        return;
    }
    int port = m_server.WebServer().ListeningPort();
    std::string address = m_server.Settings().ReadText(kKeyInIP);
    DaemonLog(LogLevel::Notice, "listening on port %d", port);
    OpenLine("http", port, address);
    if (int httpsPort = m_server.WebServer().HttpsListeningPort()) {
        DaemonLog(LogLevel::Notice, "HTTPS on port %d", httpsPort);
        OpenLine("https", httpsPort, address);
    }
    if (m_server.SharedFolders().GetSharedFolders().empty())
        DaemonLog(LogLevel::Notice, "%s", m_server.Texts().Lookup(NoSharesTextKey()).c_str());
    m_started = true;
}

void CDaemonView::OpenLine(const char* scheme, int port, const std::string& address) const
{
    std::string line = std::string("open ") + scheme + "://127.0.0.1:" + std::to_string(port) + "/";
    if (!address.empty())
        line += std::string(" or ") + scheme + "://" + address + ":" + std::to_string(port) + "/";
    DaemonLog(LogLevel::Info, "%s", line.c_str());
}

// A copy run from its build folder (resources beside the program) is started with
// make run; an installed one with its options or the system service's shares file.
const char* CDaemonView::NoSharesTextKey() const
{
    const ServerPlaces& places = m_server.Places();
    return places.resourceFolder == places.programFolder + "/res" ? "IDS_DAEMON_NO_SHARES_BUILD"
                                                                  : "IDS_DAEMON_NO_SHARES";
}

namespace {

// The window's texts send the user to the settings dialog; the daemon has none, so
// it names its own options instead.
const char* DaemonTextKey(int code, const char* windowTextKey)
{
    switch (code) {
    case 1:
        return "IDS_DAEMON_NOT_SETTING";
    case 2:
        return "IDS_DAEMON_NEED_RESETTING";
    case 3:
        return "IDS_DAEMON_INVALID_SETTING";
    default:
        return windowTextKey;
    }
}

} // namespace

void CDaemonView::ShowServerError(int code, const char* textKey)
{
    const std::string& detail = m_server.WebServer().m_strLastErrorDetail;
    DaemonLog(LogLevel::Error, "%s (code %d)%s%s",
        m_server.Texts().Lookup(DaemonTextKey(code, textKey)).c_str(), code,
        detail.empty() ? "" : ": ", detail.c_str());
    m_exitReason = code;
}

void CDaemonView::ServerShutDown(bool succeeded)
{
    if (!succeeded)
        DaemonLog(
            LogLevel::Error, "%s", m_server.Texts().Lookup("IDS_ERROR_FAILED_SHUTDOWN").c_str());
    // The server is stopped; a daemon without it has nothing to do.
    m_exitReason = -1;
}
