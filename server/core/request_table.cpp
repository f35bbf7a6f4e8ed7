// The client API's request table. A row whose handler is empty falls through to
// static file serving; set the handler when its request family is built. Each row
// says what serving it does (http/dispatch.h): file fetches only read; the requests
// that act for the user change state; every other one makes something.

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
        { "/serverOff", RouteMatch::Exact, "OnNotifyConnectOff", Bind(server, OnNotifyConnectOff),
            RouteEffect::ChangesState },
        { "/getList", RouteMatch::Exact, "OnNotifyGetList", Bind(server, OnNotifyGetList) },
        { "/getThumbnail", RouteMatch::Exact, "OnNotifyGetThumbnail",
            Bind(server, OnNotifyGetThumbnail) },
        { "/getFileInfo", RouteMatch::Exact, "OnNotifyGetFileInfo",
            Bind(server, OnNotifyGetFileInfo) },
        { "/play", RouteMatch::Exact, "OnNotifyPlay", Bind(server, OnNotifyPlay) },
        { "/list/", RouteMatch::Prefix, "OnNotifyPlayList", Bind(server, OnNotifyPlayList) },
        { "/file/", RouteMatch::Prefix, "OnNotifyPlayFile", Bind(server, OnNotifyPlayFile) },
        { "/playEnd", RouteMatch::Exact, "OnNotifyPlayEnd", Bind(server, OnNotifyPlayEnd),
            RouteEffect::ChangesState },
        { "/file_download/", RouteMatch::Prefix, "OnNotifyFileDownload",
            Bind(server, OnNotifyFileDownload), RouteEffect::ReadOnly },
        { "/playdirect/", RouteMatch::Prefix, "OnNotifyPlayDirect",
            Bind(server, OnNotifyPlayDirect), RouteEffect::ReadOnly },
        { "/convertList", RouteMatch::Exact, "OnNotifyGetConvertList",
            Bind(server, OnNotifyGetConvertList) },
        { "/convert", RouteMatch::Exact, "OnNotifyConvert", Bind(server, OnNotifyConvert),
            RouteEffect::ChangesState },
        { "/convertCancel", RouteMatch::Exact, "OnNotifyConvertCancel",
            Bind(server, OnNotifyConvertCancel), RouteEffect::ChangesState },
        { "/convertProgress", RouteMatch::Exact, "OnNotifyConvertUpdateProgress",
            Bind(server, OnNotifyConvertUpdateProgress), RouteEffect::ReadOnly },
        { "/convertDeleteCompleteList", RouteMatch::Exact, "OnNotifyConvertDeleteCompleteList",
            Bind(server, OnNotifyConvertDeleteCompleteList), RouteEffect::ChangesState },
        { "/xml/", RouteMatch::Prefix, "OnNotifyXML", Bind(server, OnNotifyXML),
            RouteEffect::ReadOnly },
        { "/thumb/", RouteMatch::Prefix, "OnNotifyThumb", Bind(server, OnNotifyThumb),
            RouteEffect::ReadOnly },
        { "/pid", RouteMatch::Exact, "OnNotifyPID", Bind(server, OnNotifyPID) },
        { "/subtitle", RouteMatch::Exact, "OnNotifySubtitle", Bind(server, OnNotifySubtitle) },
        // The browser's JSON API (docs/api.md): reads answer HEAD too; saving and
        // forgetting positions act for a person and are refused when another site sends
        // them. Anything else under "/api/" is a JSON 404.
        { "/api/v1", RouteMatch::Exact, "OnNotifyApiVersion", Bind(server, OnNotifyApiVersion),
            RouteEffect::ReadOnly },
        { "/api/v1/folder", RouteMatch::Exact, "OnNotifyApiFolder", Bind(server, OnNotifyApiFolder),
            RouteEffect::ReadOnly },
        { "/api/v1/search", RouteMatch::Exact, "OnNotifyApiSearch", Bind(server, OnNotifyApiSearch),
            RouteEffect::ReadOnly },
        { "/api/v1/recent", RouteMatch::Exact, "OnNotifyApiRecent", Bind(server, OnNotifyApiRecent),
            RouteEffect::ReadOnly },
        { "/api/v1/positions", RouteMatch::Exact, "OnNotifyApiPositions",
            Bind(server, OnNotifyApiPositions), RouteEffect::ReadOnly },
        { "/api/v1/position", RouteMatch::Exact, "OnNotifyApiPosition",
            Bind(server, OnNotifyApiPosition), RouteEffect::ReadOnly },
        { "/api/v1/position/save", RouteMatch::Exact, "OnNotifyApiSavePosition",
            Bind(server, OnNotifyApiSavePosition), RouteEffect::ChangesState },
        { "/api/v1/position/forget", RouteMatch::Exact, "OnNotifyApiForgetPosition",
            Bind(server, OnNotifyApiForgetPosition), RouteEffect::ChangesState },
        { "/api/v1/profiles", RouteMatch::Exact, "OnNotifyApiProfiles",
            Bind(server, OnNotifyApiProfiles), RouteEffect::ReadOnly },
        { "/api/v1/profile/delete", RouteMatch::Exact, "OnNotifyApiDeleteProfile",
            Bind(server, OnNotifyApiDeleteProfile), RouteEffect::ChangesState },
        { "/api/v1/profile/create", RouteMatch::Exact, "OnNotifyApiCreateProfile",
            Bind(server, OnNotifyApiCreateProfile), RouteEffect::ChangesState },
        { "/api/v1/tracks", RouteMatch::Exact, "OnNotifyApiTracks", Bind(server, OnNotifyApiTracks),
            RouteEffect::ReadOnly },
        { "/api/v1/subtitle", RouteMatch::Exact, "OnNotifyApiSubtitle",
            Bind(server, OnNotifyApiSubtitle), RouteEffect::ReadOnly },
        { "/api/v1/previews", RouteMatch::Exact, "OnNotifyApiPreviews",
            Bind(server, OnNotifyApiPreviews), RouteEffect::ReadOnly },
        { "/api/v1/preview-sheet", RouteMatch::Exact, "OnNotifyApiPreviewSheet",
            Bind(server, OnNotifyApiPreviewSheet), RouteEffect::ReadOnly },
        { "/api/", RouteMatch::Prefix, "OnNotifyApiUnknown", Bind(server, OnNotifyApiUnknown),
            RouteEffect::ReadOnly },
        // The television device's media: the home network only, without a client id;
        // televisions ask with HEAD first, which answers the headers alone.
        { "/dlna/", RouteMatch::Prefix, "OnNotifyDlnaMedia", Bind(server, OnNotifyDlnaMedia),
            RouteEffect::ReadOnly, RouteAccess::HomeNetwork },
    };
}
