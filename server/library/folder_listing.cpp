#include "library/folder_listing.h"

#include "config/settings.h"
#include "config/trace.h"
#include "config/utf8_text.h"
#include "http/answer.h"
#include "library/library_context.h"
#include "library/media_files.h"
#include "library/media_properties.h"
#include "library/share_confine.h"
#include "library/shared_folders.h"
#include "library/text_codec.h"
#include "library/thumbnail.h"
#include "platform/places.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

enum class EntryKind { Skip, Folder, Video };

bool IsRegularFile(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// What a directory entry is in a listing, following links only when they stay
// inside the share; info receives what the look found. The entry is looked at by its
// name in the open folder folderFd (no walk of the whole path per entry), or by its
// whole path when folderFd is AT_FDCWD; the whole path is only made when needed, since
// a walk of a large share looks at every entry.
// nameIsVideo: the name was already found to be a video's (the kind goes by the name).
EntryKind ClassifyEntry(int folderFd, const std::string& diskFolder, const std::string& name,
    const std::string& shareFolder, bool nameIsVideo, struct stat& info)
{
    const bool byPath = folderFd == AT_FDCWD;
    if (fstatat(folderFd, byPath ? (diskFolder + name).c_str() : name.c_str(), &info,
            AT_SYMLINK_NOFOLLOW)
        != 0)
        return EntryKind::Skip;
    if (S_ISLNK(info.st_mode)) {
        const std::string full = diskFolder + name;
        if (!IsInsideShare(full, shareFolder) || stat(full.c_str(), &info) != 0)
            return EntryKind::Skip;
    }
    if (S_ISDIR(info.st_mode))
        return name.front() == '.' ? EntryKind::Skip : EntryKind::Folder;
    if (S_ISREG(info.st_mode) && (nameIsVideo || ClassifyMediaFile(name) == kMediaFileVideo))
        return EntryKind::Video;
    return EntryKind::Skip;
}

std::string FolderEntry(const std::string& name, int count)
{
    return "<dict><key>name</key><string>" + XmlEscape(name) + "</string><key>count</key><string>"
        + std::to_string(count) + "</string></dict>";
}

struct VideoEntry {
    std::string name, playTime, size, resolution, thumbnail;
    int encoding = 0, subtitle = 0;

    std::string Markup() const
    {
        return "<dict><key>name</key><string>" + XmlEscape(name)
            + "</string><key>playTime</key><string>" + XmlEscape(playTime)
            + "</string><key>size</key><string>" + XmlEscape(size)
            + "</string><key>resolution</key><string>" + XmlEscape(resolution)
            + "</string><key>encoding</key><string>" + std::to_string(encoding)
            + "</string><key>subtitle</key><string>" + std::to_string(subtitle)
            + "</string><key>thumbnail</key><string>" + XmlEscape(thumbnail) + "</string></dict>";
    }
};

// Reads one video's properties and, when they could be read, names its thumbnail
// and queues the thumbnail when it is not stored yet.
VideoEntry DescribeVideo(MediaPropertiesReader& media, const std::string& full,
    const std::string& name, const std::string& relativeFolder, const std::string& servicesFolder,
    std::vector<ThumbInfo>& jobs)
{
    VideoEntry entry;
    entry.name = name;
    GetSubtitleAndEncoding(full, entry.subtitle, entry.encoding);
    MediaProperties properties;
    if (!media.ReadMediaProperties(full, properties)) {
        TraceMessage(
            kTraceSessionLock, "QZ_MakeFileList : MediaInfo Open Error ('%s')", full.c_str());
        return entry;
    }
    entry.size = FormatSizeText(properties.fileSize);
    entry.playTime = FormatPlayTime(properties.durationMs);
    entry.resolution = std::to_string(properties.width) + "x" + std::to_string(properties.height);
    if (entry.encoding >= 1 && !IsDirectPlayableMedia(properties))
        entry.encoding = 0;

    const std::string relativeName = relativeFolder + "/" + name;
    TraceMessage(kTraceSessionLock,
        "QZ_MakeFileList : QZ_MakeThumbnail strGetPath('%s'), strtemp('%s')",
        relativeFolder.c_str(), name.c_str());
    const std::string thumbnailFile = ThumbnailFilePath(
        servicesFolder, relativeName, int(ParseLeadingInteger(kListThumbnailWidth)));
    if (!IsRegularFile(thumbnailFile))
        jobs.push_back(
            { full, kListThumbnailWidth, kListThumbnailHeight, entry.playTime, relativeName });
    const std::string thumbnailName = GetFileNameOf(thumbnailFile);
    entry.thumbnail = "/" + relativeFolder + "/" + thumbnailName;
    TraceMessage(kTraceSessionLock, "QZ_MakeFileList : QZ_MakeThumbnail strThumbnail('%s')",
        entry.thumbnail.c_str());
    return entry;
}

std::string AssembleDocument(const std::string& folders, const std::string& files)
{
    std::string body;
    if (!folders.empty())
        body += "<key>folders</key><array>" + folders + "</array>";
    if (!files.empty())
        body += "<key>files</key><array>" + files + "</array>";
    return PlistDocument(body);
}

ListedEntry MakeListedEntry(const std::string& name, bool folder, const struct stat& info)
{
    ListedEntry entry;
    entry.name = name;
    entry.folder = folder;
    entry.size = static_cast<int64_t>(info.st_size);
    entry.modifiedNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    entry.changedNs = int64_t(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    entry.device = static_cast<uint64_t>(info.st_dev);
    entry.inode = static_cast<uint64_t>(info.st_ino);
    return entry;
}

// LookAtEntry in the open folder folderFd (AT_FDCWD: by the whole path).
std::optional<ListedEntry> LookAt(int folderFd, const std::string& diskFolder,
    const std::string& name, const std::string& shareFolder, HiddenFiles hidden,
    bool nameIsVideo = false)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return std::nullopt;
    if (!textcodec::IsValidUtf8(name)) {
        // No request path could name it again, so it is not offered.
        TraceMessage(kTraceProgress, "QZ_MakeFileList : not UTF-8, skipped ('%s')",
            SanitizeUtf8(diskFolder + name).c_str());
        return std::nullopt;
    }
    struct stat info { };
    switch (ClassifyEntry(folderFd, diskFolder, name, shareFolder, nameIsVideo, info)) {
    case EntryKind::Folder:
        return MakeListedEntry(name, true, info);
    case EntryKind::Video:
        if (hidden == HiddenFiles::Listed || name.front() != '.')
            return MakeListedEntry(name, false, info);
        return std::nullopt;
    case EntryKind::Skip:
        break;
    }
    return std::nullopt;
}

} // namespace

