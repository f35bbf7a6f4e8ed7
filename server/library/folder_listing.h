#pragma once

// Folder listings. "/getList" with the path "/" lists the shares with their entry
// counts; a path whose first component is a share name lists the subfolders and
// videos of that folder, each video with its play time, size, resolution, the
// "encoding" and "subtitle" flags and a thumbnail reference. The document goes to
// a one-time list file (list_files.h) and the answer carries its URL. Thumbnails
// that are not stored yet are handed to the worker pool as one batch, and the
// listing waits a bounded time for them.

#include "library/thumbnail_pool.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class HttpRequest;
class LibraryContext;
class MediaPropertiesReader;

struct FolderListing {
    std::string document; // the listing document (plist frame, no result/message)
    std::vector<ThumbInfo> thumbnailJobs; // small thumbnails that are not stored yet
};

// One entry a listing shows: a subfolder or a video, by name, with what the look at
// it found (links followed).
struct ListedEntry {
    std::string name;
    bool folder = false;
    int64_t size = 0; // bytes
    int64_t modifiedNs = 0; // modification time, nanoseconds since the epoch
    int64_t changedNs = 0; // status change time (a file copied or moved in)
    uint64_t device = 0; // with inode, which folder or file this is
    uint64_t inode = 0;
};

// Hidden videos (a name that starts with a dot) are listed for the phone, as they
// always were; screens, browsers and the library index leave them out.
enum class HiddenFiles { Listed, LeftOut };

// The entries a listing of diskFolder (ending in '/') shows, in the order of the
// directory: subfolders that are not hidden and video files, each valid UTF-8 and
// (links resolved) inside the share whose folder is shareFolder.
std::vector<ListedEntry> ListFolderEntries(const std::string& diskFolder,
    const std::string& shareFolder, HiddenFiles hidden = HiddenFiles::Listed);

// One entry of diskFolder by name, as the listing would show it; nothing when the
// listing would leave it out (or it is not there).
std::optional<ListedEntry> LookAtEntry(const std::string& diskFolder, const std::string& name,
    const std::string& shareFolder, HiddenFiles hidden);

// Lists diskFolder (ending in '/'), which requestPath ("/Movies/Kids") names below
// the share whose folder is shareFolder. Entries that are not valid UTF-8, cannot
// be read, or resolve outside the share are left out; so are hidden subfolders.
FolderListing BuildFolderListing(MediaPropertiesReader& media, const std::string& diskFolder,
    const std::string& requestPath, const std::string& shareFolder,
    const std::string& servicesFolder);

// QZ_MakeFileList: builds the listing into list, then hands its thumbnail batch to
// the pool and waits for it (at most about 10 seconds).
void QZ_MakeFileList(LibraryContext& server, std::string& list, const std::string& diskFolder,
    const std::string& requestPath, const std::string& host);

// The root listing: every share in list order with its entry count.
std::string MakeRootListDocument(LibraryContext& server);

// The thumbnail jobs a listing of each share's folder would queue (server start).
std::vector<ThumbInfo> CollectShareThumbnailJobs(LibraryContext& server);

// Handler of "/getList" and its answer builder.
void ResponseGetList(LibraryContext& server, int code, HttpRequest& request,
    const std::string& path, const std::string& host);
