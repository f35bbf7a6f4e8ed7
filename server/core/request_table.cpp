// The client API's request table. A row whose handler is empty falls through to
// static file serving; set the handler when its request family is built.

#include "core/request_table.h"

#include "conversion/request_handlers.h"
#include "core/request_handlers.h"
#include "core/vemba_server.h"
#include "dlna/request_handlers.h"
#include "library/request_handlers.h"
#include "streaming/request_handlers.h"

namespace {

// A handler of any layer, bound to the server seen as that layer.
template <typename Layer>
RequestHandler Bind(CVembaServer& server, void (*handler)(Layer&, HttpRequest&))
{
    Layer& layer = server;
    return [&layer, handler](HttpRequest& request) { handler(layer, request); };
}

} // namespace

std::vector<Route> BuildRoutes(CVembaServer& server)
{
    return {
        { "/connect", RouteMatch::Exact, "OnNotifyConnect", Bind(server, OnNotifyConnect) },
        { "/serverOff", RouteMatch::Exact, "OnNotifyConnectOff", Bind(server, OnNotifyConnectOff) },
        { "/getList", RouteMatch::Exact, "OnNotifyGetList", Bind(server, OnNotifyGetList) },
        { "/getThumbnail", RouteMatch::Exact, "OnNotifyGetThumbnail",
            Bind(server, OnNotifyGetThumbnail) },
        { "/getFileInfo", RouteMatch::Exact, "OnNotifyGetFileInfo",
            Bind(server, OnNotifyGetFileInfo) },
        { "/play", RouteMatch::Exact, "OnNotifyPlay", Bind(server, OnNotifyPlay) },
        { "/list/", RouteMatch::Prefix, "OnNotifyPlayList", Bind(server, OnNotifyPlayList) },
        { "/file/", RouteMatch::Prefix, "OnNotifyPlayFile", Bind(server, OnNotifyPlayFile) },
        { "/playEnd", RouteMatch::Exact, "OnNotifyPlayEnd", Bind(server, OnNotifyPlayEnd) },
        { "/file_download/", RouteMatch::Prefix, "OnNotifyFileDownload",
            Bind(server, OnNotifyFileDownload) },
        { "/playdirect/", RouteMatch::Prefix, "OnNotifyPlayDirect",
            Bind(server, OnNotifyPlayDirect) },
        { "/convertList", RouteMatch::Exact, "OnNotifyGetConvertList",
            Bind(server, OnNotifyGetConvertList) },
        { "/convert", RouteMatch::Exact, "OnNotifyConvert", Bind(server, OnNotifyConvert) },
        { "/convertCancel", RouteMatch::Exact, "OnNotifyConvertCancel",
            Bind(server, OnNotifyConvertCancel) },
        { "/convertProgress", RouteMatch::Exact, "OnNotifyConvertUpdateProgress",
            Bind(server, OnNotifyConvertUpdateProgress) },
        { "/convertDeleteCompleteList", RouteMatch::Exact, "OnNotifyConvertDeleteCompleteList",
            Bind(server, OnNotifyConvertDeleteCompleteList) },
        { "/xml/", RouteMatch::Prefix, "OnNotifyXML", Bind(server, OnNotifyXML) },
        { "/thumb/", RouteMatch::Prefix, "OnNotifyThumb", Bind(server, OnNotifyThumb) },
        { "/pid", RouteMatch::Exact, "OnNotifyPID", Bind(server, OnNotifyPID) },
        { "/subtitle", RouteMatch::Exact, "OnNotifySubtitle", Bind(server, OnNotifySubtitle) },
        // The television device's media: the home network only, without a client id.
        { "/dlna/", RouteMatch::Prefix, "OnNotifyDlnaMedia", Bind(server, OnNotifyDlnaMedia),
            RouteAccess::HomeNetwork },
    };
}
