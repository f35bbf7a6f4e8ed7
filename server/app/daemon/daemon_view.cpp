#include "daemon_view.h"

#include "config/settings_store.h"
#include "config/texts.h"

#include <cstdio>

CDaemonView::CDaemonView(CVembaServer& server)
    : m_server(server)
{
}

void CDaemonView::ServerStateChanged(bool running)
{
    if (!running) {
        std::printf("vembacastd: server stopped\n");
        std::fflush(stdout);
        return;
    }
    int port = m_server.WebServer().ListeningPort();
    std::string address = m_server.Settings().ReadText(kKeyInIP);
    std::printf("vembacastd: listening on port %d\n", port);
    std::printf("vembacastd: open http://127.0.0.1:%d/", port);
    if (!address.empty())
        std::printf(" or http://%s:%d/", address.c_str(), port);
    std::printf("\n");
    if (m_server.SharedFolders().GetSharedFolders().empty())
        std::printf("vembacastd: %s\n", m_server.Texts().Lookup("IDS_DAEMON_NO_SHARES").c_str());
    std::fflush(stdout);
    m_started = true;
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
    std::fprintf(stderr, "vembacastd: %s (code %d)\n",
        m_server.Texts().Lookup(DaemonTextKey(code, textKey)).c_str(), code);
    std::fflush(stderr);
    m_exitReason = code;
}

void CDaemonView::ServerShutDown(bool succeeded)
{
    if (!succeeded)
        std::fprintf(stderr, "vembacastd: %s\n",
            m_server.Texts().Lookup("IDS_ERROR_FAILED_SHUTDOWN").c_str());
    // The server is stopped; a daemon without it has nothing to do.
    m_exitReason = -1;
}
