#pragma once

// The library index's walk of a share: every video below a folder of the share, found
// by the listing's own rules (folder_listing.h: hidden entries and files that are not
// videos left out, links followed only inside the share). The walk is bounded in
// depth, folders and files, and a folder reached twice (through a link) is walked
// once, so no share, however large or looped, keeps it going for ever.

#include "library/library_index_store.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

struct WalkBounds {
    size_t maxDepth = 32; // folders below the start
    size_t maxFolders = 100000;
    size_t maxFiles = 500000;
};

struct WalkResult {
    std::vector<IndexedFile> files; // in path order; empty when handed over folder by folder
    size_t found = 0; // files found
    bool cut = false; // a bound ended the walk early
    bool stopped = false; // the stop flag ended it
};

// Called for each folder (relative to the share, "" for its root, and its disk path
// ending in '/') before its entries are read, so that a watch added there misses
// nothing made meanwhile.
using FolderVisit = std::function<void(const std::string& relative, const std::string& disk)>;

// Given each folder's files once its entries are read, when the files are written while
// the walk goes on (they are then not kept in the result).
using FolderFiles = std::function<void(std::vector<IndexedFile>&& files)>;

// Walks the folder start ("" for the whole share, else "Kids/Old") of the share whose
// folder is shareFolder. Each file's added time is its status change time.
WalkResult WalkShare(const std::string& share, const std::string& shareFolder,
    const std::string& start, const WalkBounds& bounds, const FolderVisit& visit,
    const std::atomic<bool>& stopping, const FolderFiles& handOver = {});

// The disk path of a folder of the share ("" the share's folder), ending in '/'.
std::string ShareDiskFolder(const std::string& shareFolder, const std::string& relative);
