#pragma once

// Whether a shared folder changed since the last look: the list of shares (names and
// folders) and the modification times of each share's folder and of the folders
// screens have browsed lately (a file added, removed or renamed in a folder changes
// the folder's time). Folders are noted as screens browse them, at most
// kWatchedFolders of them, the least recently noted going first.
//
// Threads: Note from the browse workers, Changed from the device's check; m_lock
// guards the state, and the stat calls run outside it.

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

class SharedFolderList;

inline constexpr size_t kWatchedFolders = 256;

class ShareChanges {
public:
    explicit ShareChanges(const SharedFolderList& shares);

    // A folder was listed (its time as it is now is taken as seen).
    void Note(const std::string& folder);
    // True when something changed since the last call (the first call only looks).
    bool Changed();

private:
    const SharedFolderList& m_shares;
    std::mutex m_lock;
    // --- guarded by m_lock
    std::string m_shareList; // names and folders as last seen
    bool m_looked = false;
    std::list<std::string> m_order; // most recently noted first
    std::unordered_map<std::string, int64_t> m_times; // folder -> modification time seen
};
