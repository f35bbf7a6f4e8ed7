#include "daemon_window.h"

#include "config/app_messages.h"
#include "config/settings.h"
#include "config/texts.h"
#include "http/web_server.h"

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
    std::fflush(stdout);
    m_started = true;
}

void CDaemonWindow::ShowServerError(int code, const char* textKey)
{
    std::fprintf(stderr, "vembacastd: %s (code %d)\n", LookupText(textKey).c_str(), code);
    std::fflush(stderr);
    m_exitReason = code;
}
