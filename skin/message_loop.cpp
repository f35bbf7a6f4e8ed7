#include "skin/message_loop.h"

namespace veneta {

CMessageLoop::~CMessageLoop()
{
    Quit();
}

bool CMessageLoop::PostTask(std::function<void()> task)
{
    {
        std::lock_guard lock(m_lock);
        if (m_quit)
            return false;
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
    return true;
}

bool CMessageLoop::IsLoopThread() const
{
    std::lock_guard lock(m_lock);
    return m_runner == std::this_thread::get_id();
}

void CMessageLoop::Run()
{
    std::unique_lock lock(m_lock);
    m_runner = std::this_thread::get_id();
    while (!m_quit) {
        if (m_tasks.empty()) {
            m_wake.wait(lock);
            continue;
        }
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A target's failure must not end the loop that every other target shares.
        }
        task = nullptr; // release what it holds before taking the lock again
        lock.lock();
    }
    m_runner = std::thread::id();
    // Dropped tasks release their waiting senders as they are destroyed; do that
    // outside the lock so a waiter's wake-up cannot contend with it.
    std::deque<std::function<void()>> dropped;
    dropped.swap(m_tasks);
    lock.unlock();
    dropped.clear();
}

void CMessageLoop::Quit()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_lock);
        m_quit = true;
        // Without a running loop nobody else would release these.
        if (m_runner == std::thread::id())
            dropped.swap(m_tasks);
    }
    m_wake.notify_all();
}

CMessageLoopThread::CMessageLoopThread()
    : m_thread([this] { m_loop.Run(); })
{
}

CMessageLoopThread::~CMessageLoopThread()
{
    Stop();
}

void CMessageLoopThread::Stop()
{
    m_loop.Quit();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace veneta
