#include "library/library_walk.h"

#include "config/trace.h"
#include "library/folder_listing.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace {

struct PendingFolder {
    std::string relative;
    size_t depth = 0;
};

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

} // namespace

std::string ShareDiskFolder(const std::string& shareFolder, const std::string& relative)
{
    std::string disk = shareFolder;
    if (disk.empty() || disk.back() != '/')
        disk += '/';
    if (!relative.empty())
        disk += relative + "/";
    return disk;
}

WalkResult WalkShare(const std::string& share, const std::string& shareFolder,
    const std::string& start, const WalkBounds& bounds, const FolderVisit& visit,
    const std::atomic<bool>& stopping, const FolderFiles& handOver)
{
    WalkResult result;
    std::set<std::pair<uint64_t, uint64_t>> seen; // folders by device and inode
    struct stat info { };
    if (stat(ShareDiskFolder(shareFolder, start).c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return result;
    seen.insert({ uint64_t(info.st_dev), uint64_t(info.st_ino) });
    std::deque<PendingFolder> pending { { start, 0 } };
    size_t folders = 0;
    while (!pending.empty()) {
        if (stopping) {
            result.stopped = true;
            break;
        }
        PendingFolder folder = std::move(pending.front());
        pending.pop_front();
        const std::string disk = ShareDiskFolder(shareFolder, folder.relative);
        if (visit)
            visit(folder.relative, disk);
        std::vector<IndexedFile> here;
        for (ListedEntry& entry : ListFolderEntries(disk, shareFolder, HiddenFiles::LeftOut)) {
            std::string relative = Join(folder.relative, entry.name);
            if (!entry.folder) {
                if (result.found >= bounds.maxFiles) {
                    result.cut = true;
                    continue;
                }
                ++result.found;
                here.push_back(
                    { share, std::move(relative), entry.size, entry.modifiedNs, entry.changedNs });
                continue;
            }
            if (!seen.insert({ entry.device, entry.inode }).second)
                continue; // reached again through a link
            if (folder.depth + 1 > bounds.maxDepth || ++folders > bounds.maxFolders) {
                result.cut = true;
                continue;
            }
            pending.push_back({ std::move(relative), folder.depth + 1 });
        }
        if (handOver) {
            if (!here.empty())
                handOver(std::move(here));
        } else
            std::move(here.begin(), here.end(), std::back_inserter(result.files));
    }
    // In path order the rows go into the database's indexes in order.
    std::sort(result.files.begin(), result.files.end(),
        [](const IndexedFile& a, const IndexedFile& b) { return a.relativePath < b.relativePath; });
    if (result.cut)
        TraceMessage(kTraceProgress, "LibraryIndex : walk of '%s' cut at its bounds (%zu files)",
            share.c_str(), result.found);
    return result;
}
