#include "dlna/share_changes.h"

#include "library/shared_folders.h"

#include <sys/stat.h>
#include <vector>

namespace {

int64_t ModifiedNanoseconds(const std::string& folder)
{
    struct stat info { };
    if (stat(folder.c_str(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

} // namespace

ShareChanges::ShareChanges(const SharedFolderList& shares)
    : m_shares(shares)
{
}

void ShareChanges::Note(const std::string& folder)
{
    const int64_t time = ModifiedNanoseconds(folder);
    std::lock_guard lock(m_lock);
    if (m_times.count(folder))
        m_order.remove(folder);
    m_order.push_front(folder);
    m_times[folder] = time;
    while (m_order.size() > kWatchedFolders) {
        m_times.erase(m_order.back());
        m_order.pop_back();
    }
}

bool ShareChanges::Changed()
{
    std::string shareList;
    std::vector<std::string> shareFolders;
    for (const SharedFolder& share : m_shares.GetSharedFolders()) {
        shareList += share.name + '\n' + share.path + '\n';
        shareFolders.push_back(share.path);
    }
    std::vector<std::string> folders;
    {
        std::lock_guard lock(m_lock);
        folders.assign(m_order.begin(), m_order.end());
    }
    folders.insert(folders.end(), shareFolders.begin(), shareFolders.end());
    std::vector<std::pair<std::string, int64_t>> now;
    for (const std::string& folder : folders)
        now.emplace_back(folder, ModifiedNanoseconds(folder));

    std::lock_guard lock(m_lock);
    bool changed = m_looked && shareList != m_shareList;
    m_shareList = std::move(shareList);
    m_looked = true;
    for (const auto& [folder, time] : now) {
        auto seen = m_times.find(folder);
        if (seen == m_times.end()) {
            m_times[folder] = time; // a share seen for the first time
            continue;
        }
        if (seen->second != time) {
            changed = true;
            seen->second = time;
        }
    }
    return changed;
}
