#pragma once

// Keeping requests inside the shares. Request paths are mapped below a share's
// folder with ".." refused, but a symbolic link inside a share may still point
// anywhere on the machine; what a client reads, lists or has made into a
// thumbnail must resolve to a place inside the share it named.

#include <string>

// True when path exists and, with every symbolic link resolved, lies inside (or
// is) the folder, itself resolved. False for anything that cannot be resolved.
bool IsInsideShare(const std::string& path, const std::string& shareFolder);

struct RequestPathMapping;
class SharedFolderList;

// The one check every request that opens a file goes through (downloads, thumbnails,
// live play, conversions): the mapping succeeded and the path, links resolved, lies
// inside the share it named. A file that does not exist is not confined either.
bool IsMappedInsideShare(const SharedFolderList& shares, const RequestPathMapping& mapping);

// The relative folder of a request path: leading, trailing and repeated slashes
// dropped ("/Movies//Kids/" gives "Movies/Kids").
std::string NormalizeRequestFolder(const std::string& requestPath);
