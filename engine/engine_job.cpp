#include "engine/engine_job.h"

#include "engine/engine_log.h"

void JobControl::Fail(EngineError code, const std::string& why)
{
    {
        std::lock_guard lock(m_lock);
        if (m_error == kErrorNone) {
            m_error = code;
            EngineLog(LogLevel::Error, "%s (code %u)", why.c_str(), static_cast<unsigned>(code));
        }
    }
    Abort();
}

void JobControl::Abort()
{
    m_abort = true;
    std::lock_guard lock(m_handlerLock);
    if (m_abortHandler)
        m_abortHandler();
}

void JobControl::SetAbortHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_handlerLock);
    m_abortHandler = std::move(handler);
    if (m_abortHandler && m_abort)
        m_abortHandler();
}

EngineError JobControl::Error() const
{
    std::lock_guard lock(m_lock);
    return m_error;
}

int JobControl::InterruptCallback(void* control)
{
    return static_cast<JobControl*>(control)->Aborted() ? 1 : 0;
}
