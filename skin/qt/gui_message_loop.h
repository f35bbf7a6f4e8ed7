#pragma once

// The GUI thread as a veneta message loop: tasks posted from any thread run on the
// thread of the context object, in order, through Qt's queued calls. This is how a
// core worker's Post or Send reaches a window without touching it from the worker.
//
// Threads: PostTask may be called from any thread; Quit and destruction happen on
// the GUI thread. After Quit nothing more is queued, and tasks still queued when the
// context object goes are dropped by Qt, which releases any Send waiting on them.

#include "skin/message_loop.h"

#include <QObject>
#include <QPointer>
#include <mutex>

namespace veneta {

class CGuiMessageLoop : public IMessageLoop {
public:
    // context lives on the GUI thread and outlives this loop (or the loop is quit first).
    explicit CGuiMessageLoop(QObject* context);
    ~CGuiMessageLoop() override;
    CGuiMessageLoop(const CGuiMessageLoop&) = delete;
    CGuiMessageLoop& operator=(const CGuiMessageLoop&) = delete;

    bool PostTask(std::function<void()> task) override;
    bool IsLoopThread() const override;
    // Refuses every later task.
    void Quit();

private:
    QObject* m_context;
    std::mutex m_lock;
    bool m_quit = false; // guarded by m_lock
};

// The process's loop on the application's GUI thread; created on first use, which
// must happen on the GUI thread once QApplication exists.
CGuiMessageLoop& GuiMessageLoop();

} // namespace veneta
