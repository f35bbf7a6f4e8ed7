#pragma once

// The shared folders follow the folder list of the settings: when the list changes
// (written by the settings dialog, the daemon's options, or by hand while the server
// runs), the shares become what it names, so a share removed there is no longer
// served, and the library index (which hears of every change of the shares) drops
// what it held of it. Settings writes that leave the folder list as it was change
// nothing, so shares a caller added directly stay.
//
// Threads: the store calls the listener on the thread that caused the change; m_lock
// guards the list last seen and is held while the shares change (that takes no wait),
// so two changes at once land in their order.

#include "config/settings.h"

#include <mutex>
#include <vector>

class SettingsStore;
class SettingsSnapshot;
class SharedFolderList;

class FolderListFollower {
public:
    FolderListFollower(SettingsStore& settings, SharedFolderList& shares);
    ~FolderListFollower(); // unsubscribes; no call of the listener runs after it
    FolderListFollower(const FolderListFollower&) = delete;
    FolderListFollower& operator=(const FolderListFollower&) = delete;

private:
    void Follow(const SettingsSnapshot& settings);

    SettingsStore& m_settings;
    SharedFolderList& m_shares;
    std::mutex m_lock;
    std::vector<FolderListEntry> m_seen; // guarded by m_lock
    int m_subscription = 0;
};
