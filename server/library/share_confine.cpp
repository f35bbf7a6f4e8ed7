#include "library/share_confine.h"

#include "library/request_paths.h"
#include "library/shared_folders.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// The path with every link resolved. The kernel resolves it once while opening a
// path handle, and names what it opened; realpath would read each component's link
// in turn, a dozen system calls on every request that names a file.
std::string Resolve(const std::string& path)
{
    int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd >= 0) {
        char resolved[PATH_MAX + 1];
        ssize_t length
            = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), resolved, PATH_MAX);
        close(fd);
        if (length > 0 && resolved[0] == '/')
            return std::string(resolved, static_cast<size_t>(length));
    }
    std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
    return real ? std::string(real.get()) : std::string();
}

} // namespace

bool IsInsideShare(const std::string& path, const std::string& shareFolder)
{
    const std::string folder = Resolve(shareFolder);
    const std::string target = Resolve(path);
    if (folder.empty() || target.empty())
        return false;
    if (target == folder || folder == "/")
        return true;
    return target.size() > folder.size() && target.compare(0, folder.size(), folder) == 0
        && target[folder.size()] == '/';
}

std::string NormalizeRequestFolder(const std::string& requestPath)
{
    std::string out;
    size_t start = 0;
    while (start < requestPath.size()) {
        size_t end = requestPath.find('/', start);
        if (end == std::string::npos)
            end = requestPath.size();
        if (end > start) {
            if (!out.empty())
                out += '/';
            out.append(requestPath, start, end - start);
        }
        start = end + 1;
    }
    return out;
}

bool IsMappedInsideShare(const SharedFolderList& shares, const RequestPathMapping& mapping)
{
    return mapping.status == RequestPathStatus::Mapped
        && IsInsideShare(mapping.diskPath, shares.FindSharedFolderPath(mapping.shareName));
}
