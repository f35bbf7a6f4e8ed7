#include "library/shared_folders.h"

#include <mutex>

namespace {

struct SharedFolderList {
    std::mutex lock;
    // Parallel arrays of equal length, in the order the shares were added.
    std::vector<std::string> names; // guarded by lock
    std::vector<std::string> paths; // guarded by lock
};

SharedFolderList& List()
{
    static SharedFolderList list;
    return list;
}

bool IsUsableShareName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

} // namespace

bool AddSharedFolder(const std::string& path, const std::string& name)
{
    if (!IsUsableShareName(name) || path.empty())
        return false;
    SharedFolderList& list = List();
    std::lock_guard guard(list.lock);
    for (size_t i = 0; i < list.names.size(); ++i) {
        if (list.names[i] == name) {
            list.paths[i] = path;
            return true;
        }
    }
    list.names.push_back(name);
    list.paths.push_back(path);
    return true;
}

bool RemoveSharedFolder(const std::string& name)
{
    SharedFolderList& list = List();
    std::lock_guard guard(list.lock);
    for (size_t i = 0; i < list.names.size(); ++i) {
        if (list.names[i] == name) {
            list.names.erase(list.names.begin() + static_cast<ptrdiff_t>(i));
            list.paths.erase(list.paths.begin() + static_cast<ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

std::string FindSharedFolderPath(const std::string& name)
{
    SharedFolderList& list = List();
    std::lock_guard guard(list.lock);
    for (size_t i = 0; i < list.names.size(); ++i) {
        if (list.names[i] == name)
            return list.paths[i];
    }
    return std::string();
}

std::vector<SharedFolder> GetSharedFolders()
{
    SharedFolderList& list = List();
    std::lock_guard guard(list.lock);
    std::vector<SharedFolder> folders;
    folders.reserve(list.names.size());
    for (size_t i = 0; i < list.names.size(); ++i)
        folders.push_back({ list.names[i], list.paths[i] });
    return folders;
}

void ClearSharedFolders()
{
    SharedFolderList& list = List();
    std::lock_guard guard(list.lock);
    list.names.clear();
    list.paths.clear();
}
