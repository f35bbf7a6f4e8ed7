#pragma once

// What the daemon shows where the desktop application has a window: the core
// controller's view, reporting on the terminal, and the reason the daemon ends.
//
// Threads: the controller's worker and action thread call in; the main thread polls
// ExitReason. The reason is an atomic that stands alone.

#include "core/core_controller.h"

#include <atomic>
#include <string>

class CDaemonView : public ICoreView {
public:
    explicit CDaemonView(CVembaServer& server);

    void ShowProgress(const char*) override { }
    void CloseProgress() override { }
    void ServerStateChanged(bool running) override;
    void ShowServerError(int code, const char* textKey) override;
    void ServerShutDown(bool succeeded) override;

    // Set once a start has failed (its code) or a client had the computer shut down
    // (-1); 0 while the daemon serves.
    int ExitReason() const { return m_exitReason; }
    bool HasStarted() const { return m_started; }

private:
    void OpenLine(const char* scheme, int port, const std::string& address) const;
    const char* NoSharesTextKey() const;

    CVembaServer& m_server;
    std::atomic<int> m_exitReason { 0 };
    std::atomic<bool> m_started { false };
};
