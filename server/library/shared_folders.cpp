#include "library/shared_folders.h"

#include <algorithm>

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
    {
        std::lock_guard guard(m_lock);
        auto found = std::find(m_names.begin(), m_names.end(), name);
        if (found != m_names.end()) {
            m_paths[size_t(found - m_names.begin())] = path;
        } else {
            m_names.push_back(name);
            m_paths.push_back(path);
        }
    }
    Changed();
    return true;
}

bool SharedFolderList::RemoveSharedFolder(const std::string& name)
{
    {
        std::lock_guard guard(m_lock);
        auto found = std::find(m_names.begin(), m_names.end(), name);
        if (found == m_names.end())
            return false;
        m_paths.erase(m_paths.begin() + (found - m_names.begin()));
        m_names.erase(found);
    }
    Changed();
    return true;
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
    {
        std::lock_guard guard(m_lock);
        m_names.clear();
        m_paths.clear();
    }
    Changed();
}

void SharedFolderList::ReplaceSharedFolders(const std::vector<SharedFolder>& folders)
{
    {
        std::lock_guard guard(m_lock);
        m_names.clear();
        m_paths.clear();
        for (const SharedFolder& folder : folders) {
            if (!IsUsableShareName(folder.name) || folder.path.empty()
                || std::find(m_names.begin(), m_names.end(), folder.name) != m_names.end())
                continue;
            m_names.push_back(folder.name);
            m_paths.push_back(folder.path);
        }
    }
    Changed();
}

void SharedFolderList::SetListener(std::function<void()> listener)
{
    std::lock_guard guard(m_lock);
    m_listener = std::move(listener);
}

void SharedFolderList::Changed() const
{
    std::function<void()> listener;
    {
        std::lock_guard guard(m_lock);
        listener = m_listener;
    }
    if (listener)
        listener();
}
