#include "remote/pin_renewal.h"

#include "config/trace.h"

CPinRenewal::CPinRenewal(std::function<void()> renew, std::chrono::milliseconds period)
    : m_renew(std::move(renew))
    , m_period(period)
    , m_thread([this] { Run(); })
{
}

CPinRenewal::~CPinRenewal()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CPinRenewal::Run()
{
    for (;;) {
        {
            std::unique_lock lock(m_lock);
            if (m_wake.wait_for(lock, m_period, [this] { return m_stopping; }))
                return;
        }
        try {
            m_renew();
        } catch (...) {
            TraceMessage(kTraceWebFailure, "PIN renewal - failed");
        }
    }
}
