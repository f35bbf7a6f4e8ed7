#include "skin/qt/frame_binding.h"

#include "skin/qt/gui_message_loop.h"

namespace veneta {

CFrameBinding::CFrameBinding(int index, Handler handler, IMessageLoop* loop)
    : m_index(index)
    , m_handler(std::move(handler))
{
    CPXFrameMSG::SetTarget(index, this, loop ? loop : &GuiMessageLoop());
}

CFrameBinding::~CFrameBinding()
{
    CPXFrameMSG::ClearTarget(m_index, this);
}

LResult CFrameBinding::OnMessage(MessageId message, WParam wParam, LParam lParam)
{
    // No exception may leave a message handler: it would cross the event loop.
    try {
        return m_handler ? m_handler(message, wParam, lParam) : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace veneta
