#pragma once

// Message loops: the threads that window-registry targets run on.
//
// A target registered with CPXFrameMSG names the loop it lives on. Post queues a
// task on that loop; Send queues it and waits until the loop has run it. The daemon
// runs all its targets on one CMessageLoopThread; the desktop application adapts
// IMessageLoop to its GUI thread. A loop that quits drops the tasks still queued,
// which releases every Send waiting on them.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace veneta {

class IMessageLoop {
public:
    virtual ~IMessageLoop() = default;
    // Queues task to run on the loop's thread; false when the loop no longer runs tasks.
    virtual bool PostTask(std::function<void()> task) = 0;
    // True on the loop's own thread, where a Send must run its message at once.
    virtual bool IsLoopThread() const = 0;
};

// A plain task queue served by whichever thread calls Run.
class CMessageLoop : public IMessageLoop {
public:
    CMessageLoop() = default;
    ~CMessageLoop() override;
    CMessageLoop(const CMessageLoop&) = delete;
    CMessageLoop& operator=(const CMessageLoop&) = delete;

    bool PostTask(std::function<void()> task) override;
    bool IsLoopThread() const override;

    // Runs tasks in order until Quit; then drops what is still queued.
    void Run();
    // Ends Run after the task now running; later PostTask calls are refused.
    void Quit();

private:
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks; // guarded by m_lock
    bool m_quit = false; // guarded by m_lock
    std::thread::id m_runner; // guarded by m_lock
};

// A CMessageLoop with a thread of its own: the daemon's message-loop thread.
class CMessageLoopThread : public IMessageLoop {
public:
    CMessageLoopThread();
    ~CMessageLoopThread() override; // quits and joins
    CMessageLoopThread(const CMessageLoopThread&) = delete;
    CMessageLoopThread& operator=(const CMessageLoopThread&) = delete;

    bool PostTask(std::function<void()> task) override { return m_loop.PostTask(std::move(task)); }
    bool IsLoopThread() const override { return m_loop.IsLoopThread(); }

    // Quits the loop and waits for its thread; safe to call twice, not from the loop itself.
    void Stop();

private:
    CMessageLoop m_loop;
    std::thread m_thread;
};

} // namespace veneta
