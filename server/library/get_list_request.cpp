// "/getList": answers with the URL of a one-time list file that holds the listing
// of the shares ("/") or of one folder below a share.

#include "config/trace.h"
#include "http/answer.h"
#include "http/base_path.h"
#include "http/client_urls.h"
#include "http/request.h"
#include "library/folder_listing.h"
#include "library/library_context.h"
#include "library/one_time_list_files.h"
#include "library/request_handlers.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "library/shared_folders.h"

#include <sys/stat.h>

namespace {

bool IsFolder(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The listing document of a path value, or false with the error code to answer.
bool MakeListDocument(
    LibraryContext& server, const std::string& path, const std::string& host, std::string& document)
{
    if (DecodePathValue(path) == "/") {
        document = MakeRootListDocument(server);
        return true;
    }
    const RequestPathMapping mapping
        = MapRequestPath(server.SharedFolders(), path, RequestPathKind::Folder);
    if (mapping.status != RequestPathStatus::Mapped)
        return false;
    const std::string shareFolder = server.SharedFolders().FindSharedFolderPath(mapping.shareName);
    // A folder that does not exist lists as empty; one that resolves outside its
    // share (a link leading away) is not offered at all.
    if (IsFolder(mapping.diskPath) && !IsInsideShare(mapping.diskPath, shareFolder))
        return false;
    QZ_MakeFileList(server, document, mapping.diskPath, mapping.requestPath, host);
    return true;
}

} // namespace

void OnNotifyGetList(LibraryContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyGetList", request.QueryString());
    const std::string host = GetRequestHost(request);
    const std::string path = GetRequestVar(request, "path");
    ResponseGetList(server, path.empty() ? kResultFailedInput : kResultOk, request, path, host);
}

void ResponseGetList(LibraryContext& server, int code, HttpRequest& request,
    const std::string& path, const std::string& host)
{
    const TextTable& texts = server.Texts();
    WriteAnswerHeader(request);
    if (code == kResultFailedInput) {
        WriteAnswerDocument(request, MakeErrorAnswer(texts, kResultFailedInput, kTextFailedInput));
        return;
    }
    std::string document;
    if (!MakeListDocument(server, path, host, document)) {
        WriteAnswerDocument(request, MakeErrorAnswer(texts, kResultNotExist, kTextNotExistFolder));
        return;
    }
    std::string name;
    if (!MakeAndGetXmlFile(server, document, name, ListFileOwnerOf(server, request))) {
        WriteAnswerDocument(
            request, MakeErrorAnswer(texts, kResultFailedUnknown, kTextFailedUnknown));
        return;
    }
    const std::string url
        = RootUrl(ClientUrlHost(request, ReadBasePath(server.Settings())), server.ExtPort())
        + "/xml/" + name;
    const std::string answer = PlistDocument(PlistAnswer(kResultOk).Add("fileurl", url).Body());
    WriteAnswerDocument(request, answer);
    TraceMessage(kTraceProgress, "ResponseGetList_XMl : ('%s')", answer.c_str());
    TraceMessage(kTraceProgress, "ResponseGetList : ('%s')", path.c_str());
}
