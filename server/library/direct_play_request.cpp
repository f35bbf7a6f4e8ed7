// "/playdirect/file-<number>.m4v": a file that a file-info answer declared directly
// playable, served as it is with byte ranges so the phone's player can seek. Only
// numbers the direct-play table gave out name a file; any other is not found.

#include "config/trace.h"
#include "http/request.h"
#include "http/send_file.h"
#include "library/direct_play_table.h"
#include "library/request_handlers.h"

void OnNotifyPlayDirect(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPlayDirect", request.Uri());
    std::string path = ResolveDirectPlayUri(server, request.Uri());
    if (path.empty()) {
        request.SendError(404, "Not Found");
        return;
    }
    TraceMessage(kTraceRequestStep, " - TRY : qz_mg_send_file : ('%s')", path.c_str());
    qz_mg_send_file(request, path);
}
