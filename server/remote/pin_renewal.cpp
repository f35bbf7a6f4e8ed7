#include "remote/pin_renewal.h"

#include "config/settings.h"
#include "config/trace.h"
#include "remote/pin_sync.h"

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

void ArmDailyPinRenewal()
{
    static CPinRenewal renewal(
        [] {
            if (GetSettingInt(kSettingSection, "PINCodeMode", 0) == 0
                || GetSettingString("PINCode").empty())
                return;
            bool renewed = SyncPinCode(GetSettingString("MACA"));
            TraceMessage(kTraceProgress, "PIN renewal - %s", renewed ? "renewed" : "failed");
        },
        kPinRenewalPeriod);
}
