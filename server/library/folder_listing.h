#pragma once

// Folder listings. "/getList" with the path "/" lists the shares with their entry
// counts; a path whose first component is a share name lists the subfolders and
// videos of that folder, each video with its play time, size, resolution, the
// "encoding" and "subtitle" flags and a thumbnail reference. The document goes to
// a one-time list file (list_files.h) and the answer carries its URL. Thumbnails
// that are not stored yet are handed to the worker pool as one batch, and the
// listing waits a bounded time for them.

#include "library/thumbnail_pool.h"

#include <string>
#include <vector>

class HttpRequest;
class LibraryContext;
class MediaPropertiesReader;

struct FolderListing {
    std::string document; // the listing document (plist frame, no result/message)
    std::vector<ThumbInfo> thumbnailJobs; // small thumbnails that are not stored yet
};

// One entry a listing shows: a subfolder or a video, by name.
struct ListedEntry {
    std::string name;
    bool folder = false;
};

// The entries a listing of diskFolder (ending in '/') shows, in the order of the
// directory: subfolders that are not hidden and video files, each valid UTF-8 and
// (links resolved) inside the share whose folder is shareFolder.
std::vector<ListedEntry> ListFolderEntries(
    const std::string& diskFolder, const std::string& shareFolder);

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
