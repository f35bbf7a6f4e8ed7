#include "library/shared_folders.h"

namespace {

bool IsUsableShareName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

} // namespace

bool SharedFolderList::AddSharedFolder(const std::string& path, const std::string& name)
{
    if (!IsUsableShareName(name) || path.empty())
        return false;
    std::lock_guard guard(m_lock);
    for (size_t i = 0; i < m_names.size(); ++i) {
        if (m_names[i] == name) {
            m_paths[i] = path;
            return true;
        }
    }
    m_names.push_back(name);
    m_paths.push_back(path);
    return true;
}

bool SharedFolderList::RemoveSharedFolder(const std::string& name)
{
    std::lock_guard guard(m_lock);
    for (size_t i = 0; i < m_names.size(); ++i) {
        if (m_names[i] == name) {
            m_names.erase(m_names.begin() + static_cast<ptrdiff_t>(i));
            m_paths.erase(m_paths.begin() + static_cast<ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

std::string SharedFolderList::FindSharedFolderPath(const std::string& name) const
{
    std::lock_guard guard(m_lock);
    for (size_t i = 0; i < m_names.size(); ++i) {
        if (m_names[i] == name)
            return m_paths[i];
    }
    return std::string();
}

std::vector<SharedFolder> SharedFolderList::GetSharedFolders() const
{
    std::lock_guard guard(m_lock);
    std::vector<SharedFolder> folders;
    folders.reserve(m_names.size());
    for (size_t i = 0; i < m_names.size(); ++i)
        folders.push_back({ m_names[i], m_paths[i] });
    return folders;
}

void SharedFolderList::ClearSharedFolders()
{
    std::lock_guard guard(m_lock);
    m_names.clear();
    m_paths.clear();
}
