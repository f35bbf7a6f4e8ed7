#pragma once

// File and folder primitives every part shares, so each rule (retry on EINTR, no
// links followed, whole writes or none) is written once.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Owns one file descriptor and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(other.Release())
    {
    }
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int Release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// Writes all size bytes to fd, going on after interruptions and short writes.
// False when a write fails.
bool WriteFully(int fd, const void* data, size_t size);

// How far a replaced file must have gone before ReplaceFileWhole returns.
enum class Durability {
    Cached, // whatever the kernel holds: a crash may lose the change, never cut the file
    Synced, // on the disk before the rename, so a crash leaves the old file or the new one
};

// Replaces path with contents in one step: written to a temporary file of a name
// no other writer uses, in the same folder, then renamed over path. Readers see the
// old file or the new one, never a part; two writers at once leave one whole file.
// False (nothing changed, no temporary left, errno from the step that failed: ENOSPC
// for a full disk) when any step fails.
bool ReplaceFileWhole(const std::string& path, std::string_view contents, mode_t mode = 0644,
    Durability durability = Durability::Cached);

// Moves from to to only when no file of that name exists: the kernel's no-replace
// rename, or a hard link and an unlink where the file system has none. False with
// errno EEXIST when to is taken.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Makes copyPath hold what path holds now, replacing it in one step (a second name
// for the same file where the file system allows, else a copy). False with errno.
bool KeepCopyOf(const std::string& path, const std::string& copyPath);

// Moves path out of the way under "path.tag-YYYYMMDD-HHMMSS" (local time; "-2", "-3"
// ... added when taken). The new path, or empty when it could not be moved.
std::string SetFileAside(const std::string& path, const std::string& tag);

// The first limit bytes of the file at path (all of it when shorter), or nothing
// when it cannot be opened or read.
std::optional<std::string> ReadFileUpTo(const std::string& path, size_t limit);

enum class FolderEntries {
    Files, // everything that is not a folder (links are not followed)
    Folders, // subfolders only, "." and ".." left out
};

// The names in folder of the given kind, in no particular order; empty when the
// folder cannot be read.
std::vector<std::string> ListFolder(const std::string& folder, FolderEntries kind);
