#pragma once

// The daemon's stand-in for the main window: registered as frame 2 on the daemon's
// message-loop thread, it hands the main window's messages to the core controller and
// reports on the terminal what a window would show.

#include "core/core_controller.h"
#include "skin/frame_msg.h"

#include <atomic>

class CDaemonWindow : public veneta::IMessageTarget, public ICoreView {
public:
    explicit CDaemonWindow(veneta::IMessageLoop& loop);
    ~CDaemonWindow() override; // unregisters

    // The controller must be attached before the window receives messages.
    void Attach(CCoreController& controller) { m_controller = &controller; }

    veneta::LResult OnMessage(
        veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam) override;

    void ShowProgress(const char*) override { }
    void CloseProgress() override { }
    void ServerStateChanged(bool running) override;
    void ShowServerError(int code, const char* textKey) override;

    // Set once a start has failed (its code) or a client asked to shut down (-1).
    int ExitReason() const { return m_exitReason; }
    bool HasStarted() const { return m_started; }

private:
    CCoreController* m_controller = nullptr; // set before the loop delivers anything
    std::atomic<int> m_exitReason { 0 };
    std::atomic<bool> m_started { false };
};
