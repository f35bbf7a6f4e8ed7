// "/playEnd" ends a client's live stream and removes its files; "/pid" only traces.

#include "config/trace.h"
#include "http/request.h"
#include "library/media_properties.h"
#include "streaming/client_info.h"
#include "streaming/live_engine.h"
#include "streaming/request_handlers.h"
#include "streaming/session_list.h"
#include "streaming/work_folders.h"

#include <cstdlib>
#include <mutex>

void OnNotifyPlayEnd(HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPlayEnd", request.QueryString());
    TraceMessage(kTraceRequest, " - QZPlay Ended");
    std::string id = GetRequestVar(request, "id");
    std::shared_ptr<ClientInfo> session = id.empty() ? nullptr : QZ_FindClientInfo(id);
    if (!session) {
        request.Write("HTTP/1.1 200 OK\r\n");
        TraceMessage(kTraceRequest, " - ClientInfo is NULL");
        return;
    }
    {
        // Under the engine-start lock, so a seek starting an engine now finishes
        // first and its engine is stopped here, not left running for nobody.
        std::lock_guard startLock(EngineStartLock());
        session->StopENC();
        session->ResetPlayState();
    }
    WaitLiveEngineEnd(*session, std::chrono::milliseconds(500));
    std::string folder = GetSessionWorkFolder(session->szClientID);
    ClearWorkFolder(folder);
    ForgetWorkFolder(folder);
    request.Write("HTTP/1.1 200 OK\r\n");
}

void OnNotifyPID(HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPID", request.QueryString());
    std::string path = GetRequestVar(request, "path");
    std::string id = GetRequestVar(request, "id");
    if (!id.empty() && QZ_FindClientInfo(id))
        TraceMessage(kTraceRequest, " - get pid = %d", static_cast<int>(ParseLeadingInteger(path)));
}
