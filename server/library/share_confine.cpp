#include "library/share_confine.h"

#include "library/request_paths.h"
#include "library/shared_folders.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace {

std::string Resolve(const std::string& path)
{
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

bool IsMappedInsideShare(const RequestPathMapping& mapping)
{
    return mapping.status == RequestPathStatus::Mapped
        && IsInsideShare(mapping.diskPath, FindSharedFolderPath(mapping.shareName));
}
