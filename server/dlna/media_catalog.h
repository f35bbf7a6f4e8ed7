#pragma once

// The shares as a ContentDirectory sees them: a tree of objects under the root "0".
// The shares are the root's containers, their subfolders containers below them,
// and their videos items; hidden entries and files that are not videos are left
// out exactly as the folder listings leave them out (library/folder_listing.h).
//
// Only what is asked for is read: a page of children costs one directory read and a
// stat per entry, plus the media properties (cached in SQLite by the library) of
// the videos on that page alone, so paging through a folder of thousands of videos
// reads each file once.
//
// Threads: any number of callers at once; it keeps no state of its own.

#include "library/media_properties.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class LibraryContext;

enum class ObjectKind { Root, Container, Video };

struct CatalogObject {
    ObjectKind kind = ObjectKind::Root;
    std::string id;
    std::string parentId;
    std::string relativePath; // "Share/rest"; empty for the root
    std::string title;
    std::string diskPath; // empty for the root
    int64_t modified = 0; // seconds since the epoch
    int childCount = 0; // containers, once described
    // videos, once described
    bool propertiesRead = false;
    MediaProperties properties;
    bool hasSubtitle = false; // a SAMI file "<base>.smi" lies beside it
};

// A sort key of SortCriteria: "+dc:title", "-dc:date", ...
struct SortKey {
    enum class Field { Title, Date } field = Field::Title;
    bool ascending = true;
};

// The sort keys of a SortCriteria text, or nothing when it names a property that
// cannot be sorted by (only dc:title and dc:date can). Empty text: no keys.
std::optional<std::vector<SortKey>> ParseSortCriteria(const std::string& text);

// The title of a video: its file name without the extension.
std::string VideoTitle(const std::string& fileName);

enum class CatalogStatus { Found, NoSuchObject, NotAContainer };

class MediaCatalog {
public:
    explicit MediaCatalog(LibraryContext& library);

    // The object of an id, without its child count or media properties; nothing for
    // an id that is malformed, names no share, leaves a share, names a hidden entry
    // or a file that is not a video, or names nothing that exists.
    std::optional<CatalogObject> Resolve(const std::string& id) const;

    // The children of a container, sorted by the keys (no keys: subfolders first,
    // each group by name), from index start, at most count of them (0: all);
    // total is the number of all children. Not described.
    CatalogStatus Children(const std::string& id, const std::vector<SortKey>& keys, uint32_t start,
        uint32_t count, std::vector<CatalogObject>& page, uint32_t& total) const;

    // Fills in the child count of a container or the media properties of a video.
    void Describe(CatalogObject& object) const;

private:
    std::vector<CatalogObject> ListChildren(const CatalogObject& container) const;

    LibraryContext& m_library;
};
