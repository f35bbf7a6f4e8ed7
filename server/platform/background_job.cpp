#include "platform/background_job.h"

#include <system_error>

BackgroundJob::BackgroundJob(Round round)
    : m_round(std::move(round))
{
}

BackgroundJob::~BackgroundJob()
{
    Stop();
}

bool BackgroundJob::Request()
{
    std::thread finished;
    bool started = false;
    {
        std::lock_guard lock(m_lock);
        if (m_stopped)
            return false;
        if (m_running) {
            m_again = true;
            return true;
        }
        finished = std::move(m_thread);
        try {
            m_thread = std::thread([this] { Run(); });
            m_running = true;
            started = true;
        } catch (const std::system_error&) {
            started = false;
        }
    }
    if (finished.joinable())
        finished.join(); // it has left Run already
    return started;
}

void BackgroundJob::Run()
{
    for (;;) {
        try {
            m_round(m_stopping);
        } catch (...) {
            // A round's failure is its own; the next request tries again.
        }
        std::lock_guard lock(m_lock);
        if (!m_again || m_stopped) {
            m_running = false;
            m_again = false;
            m_idle.notify_all();
            return;
        }
        m_again = false;
    }
}

bool BackgroundJob::IsRunning() const
{
    std::lock_guard lock(m_lock);
    return m_running;
}

bool BackgroundJob::Reap()
{
    std::thread finished;
    {
        std::lock_guard lock(m_lock);
        if (m_running)
            return false;
        finished = std::move(m_thread);
    }
    if (finished.joinable())
        finished.join();
    return true;
}

bool BackgroundJob::WaitIdle()
{
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [&] { return !m_running || m_stopped; });
    return !m_stopped;
}

void BackgroundJob::Stop()
{
    std::thread thread;
    {
        std::lock_guard lock(m_lock);
        m_stopped = true;
        thread = std::move(m_thread);
    }
    m_stopping = true;
    m_idle.notify_all();
    if (thread.joinable())
        thread.join();
}
