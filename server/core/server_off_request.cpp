// "/serverOff": the client's remote power button. The answer goes out first; then
// the main window is told to stop the server and shut the computer down (the core
// controller runs the shutdown command). Posting does not wait, so the client
// always gets its success answer, whether or not the shutdown is permitted.

#include "config/app_messages.h"
#include "core/request_handlers.h"
#include "http/answer.h"
#include "http/client_ids.h"
#include "http/request.h"
#include "skin/frame_msg.h"

void ResponseConnectOff(HttpRequest& request)
{
    WritePlistAnswer(request, MakeSuccessAnswer());
}

void OnNotifyConnectOff(HttpRequest& request)
{
    HandlerTrace trace("OnNotifyConnectOff", request.QueryString());
    ResponseConnectOff(request);
    veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, WM_APP_SHUTDOWN_PC);
}
