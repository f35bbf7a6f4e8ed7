#include "daemon_window.h"

#include "config/app_messages.h"
#include "config/settings.h"
#include "config/texts.h"
#include "http/web_server.h"
#include "library/shared_folders.h"

#include <cstdio>

CDaemonWindow::CDaemonWindow(veneta::IMessageLoop& loop)
{
    veneta::CPXFrameMSG::SetTarget(veneta::kFrameMainWindow, this, &loop);
}

CDaemonWindow::~CDaemonWindow()
{
    veneta::CPXFrameMSG::ClearTarget(veneta::kFrameMainWindow, this);
}

veneta::LResult CDaemonWindow::OnMessage(
    veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam)
{
    if (!m_controller)
        return 0;
    veneta::LResult result = m_controller->HandleMessage(message, wParam, lParam);
    if (message == WM_APP_SHUTDOWN_PC)
        m_exitReason = -1; // the server is stopped; a daemon without it has nothing to do
    return result;
}

void CDaemonWindow::ServerStateChanged(bool running)
{
    if (!running) {
        std::printf("vembacastd: server stopped\n");
        std::fflush(stdout);
        return;
    }
    int port = GetListeningPort();
    std::string address = ReadSettingText(kKeyInIP);
    std::printf("vembacastd: listening on port %d\n", port);
    std::printf("vembacastd: open http://127.0.0.1:%d/", port);
    if (!address.empty())
        std::printf(" or http://%s:%d/", address.c_str(), port);
    std::printf("\n");
    if (GetSharedFolders().empty())
        std::printf("vembacastd: %s\n", LookupText("IDS_DAEMON_NO_SHARES").c_str());
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

void CDaemonWindow::ShowServerError(int code, const char* textKey)
{
    std::fprintf(stderr, "vembacastd: %s (code %d)\n",
        LookupText(DaemonTextKey(code, textKey)).c_str(), code);
    std::fflush(stderr);
    m_exitReason = code;
}
