// "/file_download/": a file of a share, whole or by byte range, by its path below
// the share ("/file_download/Movies/Kids/a.avi").

#include "config/trace.h"
#include "http/request.h"
#include "http/send_file.h"
#include "library/library_context.h"
#include "library/request_handlers.h"
#include "library/request_paths.h"
#include "library/share_confine.h"

#include <sys/stat.h>

namespace {

constexpr std::string_view kDownloadPrefix = "/file_download/";

bool PathExists(const std::string& path)
{
    struct stat info { };
    return lstat(path.c_str(), &info) == 0;
}

} // namespace

void OnNotifyFileDownload(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyFileDownload", request.QueryString());
    const std::string& uri = request.Uri();
    const std::string value = uri.substr(std::min(uri.size(), kDownloadPrefix.size()));
    const RequestPathMapping mapping
        = MapRequestPath(server.SharedFolders(), value, RequestPathKind::File);
    if (mapping.status != RequestPathStatus::Mapped) {
        // An unknown share is not found: never a path from the root of the disk.
        request.SendError(404, "Not Found");
        return;
    }
    // A missing file goes to the sender, which answers it as it answers every file
    // that cannot be opened; one that exists but resolves outside its share is not
    // found.
    if (PathExists(mapping.diskPath) && !IsMappedInsideShare(server.SharedFolders(), mapping)) {
        request.SendError(404, "Not Found");
        return;
    }
    TraceMessage(kTraceRequestStep, " - TRY : qz_mg_send_file : ('%s')", mapping.diskPath.c_str());
    qz_mg_send_file(request, mapping.diskPath);
}
