#include "streaming/work_folders.h"

#include "config/settings.h"
#include "platform/file_io.h"
#include "platform/places.h"
#include "platform/temp_names.h"

#include <algorithm>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_lock;
std::vector<std::string> g_folders; // guarded by g_lock

// Names compare exactly: on this file system "ab" and "AB" are two folders, and
// each must be cleared on its own.
bool SameFolder(const std::string& a, const std::string& b)
{
    return a == b;
}

// A folder strictly inside the services folder, reached without "..".
bool InsideServicesFolder(const std::string& folder)
{
    std::string services = GetServicesFolder();
    if (services.empty() || folder.size() <= services.size() + 1)
        return false;
    if (folder.compare(0, services.size(), services) != 0 || folder[services.size()] != '/')
        return false;
    return folder.find("/..") == std::string::npos;
}

} // namespace

void RememberWorkFolder(const std::string& folder)
{
    std::lock_guard lock(g_lock);
    auto known = std::find_if(g_folders.begin(), g_folders.end(),
        [&](const std::string& f) { return SameFolder(f, folder); });
    if (known == g_folders.end())
        g_folders.push_back(folder);
}

void ForgetWorkFolder(const std::string& folder)
{
    std::lock_guard lock(g_lock);
    std::erase_if(g_folders, [&](const std::string& f) { return SameFolder(f, folder); });
}

std::vector<std::string> RememberedWorkFolders()
{
    std::lock_guard lock(g_lock);
    return g_folders;
}

void ForgetAllWorkFolders()
{
    std::lock_guard lock(g_lock);
    g_folders.clear();
}

void ClearWorkFolder(const std::string& folder)
{
    if (!InsideServicesFolder(folder))
        return;
    for (const std::string& name : ListFolder(folder, FolderEntries::Files)) {
        if (GetExtensionOf(name) != "m3u8")
            unlink((folder + "/" + name).c_str());
    }
    DeleteFolderTree(folder);
}

bool IsSessionWorkFolderName(const std::string& name)
{
    static constexpr size_t kClientIdDigits = 32;
    return name.size() == kClientIdDigits && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    });
}

void SweepSessionWorkFolders()
{
    ForgetAllWorkFolders();
    const std::string services = GetServicesFolder();
    if (services.empty())
        return;
    for (const std::string& name : ListFolder(services, FolderEntries::Folders)) {
        if (IsSessionWorkFolderName(name))
            DeleteFolderTree(services + "/" + name);
    }
}

void ClearRememberedWorkFolders()
{
    std::vector<std::string> folders;
    {
        std::lock_guard lock(g_lock);
        folders.swap(g_folders);
    }
    for (const std::string& folder : folders)
        ClearWorkFolder(folder);
}
