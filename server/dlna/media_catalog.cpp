#include "dlna/media_catalog.h"

#include "dlna/object_ids.h"
#include "library/folder_listing.h"
#include "library/library_context.h"
#include "library/media_files.h"
#include "library/request_paths.h"
#include "library/share_confine.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

bool HasHiddenComponent(const std::string& relativePath)
{
    size_t start = 0;
    while (start <= relativePath.size()) {
        size_t end = relativePath.find('/', start);
        if (end == std::string::npos)
            end = relativePath.size();
        if (end > start && relativePath[start] == '.')
            return true;
        start = end + 1;
    }
    return false;
}

std::string LastComponent(const std::string& relativePath)
{
    const size_t slash = relativePath.rfind('/');
    return slash == std::string::npos ? relativePath : relativePath.substr(slash + 1);
}

bool SubtitleBeside(const std::string& diskPath)
{
    int subtitle = 0, encoding = 0;
    GetSubtitleAndEncoding(diskPath, subtitle, encoding);
    return subtitle == 1;
}

CatalogObject MakeChild(const CatalogObject& parent, const std::string& name, bool folder,
    const std::string& diskPath, int64_t modified)
{
    CatalogObject child;
    child.kind = folder ? ObjectKind::Container : ObjectKind::Video;
    child.relativePath = parent.relativePath.empty() ? name : parent.relativePath + "/" + name;
    child.id = MakeObjectId(child.relativePath);
    child.parentId = parent.id;
    child.title = folder ? name : VideoTitle(name);
    child.diskPath = diskPath;
    child.modified = modified;
    return child;
}

int64_t ModifiedTime(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_mtime) : 0;
}

bool Before(const CatalogObject& a, const CatalogObject& b, const std::vector<SortKey>& keys)
{
    for (const SortKey& key : keys) {
        int order = 0;
        if (key.field == SortKey::Field::Title)
            order = a.title.compare(b.title);
        else
            order = a.modified < b.modified ? -1 : (a.modified > b.modified ? 1 : 0);
        if (order != 0)
            return key.ascending ? order < 0 : order > 0;
    }
    if (keys.empty() && a.kind != b.kind)
        return a.kind == ObjectKind::Container;
    // Names are unique within a folder, so the order is total and pages never
    // overlap.
    return a.relativePath < b.relativePath;
}

} // namespace

std::optional<std::vector<SortKey>> ParseSortCriteria(const std::string& text)
{
    std::vector<SortKey> keys;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        std::string item = text.substr(start, end - start);
        start = end + 1;
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        if (item.empty())
            continue;
        SortKey key;
        if (item.front() == '+' || item.front() == '-') {
            key.ascending = item.front() == '+';
            item.erase(0, 1);
        }
        if (item == "dc:title")
            key.field = SortKey::Field::Title;
        else if (item == "dc:date")
            key.field = SortKey::Field::Date;
        else
            return std::nullopt;
        keys.push_back(key);
    }
    return keys;
}

std::string VideoTitle(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

MediaCatalog::MediaCatalog(LibraryContext& library)
    : m_library(library)
{
}

std::optional<CatalogObject> MediaCatalog::Resolve(const std::string& id) const
{
    std::optional<std::string> path = ObjectIdPath(id);
    if (!path)
        return std::nullopt;
    CatalogObject object;
    object.id = id;
    if (path->empty()) {
        object.parentId = kRootParentId;
        return object;
    }
    if (HasHiddenComponent(*path))
        return std::nullopt;
    const bool isShare = path->find('/') == std::string::npos;
    const RequestPathMapping mapping = MapDecodedRequestPath(m_library.SharedFolders(), "/" + *path,
        isShare ? RequestPathKind::Folder : RequestPathKind::File);
    if (!IsMappedInsideShare(m_library.SharedFolders(), mapping))
        return std::nullopt;
    const std::string& diskPath = mapping.diskPath;
    struct stat info { };
    if (stat(diskPath.c_str(), &info) != 0)
        return std::nullopt;
    if (S_ISDIR(info.st_mode))
        object.kind = ObjectKind::Container;
    else if (S_ISREG(info.st_mode) && !isShare
        && ClassifyMediaFile(LastComponent(*path)) == kMediaFileVideo)
        object.kind = ObjectKind::Video;
    else
        return std::nullopt;
    object.relativePath = *path;
    object.parentId = ParentObjectId(*path);
    object.title = object.kind == ObjectKind::Video ? VideoTitle(LastComponent(*path))
                                                    : LastComponent(*path);
    object.diskPath = diskPath;
    object.modified = static_cast<int64_t>(info.st_mtime);
    return object;
}

std::vector<CatalogObject> MediaCatalog::ListChildren(const CatalogObject& container) const
{
    std::vector<CatalogObject> children;
    if (container.kind == ObjectKind::Root) {
        for (const SharedFolder& share : m_library.SharedFolders().GetSharedFolders())
            children.push_back(
                MakeChild(container, share.name, true, share.path, ModifiedTime(share.path)));
        return children;
    }
    const std::string shareName
        = container.relativePath.substr(0, container.relativePath.find('/'));
    const std::string shareFolder = m_library.SharedFolders().FindSharedFolderPath(shareName);
    std::string folder = container.diskPath;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    for (const ListedEntry& entry : ListFolderEntries(folder, shareFolder, HiddenFiles::LeftOut))
        children.push_back(MakeChild(container, entry.name, entry.folder, folder + entry.name,
            entry.modifiedNs / 1000000000));
    return children;
}

CatalogStatus MediaCatalog::Children(const std::string& id, const std::vector<SortKey>& keys,
    uint32_t start, uint32_t count, std::vector<CatalogObject>& page, uint32_t& total) const
{
    page.clear();
    total = 0;
    std::optional<CatalogObject> container = Resolve(id);
    if (!container)
        return CatalogStatus::NoSuchObject;
    if (container->kind == ObjectKind::Video)
        return CatalogStatus::NotAContainer;
    std::vector<CatalogObject> children = ListChildren(*container);
    total = static_cast<uint32_t>(children.size());
    if (start >= children.size())
        return CatalogStatus::Found;
    const size_t end
        = count == 0 ? children.size() : std::min<size_t>(children.size(), start + size_t(count));
    auto less
        = [&keys](const CatalogObject& a, const CatalogObject& b) { return Before(a, b, keys); };
    // Only the page needs to be in its place.
    std::partial_sort(children.begin(), children.begin() + static_cast<std::ptrdiff_t>(end),
        children.end(), less);
    page.assign(std::make_move_iterator(children.begin() + start),
        std::make_move_iterator(children.begin() + static_cast<std::ptrdiff_t>(end)));
    return CatalogStatus::Found;
}

void MediaCatalog::Describe(CatalogObject& object) const
{
    if (object.kind == ObjectKind::Video) {
        object.propertiesRead
            = m_library.Media().ReadMediaProperties(object.diskPath, object.properties);
        object.hasSubtitle = SubtitleBeside(object.diskPath);
        return;
    }
    object.childCount = static_cast<int>(ListChildren(object).size());
}
