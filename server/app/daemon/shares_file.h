#pragma once

// The shares of the system service: a file under /etc (vembacast/shares) with one
// share a line, "NAME=PATH" as --share takes it; blank lines and lines that start
// with '#' are ignored. It is read at every start and replaces the folder list, so the
// file is the one place an administrator edits.
//
// The service runs as its own user, which cannot enter home folders that are private
// (Debian 12 makes them 0700): a share it cannot read is still listed, and every start
// names each such share on the log so the administrator knows what to grant.

#include "config/settings.h"

#include <string>
#include <vector>

// False with "FILE:LINE: reason" in error for a file that cannot be read or a line that
// is no share.
bool ReadSharesFile(
    const std::string& path, std::vector<FolderListEntry>& shares, std::string& error);

// The shares whose folders this process cannot list, each with the reason
// ("Permission denied", "No such file or directory").
struct UnreadableShare {
    FolderListEntry share;
    std::string reason;
};
std::vector<UnreadableShare> FindUnreadableShares(const std::vector<FolderListEntry>& shares);
