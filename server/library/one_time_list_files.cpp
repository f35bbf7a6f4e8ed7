#include "library/one_time_list_files.h"

#include "config/settings.h"
#include "config/trace.h"
#include "http/access_gate.h"
#include "http/request.h"
#include "http/send_file.h"
#include "library/library_context.h"
#include "library/list_file_book.h"
#include "platform/file_io.h"
#include "platform/temp_names.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string NewListFile(const std::string& folder)
{
    std::string path = CreateTempListFile(folder);
    if (path.empty() && !FileExists(folder)) {
        // The folder is made at start-up; it may have been removed under us since.
        CreateFolderPath(folder);
        path = CreateTempListFile(folder);
    }
    return path;
}

void DeleteListFiles(const std::string& folder, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        unlink((folder + "/" + name).c_str());
}

// Enters a new file in the book; false (file deleted) when the server holds too many.
bool EnterInBook(ListFileBook& book, const std::string& folder, const std::string& name,
    const ListFileOwner& owner)
{
    std::vector<std::string> doomed;
    const bool admitted = book.Enter(owner.client, name, doomed, owner.id);
    DeleteListFiles(folder, doomed);
    if (!admitted) {
        unlink((folder + "/" + name).c_str());
        TraceMessage(kTraceProgress, "MakeAndGetXmlFile : too many unfetched list files");
    }
    return admitted;
}

// True when the request may fetch the list file: anyone may, unless the server checks
// its password; then only the id that asked for it.
bool MayFetch(LibraryContext& server, const HttpRequest& request, const std::string& name)
{
    if (!IsPasswordRequired(server))
        return true;
    std::optional<std::string> owner = server.ListFiles().OwnerOf(name);
    return owner && !owner->empty() && *owner == CarriedClientId(server, request);
}

} // namespace

ListFileOwner ListFileOwnerOf(LibraryContext& server, const HttpRequest& request)
{
    ListFileOwner owner;
    owner.client = request.RemoteAddress();
    if (IsPasswordRequired(server))
        owner.id = CarriedClientId(server, request);
    return owner;
}

bool MakeAndGetXmlFile(LibraryContext& server, const std::string& document, std::string& name,
    const ListFileOwner& owner)
{
    const std::string folder = server.Places().ServicesFolder();
    const bool fresh = name.empty();
    if (fresh) {
        name = GetFileNameOf(NewListFile(folder));
        if (!name.empty() && !EnterInBook(server.ListFiles(), folder, name, owner))
            name.clear();
    } else if (!IsTempListFileName(name)) {
        name.clear();
    }
    if (name.empty()) {
        TraceMessage(kTraceProgress, "MakeAndGetXmlFile : cannot create a list file in ('%s')",
            folder.c_str());
        return false;
    }
    const std::string path = folder + "/" + name;
    // Replaced whole: a fetch at the same time gets the old list or the new one.
    if (!ReplaceFileWhole(path, document)) {
        if (fresh)
            unlink(path.c_str());
        if (fresh)
            server.ListFiles().Remove(name);
        TraceMessage(kTraceProgress, "MakeAndGetXmlFile : cannot write ('%s')", path.c_str());
        name.clear();
        return false;
    }
    TraceMessage(kTraceProgress, "MakeAndGetXmlFile : ('%s')", name.c_str());
    return true;
}

void OnNotifyXML(LibraryContext& server, HttpRequest& request)
{
    TraceMessage(kTraceRequest, " - Noti OnNotifyXML: ('%s')", request.QueryString().c_str());
    static constexpr std::string_view kPrefix = "/xml/";
    const std::string& uri = request.Uri();
    const std::string name = uri.substr(std::min(uri.size(), kPrefix.size()));
    if (!IsTempListFileName(name) || !MayFetch(server, request, name)) {
        request.SendError(404, "Not Found");
    } else {
        const std::string path = server.Places().ServicesFolder() + "/" + name;
        if (request.IsHead()) {
            qz_mg_send_file(request, path);
        } else {
            // Opening and then unlinking claims the file: of two fetches at once only
            // the one whose unlink succeeds sends it, and nothing is left behind.
            UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
            if (file && unlink(path.c_str()) == 0) {
                server.ListFiles().Remove(name);
                qz_mg_send_file(request, "/proc/self/fd/" + std::to_string(file.Get()));
            } else if (errno == ENOENT) {
                // Fetched already, expired or never made: nothing is wrong with the server.
                request.SendError(404, "Not Found");
            } else {
                // The detail stays in the trace: the server's folders are nobody's business.
                TraceMessage(kTraceStreamFailure, "OnNotifyXML : cannot open ('%s'): %s",
                    path.c_str(), std::strerror(errno));
                request.SendError(500, "Internal Server Error");
            }
        }
    }
    TraceMessage(
        kTraceRequest, " - Noti complete: OnNotifyXML: ('%s')", request.QueryString().c_str());
}

void RemoveLeftoverListFiles(LibraryContext& server)
{
    std::string services = server.Places().ServicesFolder();
    if (services.empty())
        return;
    for (const std::string& name : ListFolder(services, FolderEntries::Files)) {
        if (IsTempListFileName(name))
            unlink((services + "/" + name).c_str());
    }
    server.ListFiles().Clear();
}
