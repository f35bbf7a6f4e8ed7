// The client API's request table. A row whose handler is still nullptr falls through
// to static file serving; set the handler when its request family is built.

#include "core/request_table.h"

#include "conversion/request_handlers.h"
#include "core/request_handlers.h"
#include "library/request_handlers.h"
#include "streaming/request_handlers.h"

namespace {

constexpr Route kRoutes[] = {
    { "/connect", RouteMatch::Exact, "OnNotifyConnect", OnNotifyConnect },
    { "/serverOff", RouteMatch::Exact, "OnNotifyConnectOff", OnNotifyConnectOff },
    { "/getList", RouteMatch::Exact, "OnNotifyGetList", OnNotifyGetList },
    { "/getThumbnail", RouteMatch::Exact, "OnNotifyGetThumbnail", OnNotifyGetThumbnail },
    { "/getFileInfo", RouteMatch::Exact, "OnNotifyGetFileInfo", OnNotifyGetFileInfo },
    { "/play", RouteMatch::Exact, "OnNotifyPlay", OnNotifyPlay },
    { "/list/", RouteMatch::Prefix, "OnNotifyPlayList", OnNotifyPlayList },
    { "/file/", RouteMatch::Prefix, "OnNotifyPlayFile", OnNotifyPlayFile },
    { "/playEnd", RouteMatch::Exact, "OnNotifyPlayEnd", OnNotifyPlayEnd },
    { "/file_download/", RouteMatch::Prefix, "OnNotifyFileDownload", OnNotifyFileDownload },
    { "/playdirect/", RouteMatch::Prefix, "OnNotifyPlayDirect", OnNotifyPlayDirect },
    { "/convertList", RouteMatch::Exact, "OnNotifyGetConvertList", OnNotifyGetConvertList },
    { "/convert", RouteMatch::Exact, "OnNotifyConvert", OnNotifyConvert },
    { "/convertCancel", RouteMatch::Exact, "OnNotifyConvertCancel", OnNotifyConvertCancel },
    { "/convertProgress", RouteMatch::Exact, "OnNotifyConvertUpdateProgress",
        OnNotifyConvertUpdateProgress },
    { "/convertDeleteCompleteList", RouteMatch::Exact, "OnNotifyConvertDeleteCompleteList",
        OnNotifyConvertDeleteCompleteList },
    { "/xml/", RouteMatch::Prefix, "OnNotifyXML", OnNotifyXML },
    { "/thumb/", RouteMatch::Prefix, "OnNotifyThumb", OnNotifyThumb },
    { "/pid", RouteMatch::Exact, "OnNotifyPID", OnNotifyPID },
    { "/subtitle", RouteMatch::Exact, "OnNotifySubtitle", OnNotifySubtitle },
};

} // namespace

std::span<const Route> DefaultRoutes()
{
    return kRoutes;
}
