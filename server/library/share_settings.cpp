#include "library/share_settings.h"

#include "config/settings_store.h"
#include "library/shared_folders.h"

namespace {

bool SameList(const std::vector<FolderListEntry>& a, const std::vector<FolderListEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].displayName != b[i].displayName || a[i].path != b[i].path)
            return false;
    }
    return true;
}

} // namespace

FolderListFollower::FolderListFollower(SettingsStore& settings, SharedFolderList& shares)
    : m_settings(settings)
    , m_shares(shares)
    , m_seen(settings.Current()->Folders())
{
    m_subscription
        = m_settings.Subscribe([this](const SettingsSnapshot& snapshot) { Follow(snapshot); });
}

FolderListFollower::~FolderListFollower()
{
    m_settings.Unsubscribe(m_subscription);
}

void FolderListFollower::Follow(const SettingsSnapshot& settings)
{
    std::vector<FolderListEntry> folders = settings.Folders();
    // Held while the shares change, so two changes at once land in their order.
    std::lock_guard guard(m_lock);
    if (SameList(folders, m_seen))
        return;
    m_seen = folders;
    std::vector<SharedFolder> shares;
    for (const FolderListEntry& entry : folders)
        shares.push_back({ entry.displayName, entry.path });
    m_shares.ReplaceSharedFolders(shares);
}
