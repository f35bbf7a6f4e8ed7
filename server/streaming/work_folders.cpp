#include "streaming/work_folders.h"

#include "config/settings.h"
#include "platform/file_io.h"
#include "platform/temp_names.h"

#include <algorithm>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names compare exactly: on this file system "ab" and "AB" are two folders, and
// each must be cleared on its own.
bool SameFolder(const std::string& a, const std::string& b)
{
    return a == b;
}

} // namespace

WorkFolderBook::WorkFolderBook(std::string servicesFolder)
    : m_servicesFolder(std::move(servicesFolder))
{
}

std::string WorkFolderBook::SessionWorkFolder(const std::string& clientId) const
{
    return m_servicesFolder + "/" + clientId;
}

// A folder strictly inside the services folder, reached without "..".
bool WorkFolderBook::InsideServicesFolder(const std::string& folder) const
{
    const std::string& services = m_servicesFolder;
    if (services.empty() || folder.size() <= services.size() + 1)
        return false;
    if (folder.compare(0, services.size(), services) != 0 || folder[services.size()] != '/')
        return false;
    return folder.find("/..") == std::string::npos;
}

void WorkFolderBook::RememberWorkFolder(const std::string& folder)
{
    std::lock_guard lock(m_lock);
    auto known = std::find_if(m_folders.begin(), m_folders.end(),
        [&](const std::string& f) { return SameFolder(f, folder); });
    if (known == m_folders.end())
        m_folders.push_back(folder);
}

void WorkFolderBook::ForgetWorkFolder(const std::string& folder)
{
    std::lock_guard lock(m_lock);
    std::erase_if(m_folders, [&](const std::string& f) { return SameFolder(f, folder); });
}

std::vector<std::string> WorkFolderBook::RememberedWorkFolders() const
{
    std::lock_guard lock(m_lock);
    return m_folders;
}

void WorkFolderBook::ForgetAllWorkFolders()
{
    std::lock_guard lock(m_lock);
    m_folders.clear();
}

void WorkFolderBook::ClearWorkFolder(const std::string& folder) const
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

void WorkFolderBook::SweepSessionWorkFolders()
{
    ForgetAllWorkFolders();
    const std::string& services = m_servicesFolder;
    if (services.empty())
        return;
    for (const std::string& name : ListFolder(services, FolderEntries::Folders)) {
        if (IsSessionWorkFolderName(name))
            DeleteFolderTree(services + "/" + name);
    }
}

void WorkFolderBook::ClearRememberedWorkFolders()
{
    std::vector<std::string> folders;
    {
        std::lock_guard lock(m_lock);
        folders.swap(m_folders);
    }
    for (const std::string& folder : folders)
        ClearWorkFolder(folder);
}
