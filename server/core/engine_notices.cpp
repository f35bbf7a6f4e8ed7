#include "core/engine_notices.h"

#include "config/trace.h"
#include "streaming/session_list.h" // also the engine notice numbers

namespace {

// The session whose current run posted the notice, with that run's engine stopped
// (or, when it has exited already, taken off the ENC session list); null when no
// session runs under this key any more.
std::shared_ptr<ClientInfo> StopEngineOfNotice(veneta::LParam key)
{
    if (key == 0)
        return nullptr;
    auto noticeKey = static_cast<uint64_t>(key);
    std::shared_ptr<ClientInfo> session = QZ_FindClientInfoByNoticeKey(noticeKey);
    if (!session || !session->EndEngineRun(noticeKey))
        return nullptr;
    return session;
}

} // namespace

veneta::LResult OnENCComplete(veneta::LParam key)
{
    if (std::shared_ptr<ClientInfo> session = StopEngineOfNotice(key))
        TraceMessage(
            kTraceWindow, "CVembaCastDlg::OnENCComplete (ID:%s)", session->szClientID.c_str());
    return 0;
}

veneta::LResult OnENCError(veneta::LParam key)
{
    if (std::shared_ptr<ClientInfo> session = StopEngineOfNotice(key)) {
        session->nIsPlay = 0;
        session->nIsPrepareSeeking = 0;
        session->nLastSeeking = 0;
        session->bCancelSeeking = 0;
        TraceMessage(
            kTraceWindow, "CVembaCastDlg::OnENCError (ID:%s)", session->szClientID.c_str());
    }
    return 0;
}

void HandleEngineNotice(veneta::MessageId message, veneta::LParam key)
{
    if (message == WM_APP_ENC_COMPLETE)
        OnENCComplete(key);
    else if (message == WM_APP_ENC_ERROR)
        OnENCError(key);
}
