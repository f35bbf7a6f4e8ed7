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

// Replaces path with contents in one step: written to a temporary file of a name
// no other writer uses, in the same folder, then renamed over path. Readers see the
// old file or the new one, never a part; two writers at once leave one whole file.
// False (nothing changed, no temporary left) when any step fails.
bool ReplaceFileWhole(const std::string& path, std::string_view contents, mode_t mode = 0644);

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