std::optional<ListedEntry> LookAtEntry(const std::string& diskFolder, const std::string& name,
    const std::string& shareFolder, HiddenFiles hidden)
{
    return LookAt(AT_FDCWD, diskFolder, name, shareFolder, hidden);
}

std::vector<ListedEntry> ListFolderEntries(
    const std::string& diskFolder, const std::string& shareFolder, HiddenFiles hidden)
{
    std::vector<ListedEntry> entries;
    std::unique_ptr<DIR, DirCloser> dir(opendir(diskFolder.c_str()));
    while (dir) {
        const dirent* item = readdir(dir.get());
        if (!item)
            break;
        // A plain file that is no video (or a hidden one left out) needs no closer look.
        const bool plainFile = item->d_type == DT_REG;
        if (plainFile
            && (ClassifyMediaFile(item->d_name) != kMediaFileVideo
                || (hidden == HiddenFiles::LeftOut && item->d_name[0] == '.')))
            continue;
        // A plain file that got here has a video's name.
        if (std::optional<ListedEntry> entry
            = LookAt(dirfd(dir.get()), diskFolder, item->d_name, shareFolder, hidden, plainFile))
            entries.push_back(std::move(*entry));
    }
    return entries;
}

FolderListing BuildFolderListing(MediaPropertiesReader& media, const std::string& diskFolder,
    const std::string& requestPath, const std::string& shareFolder,
    const std::string& servicesFolder)
{
    FolderListing listing;
    std::string folders, files;
    const std::string relativeFolder = NormalizeRequestFolder(requestPath);
    for (const ListedEntry& entry : ListFolderEntries(diskFolder, shareFolder)) {
        const std::string full = diskFolder + entry.name;
        if (entry.folder)
            folders += FolderEntry(entry.name, CountFolderEntries(full)) + "\r\n";
        else
            files += DescribeVideo(media, full, entry.name, relativeFolder, servicesFolder,
                         listing.thumbnailJobs)
                         .Markup()
                + "\r\n";
    }
    listing.document = AssembleDocument(folders, files);
    return listing;
}

void QZ_MakeFileList(LibraryContext& server, std::string& list, const std::string& diskFolder,
    const std::string& requestPath, const std::string& host)
{
    (void)host; // references are relative; the answer's URL carries the host
    const std::string relativeFolder = NormalizeRequestFolder(requestPath);
    const std::string shareFolder = server.SharedFolders().FindSharedFolderPath(
        relativeFolder.substr(0, relativeFolder.find('/')));
    FolderListing listing = BuildFolderListing(
        server.Media(), diskFolder, requestPath, shareFolder, server.Places().ServicesFolder());
    if (!listing.thumbnailJobs.empty()) {
        server.Thumbnails().QZ_AddThumbnailJobs(std::move(listing.thumbnailJobs));
        server.Thumbnails().QZ_StartThumbnailThreads();
    }
    list = std::move(listing.document);
    TraceMessage(kTraceProgress, "QZ_MakeFileList : ('%s')", list.c_str());
}

std::string MakeRootListDocument(LibraryContext& server)
{
    std::string entries;
    for (const SharedFolder& share : server.SharedFolders().GetSharedFolders())
        entries += FolderEntry(share.name, CountFolderEntries(share.path));
    return PlistDocument("<key>folders</key><array>" + entries + "</array>");
}

std::vector<ThumbInfo> CollectShareThumbnailJobs(LibraryContext& server)
{
    std::vector<ThumbInfo> jobs;
    const std::string services = server.Places().ServicesFolder();
    for (const SharedFolder& share : server.SharedFolders().GetSharedFolders()) {
        std::string folder = share.path;
        if (folder.empty() || folder.back() != '/')
            folder += '/';
        FolderListing listing
            = BuildFolderListing(server.Media(), folder, "/" + share.name, share.path, services);
        for (ThumbInfo& job : listing.thumbnailJobs)
            jobs.push_back(std::move(job));
    }
    return jobs;
}
