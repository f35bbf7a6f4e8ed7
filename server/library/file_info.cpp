#include "library/file_info.h"

#include "config/trace.h"
#include "http/answer.h"
#include "http/base_path.h"
#include "http/client_urls.h"
#include "http/request.h"
#include "library/direct_play_table.h"
#include "library/library_context.h"
#include "library/media_files.h"
#include "library/media_properties.h"
#include "library/request_handlers.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "library/shared_folders.h"

#include <sys/stat.h>

namespace {

struct FileKeys {
    std::string playTime = "0";
    std::string size = "0";
    std::string resolution;
    int encoding = 0;
    int subtitle = 0;
    std::string playUrl;
};

std::string HostForClient(LibraryContext& server, const HttpRequest& request, const std::string& id)
{
    if (std::optional<std::string> host = server.Clients().FindClientHost(id))
        return *host;
    return ClientUrlHost(request, ReadBasePath(server.Settings()));
}

// A path that exists but, through a symbolic link, leads out of its share is
// answered as if it were not there.
bool LeavesItsShare(const SharedFolderList& shares, const RequestPathMapping& mapping)
{
    struct stat info;
    if (lstat(mapping.diskPath.c_str(), &info) != 0)
        return false;
    return !IsInsideShare(mapping.diskPath, shares.FindSharedFolderPath(mapping.shareName));
}

std::string FileInfoDocument(const std::string& name, const FileKeys& keys)
{
    PlistDict dict = PlistAnswer(kResultOk);
    dict.Add("name", name)
        .Add("playTime", keys.playTime)
        .Add("size", keys.size)
        .Add("resolution", keys.resolution)
        .Add("encoding", keys.encoding)
        .Add("subtitle", keys.subtitle)
        .Add("playdurl", keys.playUrl);
    return PlistDocument(dict.Body());
}

} // namespace

std::string QZ_MakeFileInfo(LibraryContext& server, const HttpRequest& request,
    const std::string& id, const std::string& filePath, const std::string& requestPath)
{
    std::string host = HostForClient(server, request, id);
    std::string name = filePath.substr(filePath.rfind('/') + 1);
    if (ClassifyMediaFile(filePath) != kMediaFileVideo)
        return PlistDocument(PlistAnswer(kResultOk).Body());

    FileKeys keys;
    GetSubtitleAndEncoding(filePath, keys.subtitle, keys.encoding);
    MediaProperties properties;
    if (server.Media().ReadMediaProperties(filePath, properties)) {
        keys.size = FormatSizeText(properties.fileSize);
        keys.playTime = FormatPlayTime(properties.durationMs);
        keys.resolution
            = std::to_string(properties.width) + "x" + std::to_string(properties.height);
        if (keys.encoding >= 1 && !IsDirectPlayableMedia(properties))
            keys.encoding = 0;
        if (keys.encoding >= 1)
            keys.playUrl = MakeDirectPlayUrl(server, host, filePath);
    } else {
        // The name-based flags stand; without a reading there is no direct-play URL.
        TraceMessage(
            kTraceSessionLock, "QZ_MakeFileInfo : MediaInfo Open Error ('%s')", filePath.c_str());
    }
    std::string document = FileInfoDocument(name, keys);
    TraceMessage(kTraceProgress, "QZ_MakeFileInfo : ('%s') for ('%s')", document.c_str(),
        requestPath.c_str());
    return document;
}

void ResponseGetFileInfo(LibraryContext& server, int code, HttpRequest& request,
    const std::string& path, const std::string& id)
{
    WriteAnswerHeader(request);
    std::string document;
    if (code == kResultFailedInput) {
        document = MakeErrorAnswer(server.Texts(), kResultFailedInput, kTextFailedInput);
    } else {
        RequestPathMapping mapping
            = MapRequestPath(server.SharedFolders(), path, RequestPathKind::File);
        if (mapping.status != RequestPathStatus::Mapped
            || LeavesItsShare(server.SharedFolders(), mapping))
            document = MakeErrorAnswer(server.Texts(), kResultNotExist, kTextNotExistFile);
        else
            document = QZ_MakeFileInfo(server, request, id, mapping.diskPath, mapping.requestPath);
    }
    WriteAnswerDocument(request, document);
    TraceMessage(kTraceProgress, "ResponseGetList : ('%s')", path.c_str());
}

void OnNotifyGetFileInfo(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyGetFileInfo", request.QueryString());
    std::string path = GetRequestVar(request, "path");
    std::string id = GetRequestVar(request, "id");
    ResponseGetFileInfo(server, path.empty() ? kResultFailedInput : kResultOk, request, path, id);
}
