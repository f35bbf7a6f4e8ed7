#include "library/api_support.h"

#include "http/api_answer.h"
#include "http/request.h"
#include "library/library_context.h"
#include "library/media_files.h"
#include "library/media_properties_cache.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "library/text_codec.h"

#include <sys/stat.h>

namespace {

bool HasHiddenComponent(const std::string& relative)
{
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        if (end > start && relative[start] == '.')
            return true;
        start = end + 1;
    }
    return false;
}

std::string LastComponent(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& requestPath)
{
    const size_t slash = requestPath.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : requestPath.substr(0, slash);
}

// encoding: the phone's flag of the file's name (1 may play as it is, 2 converted here).
void WriteMedia(JsonWriter& json, const CachedMediaRead& read, int encoding)
{
    json.Key("media").BeginObject();
    json.Key("readable").Bool(read.opened);
    if (read.opened) {
        const MediaProperties& p = read.properties;
        json.Key("duration").Real(double(p.durationMs) / 1000.0);
        json.Key("width").Int(p.width).Key("height").Int(p.height);
        json.Key("video").String(p.videoFormat);
        json.Key("audio").String(p.audioId.empty() ? std::string() : p.audioFormat);
        json.Key("directPlay").Bool(encoding >= 1 && IsDirectPlayableMedia(p));
    }
    json.End();
}

} // namespace

std::optional<QueryValues> ReadApiQuery(HttpRequest& request)
{
    std::string error;
    std::optional<QueryValues> query = QueryValues::Parse(request.QueryString(), error);
    if (!query)
        WriteApiError(request, 400, error);
    return query;
}

std::optional<std::string> RequireText(
    HttpRequest& request, const QueryValues& query, const char* name, size_t maxBytes)
{
    const std::string* value = query.Find(name);
    std::string problem;
    if (!value || value->empty())
        problem = "is missing";
    else if (value->size() > maxBytes)
        problem = "is too long";
    else if (!textcodec::IsValidUtf8(*value))
        problem = "is not UTF-8 text";
    if (problem.empty())
        return *value;
    WriteApiError(request, 400, std::string("The value '") + name + "' " + problem + ".");
    return std::nullopt;
}

std::optional<int64_t> ReadWholeNumber(HttpRequest& request, const QueryValues& query,
    const char* name, int64_t def, int64_t min, int64_t max)
{
    const std::string* value = query.Find(name);
    if (!value)
        return def;
    std::optional<int64_t> number = ParseWholeNumber(*value, min, max);
    if (!number)
        WriteApiError(request, 400,
            std::string("The value '") + name + "' must be a whole number from "
                + std::to_string(min) + " to " + std::to_string(max) + ".");
    return number;
}

std::optional<ApiPath> ResolveApiPath(
    LibraryContext& server, HttpRequest& request, const QueryValues& query, ApiPathKind kind)
{
    std::optional<std::string> value = RequireText(request, query, "path", kMaxApiPathBytes);
    if (!value)
        return std::nullopt;
    const std::string relative = NormalizeRequestFolder(*value);
    ApiPath path;
    if (relative.empty() && kind == ApiPathKind::Folder) {
        path.requestPath = "/";
        return path;
    }
    const RequestPathMapping mapping = MapDecodedRequestPath(server.SharedFolders(), "/" + relative,
        kind == ApiPathKind::Folder ? RequestPathKind::Folder : RequestPathKind::File);
    if (mapping.status == RequestPathStatus::Refused || HasDotDotComponent(*value)) {
        WriteApiError(request, 400, "The path is not allowed.");
        return std::nullopt;
    }
    struct stat info { };
    const bool there = IsMappedInsideShare(server.SharedFolders(), mapping)
        && !HasHiddenComponent(relative) && stat(mapping.diskPath.c_str(), &info) == 0;
    const bool fits = there
        && (kind == ApiPathKind::Folder ? S_ISDIR(info.st_mode)
                                        : S_ISREG(info.st_mode)
                    && ClassifyMediaFile(LastComponent(relative)) == kMediaFileVideo);
    if (!fits) {
        WriteApiError(request, 404,
            mapping.status == RequestPathStatus::UnknownShare ? "There is no share of that name."
                                                              : "There is nothing at that path.");
        return std::nullopt;
    }
    path.requestPath = "/" + relative;
    path.share = mapping.shareName;
    path.diskPath = mapping.diskPath;
    if (kind == ApiPathKind::Folder && path.diskPath.back() != '/')
        path.diskPath += '/';
    path.size = static_cast<int64_t>(info.st_size);
    path.modifiedNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return path;
}

bool WriteVideoEntry(LibraryContext& server, JsonWriter& json, const VideoFacts& video,
    const std::function<void(JsonWriter&)>& extra)
{
    json.BeginObject();
    json.Key("name").String(LastComponent(video.requestPath));
    json.Key("path").String(video.requestPath);
    json.Key("folder").String(FolderOf(video.requestPath));
    json.Key("size").Int(video.size);
    json.Key("modified").Int(EpochMs(video.modifiedNs));
    if (video.addedNs)
        json.Key("added").Int(EpochMs(*video.addedNs));
    int subtitle = 0, encoding = 0;
    GetSubtitleAndEncoding(video.diskPath, subtitle, encoding);
    json.Key("subtitle").Bool(subtitle == 1);
    json.Key("converted").Bool(encoding == 2);
    // Without a cache (no data folder) nothing read in the background would be kept.
    std::shared_ptr<MediaPropertiesCache> cache = server.Media().Cache();
    std::optional<CachedMediaRead> read;
    if (cache)
        read = cache->Find(video.diskPath, { video.size, video.modifiedNs });
    if (read)
        WriteMedia(json, *read, encoding);
    const bool pending = cache && !read && server.Prefetch().Queue(video.diskPath);
    if (extra)
        extra(json);
    json.End();
    return pending;
}

std::optional<VideoFacts> FindSharedVideo(LibraryContext& server, const std::string& requestPath)
{
    const RequestPathMapping mapping
        = MapDecodedRequestPath(server.SharedFolders(), requestPath, RequestPathKind::File);
    struct stat info { };
    if (!IsMappedInsideShare(server.SharedFolders(), mapping)
        || stat(mapping.diskPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    VideoFacts video;
    video.requestPath = requestPath;
    video.diskPath = mapping.diskPath;
    video.size = static_cast<int64_t>(info.st_size);
    video.modifiedNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return video;
}

std::optional<std::string> ReadProfile(HttpRequest& request, const QueryValues& query)
{
    const std::string* value = query.Find("profile");
    if (!value)
        return std::string(kDefaultProfile);
    if (IsUsableProfileName(*value))
        return *value;
    WriteApiError(request, 400,
        "The value 'profile' must be 1 to " + std::to_string(kMaxProfileChars)
            + " characters of text.");
    return std::nullopt;
}
