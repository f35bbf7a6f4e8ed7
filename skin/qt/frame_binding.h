#pragma once

// A window's place in the window registry: while a CFrameBinding lives, messages
// posted or sent to its index run the handler on the GUI thread.

#include "skin/frame_msg.h"

#include <functional>

namespace veneta {

class IMessageLoop;

class CFrameBinding : public IMessageTarget {
public:
    using Handler = std::function<LResult(MessageId, WParam, LParam)>;

    // Registers at index on loop (the GUI loop when none is given).
    CFrameBinding(int index, Handler handler, IMessageLoop* loop = nullptr);
    ~CFrameBinding() override; // unregisters, leaving any successor in place
    CFrameBinding(const CFrameBinding&) = delete;
    CFrameBinding& operator=(const CFrameBinding&) = delete;

    LResult OnMessage(MessageId message, WParam wParam, LParam lParam) override;
    int Index() const { return m_index; }

private:
    int m_index;
    Handler m_handler; // called on the loop's thread only
};

} // namespace veneta
