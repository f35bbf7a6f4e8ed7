// "/serverOff": the client's remote power button. It acts only for requests from the
// home network (loopback, private and link-local addresses) and only while the setting
// "AllowServerOff" is not 0; anywhere else, anyone who reaches the port (through a
// port mapping, the internet) could power the computer off. A refused request gets
// result -18 and nothing else happens.
//
// When allowed, the answer goes out first; then the program around the server is told
// to stop the server and shut the computer down (the core controller runs the
// shutdown command on its worker). Telling it does not wait, so the client always
// gets its success answer, whether or not the shutdown is permitted.

#include "config/settings.h"
#include "core/request_handlers.h"
#include "core/vemba_server.h"
#include "http/answer.h"
#include "http/home_network.h"
#include "http/request.h"

namespace {

bool MayPowerOff(CVembaServer& server, const HttpRequest& request)
{
    if (server.Settings().ReadInt(kKeyAllowServerOff, kDefaultAllowServerOff) == 0)
        return false;
    return IsHomeNetworkAddress(request.RemoteAddress());
}

} // namespace

void ResponseConnectOff(HttpRequest& request)
{
    WritePlistAnswer(request, MakeSuccessAnswer());
}

void OnNotifyConnectOff(CVembaServer& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyConnectOff", request.QueryString());
    if (!MayPowerOff(server, request)) {
        TraceMessage(kTraceRequest, " - serverOff refused for %s", request.RemoteAddress().c_str());
        WritePlistAnswer(
            request, MakeErrorAnswer(server.Texts(), kResultRefused, kTextServerOffRefused));
        return;
    }
    ResponseConnectOff(request);
    server.RequestShutdown();
}
