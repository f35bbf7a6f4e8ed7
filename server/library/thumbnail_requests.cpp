// "/getThumbnail" makes (or finds) the thumbnail of one video and sends it;
// "/thumb/" sends a stored thumbnail by its name below the services folder.

#include "config/trace.h"
#include "http/request.h"
#include "http/send_file.h"
#include "library/library_context.h"
#include "library/request_handlers.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "library/shared_folders.h"
#include "library/thumbnail.h"

#include <sys/stat.h>

namespace {

constexpr std::string_view kThumbPrefix = "/thumb/";

bool EndsWith(const std::string& text, std::string_view tail)
{
    return text.size() >= tail.size()
        && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsThumbnailName(const std::string& name)
{
    return !name.empty() && !HasDotDotComponent(name) && name.find('\\') == std::string::npos
        && name.find('\0') == std::string::npos
        && (EndsWith(name, "_s.jpg") || EndsWith(name, "_l.jpg"));
}

bool PathExists(const std::string& path)
{
    struct stat info { };
    return lstat(path.c_str(), &info) == 0;
}

} // namespace

void OnNotifyGetThumbnail(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyGetThumbnail", request.QueryString());
    const std::string path = GetRequestVar(request, "path");
    char width[11] = {}, height[11] = {}, playTime[16] = {};
    CopyRequestVar(request, "width", width);
    CopyRequestVar(request, "height", height);
    CopyRequestVar(request, "playtime", playTime);
    if (path.empty() || !width[0] || !height[0])
        return; // nothing is sent

    const RequestPathMapping mapping
        = MapRequestPath(server.SharedFolders(), path, RequestPathKind::File);
    if (!IsMappedInsideShare(server.SharedFolders(), mapping)) {
        request.SendError(404, "Not Found");
        return;
    }
    const std::string name = NormalizeRequestFolder(mapping.requestPath);
    TraceMessage(kTraceRequestStep, " - TRY : MakeThumbnail ('%s') => ('%s')", name.c_str(),
        mapping.diskPath.c_str());
    const std::string file
        = server.Thumbnails().QZ_MakeThumbnail(mapping.diskPath, width, height, playTime, name);
    qz_mg_send_file(request, file);
}

void OnNotifyThumb(LibraryContext& server, HttpRequest& request)
{
    const std::string& uri = request.Uri();
    TraceMessage(kTraceRequest, " - Noti OnNotifyThumb: ('%s')", uri.c_str());
    // The client encodes the path twice, as for downloads: the library has decoded
    // it once, DecodePathValue decodes a twice-encoded name (Korean, blanks, '&')
    // again and leaves a '%' without two hex digits after it as it is.
    const std::string name = DecodePathValue(uri.substr(std::min(uri.size(), kThumbPrefix.size())));
    TraceMessage(kTraceRequest, " - Noti OnNotifyThumb Step2 : ('%s')", name.c_str());
    const std::string services = server.Places().ServicesFolder();
    const std::string file = services + "/" + name;
    if (!IsThumbnailName(name) || (PathExists(file) && !IsInsideShare(file, services)))
        request.SendError(404, "Not Found");
    else
        qz_mg_send_file(request, file);
    TraceMessage(kTraceRequest, " - Noti complete: OnNotifyThumb: ('%s')", uri.c_str());
}
