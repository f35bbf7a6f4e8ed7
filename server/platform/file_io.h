#pragma once

// File and folder primitives every part shares, so each rule (retry on EINTR, no
// links followed, whole writes or none) is written once.

#include <string>
#include <vector>

enum class FolderEntries {
    Files, // everything that is not a folder (links are not followed)
    Folders, // subfolders only, "." and ".." left out
};

// The names in folder of the given kind, in no particular order; empty when the
// folder cannot be read.
std::vector<std::string> ListFolder(const std::string& folder, FolderEntries kind);
