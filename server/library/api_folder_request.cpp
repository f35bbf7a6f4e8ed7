// "/api/v1/folder": the browser's listing of a folder (or, for "/", of the shares),
// answered at once from the folder and the media cache: every entry has its size and
// modification time, and videos whose media properties are not known yet are read in
// the background ("pending" counts them; asking again later finds them).

#include "http/api_answer.h"
#include "http/request.h"
#include "library/api_support.h"
#include "library/folder_listing.h"
#include "library/library_context.h"
#include "library/media_files.h"
#include "library/request_handlers.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

int64_t ModifiedMs(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0
        ? int64_t(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000
        : 0;
}

void WriteFolder(JsonWriter& json, const std::string& name, const std::string& requestPath,
    const std::string& diskPath, int64_t modifiedMs)
{
    json.BeginObject();
    json.Key("name").String(name).Key("path").String(requestPath);
    json.Key("modified").Int(modifiedMs);
    json.Key("count").Int(CountFolderEntries(diskPath));
    json.End();
}

std::string Child(const std::string& requestPath, const std::string& name)
{
    return requestPath == "/" ? "/" + name : requestPath + "/" + name;
}

void WriteShares(LibraryContext& server, JsonWriter& json)
{
    json.Key("folders").BeginArray();
    for (const SharedFolder& share : server.SharedFolders().GetSharedFolders())
        WriteFolder(json, share.name, "/" + share.name, share.path, ModifiedMs(share.path));
    json.End();
    json.Key("files").BeginArray().End();
    json.Key("pending").Int(0);
}

void WriteEntries(LibraryContext& server, JsonWriter& json, const ApiPath& folder)
{
    const std::string shareFolder = server.SharedFolders().FindSharedFolderPath(folder.share);
    std::vector<ListedEntry> entries
        = ListFolderEntries(folder.diskPath, shareFolder, HiddenFiles::LeftOut);
    // A fixed order keeps the answer (and its entity tag) the same while nothing changes.
    std::sort(entries.begin(), entries.end(),
        [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
    json.Key("folders").BeginArray();
    for (const ListedEntry& entry : entries) {
        if (entry.folder)
            WriteFolder(json, entry.name, Child(folder.requestPath, entry.name),
                folder.diskPath + entry.name, EpochMs(entry.modifiedNs));
    }
    json.End();
    int64_t pending = 0;
    json.Key("files").BeginArray();
    for (const ListedEntry& entry : entries) {
        if (entry.folder)
            continue;
        VideoFacts video { Child(folder.requestPath, entry.name), folder.diskPath + entry.name,
            entry.size, entry.modifiedNs, std::nullopt };
        pending += WriteVideoEntry(server, json, video) ? 1 : 0;
    }
    json.End();
    json.Key("pending").Int(pending);
}

} // namespace

void OnNotifyApiFolder(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyApiFolder", request.QueryString());
    std::optional<QueryValues> query = ReadApiQuery(request);
    if (!query)
        return;
    std::optional<ApiPath> folder = ResolveApiPath(server, request, *query, ApiPathKind::Folder);
    if (!folder)
        return;
    JsonWriter json;
    json.BeginObject().Key("path").String(folder->requestPath);
    if (folder->requestPath == "/")
        WriteShares(server, json);
    else
        WriteEntries(server, json, *folder);
    json.End();
    WriteApiAnswer(request, json.Text());
}
