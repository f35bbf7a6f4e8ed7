#include "shares_file.h"

#include "config/utf8_text.h"
#include "options.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>

bool ReadSharesFile(
    const std::string& path, std::vector<FolderListEntry>& shares, std::string& error)
{
    std::ifstream file(path);
    if (!file) {
        error = "--shares-file " + path + " cannot be read: " + std::strerror(errno);
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string_view entry = TrimBlanks(line);
        if (entry.empty() || entry.front() == '#')
            continue;
        FolderListEntry share;
        std::string reason;
        if (!ParseShareEntry(std::string(entry), shares, share, FolderCheck::Absolute, reason)) {
            if (reason.starts_with("--share "))
                reason.erase(0, 8);
            error = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        }
        shares.push_back(share);
    }
    if (file.bad()) {
        error = "--shares-file " + path + " cannot be read to its end";
        return false;
    }
    return true;
}

std::vector<UnreadableShare> FindUnreadableShares(const std::vector<FolderListEntry>& shares)
{
    std::vector<UnreadableShare> unreadable;
    for (const FolderListEntry& share : shares) {
        // Listing is what a client asks for first; opening the folder shows whether
        // every folder above it may be entered and the folder itself read.
        DIR* folder = opendir(share.path.c_str());
        if (folder) {
            closedir(folder);
            continue;
        }
        unreadable.push_back({ share, std::strerror(errno) });
    }
    return unreadable;
}
