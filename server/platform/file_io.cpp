#include "platform/file_io.h"

#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace {

struct FolderCloser {
    void operator()(DIR* folder) const { closedir(folder); }
};

} // namespace

std::vector<std::string> ListFolder(const std::string& folder, FolderEntries kind)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, FolderCloser> handle(opendir(folder.c_str()));
    if (!handle)
        return names;
    while (dirent* entry = readdir(handle.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info { };
        if (lstat((folder + "/" + name).c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode) == (kind == FolderEntries::Folders))
            names.push_back(std::move(name));
    }
    return names;
}
