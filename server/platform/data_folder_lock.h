#pragma once

// One server per data folder. Two servers on one data folder would rewrite each
// other's port, folder list and work files, so the second start must stop and say
// so. The lock is an advisory lock on a file in the data folder: the kernel drops it
// when the holder exits, even after kill -9, so a stale file never blocks a start.

#include <optional>
#include <string>

class DataFolderLock {
public:
    // Takes the lock of folder. nullopt when another process holds it; holderPid
    // then names that process when it could be read (else 0).
    static std::optional<DataFolderLock> Acquire(const std::string& folder, int& holderPid);

    DataFolderLock(DataFolderLock&& other) noexcept;
    DataFolderLock& operator=(DataFolderLock&& other) noexcept;
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;
    ~DataFolderLock();

private:
    explicit DataFolderLock(int fd);
    int m_fd = -1;
};
