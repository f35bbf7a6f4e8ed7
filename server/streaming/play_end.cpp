// "/playEnd" ends a client's live stream and removes its files; "/pid" only traces.

#include "config/trace.h"
#include "http/request.h"
#include "library/media_properties.h"
#include "streaming/client_info.h"
#include "streaming/live_engine.h"
#include "streaming/request_handlers.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"
#include "streaming/work_folders.h"

#include <cstdlib>

namespace {

// A whole answer without a body, so the client's HTTP stack does not wait for more.
constexpr const char* kPlayEndAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

} // namespace

void OnNotifyPlayEnd(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPlayEnd", request.QueryString());
    TraceMessage(kTraceRequest, " - QZPlay Ended");
    std::string id = GetRequestVar(request, "id");
    std::shared_ptr<ClientInfo> session
        = id.empty() ? nullptr : server.Sessions().QZ_FindClientInfo(id);
    if (!session) {
        request.Write(kPlayEndAnswer);
        TraceMessage(kTraceRequest, " - ClientInfo is NULL");
        return;
    }
    // A seek starting an engine now finishes its start first (the session's engine
    // orders them), so its engine is stopped here, not left running for nobody; the
    // stop returns once the engine has ended.
    session->EndPlay(PlayEnd::Finished);
    std::string folder = server.WorkFolders().SessionWorkFolder(session->szClientID);
    server.WorkFolders().ClearWorkFolder(folder);
    server.WorkFolders().ForgetWorkFolder(folder);
    request.Write(kPlayEndAnswer);
}

void OnNotifyPID(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPID", request.QueryString());
    std::string path = GetRequestVar(request, "path");
    std::string id = GetRequestVar(request, "id");
    if (!id.empty() && server.Sessions().QZ_FindClientInfo(id))
        TraceMessage(kTraceRequest, " - get pid = %d", static_cast<int>(ParseLeadingInteger(path)));
}
