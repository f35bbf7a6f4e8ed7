#include "skin/qt/gui_message_loop.h"

#include <QCoreApplication>
#include <QThread>

namespace veneta {

CGuiMessageLoop::CGuiMessageLoop(QObject* context)
    : m_context(context)
{
}

CGuiMessageLoop::~CGuiMessageLoop()
{
    Quit();
}

bool CGuiMessageLoop::PostTask(std::function<void()> task)
{
    std::lock_guard lock(m_lock);
    if (m_quit || !m_context)
        return false;
    // A functor call queued on the context runs on the context's thread.
    return QMetaObject::invokeMethod(
        m_context, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

bool CGuiMessageLoop::IsLoopThread() const
{
    return m_context && QThread::currentThread() == m_context->thread();
}

void CGuiMessageLoop::Quit()
{
    std::lock_guard lock(m_lock);
    m_quit = true;
}

CGuiMessageLoop& GuiMessageLoop()
{
    // The application object is the context: it lives as long as the GUI thread runs.
    static CGuiMessageLoop loop(QCoreApplication::instance());
    return loop;
}

} // namespace veneta
