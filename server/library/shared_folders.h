#pragma once

// The shared folder list: the folders of this machine that the user shares, each
// under a name of their own. Every request that names a file or folder starts its
// path with one of these names. Each server owns one list; request handlers read it
// on many threads while the window (or the daemon) changes it, so names and paths
// always change together under one lock. A listener (the library index) hears of
// every change after it is made, on the changing thread, with no lock held.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct SharedFolder {
    std::string name;
    std::string path;
};

class SharedFolderList {
public:
    // Adds a share, or replaces the path of the share of that name in its place.
    // Refuses (false) an empty name, a name holding '/' or a NUL byte, and an empty
    // path: no request path could ever name such a share.
    bool AddSharedFolder(const std::string& path, const std::string& name);
    // Removes the first share of that name; false when there is none.
    bool RemoveSharedFolder(const std::string& name);
    // The folder of the share of that name (exact, case-sensitive), or empty text.
    std::string FindSharedFolderPath(const std::string& name) const;
    // The shares in the order they were added.
    std::vector<SharedFolder> GetSharedFolders() const;
    void ClearSharedFolders();
    // Replaces the shares with these (in this order); the listener hears once.
    void ReplaceSharedFolders(const std::vector<SharedFolder>& folders);

    // Called after every change.
    void SetListener(std::function<void()> listener);

private:
    void Changed() const;

    mutable std::mutex m_lock;
    std::function<void()> m_listener; // guarded by m_lock
    // --- guarded by m_lock: parallel lists, in the order the shares were added
    std::vector<std::string> m_names;
    std::vector<std::string> m_paths;
};
