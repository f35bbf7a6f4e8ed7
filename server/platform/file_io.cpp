#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FolderCloser {
    void operator()(DIR* folder) const { closedir(folder); }
};

} // namespace

std::vector<std::string> ListFolder(const std::string& folder, FolderEntries kind)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, FolderCloser> handle(opendir(folder.c_str()));
    if (!handle)
        return names;
    while (dirent* entry = readdir(handle.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info { };
        if (lstat((folder + "/" + name).c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode) == (kind == FolderEntries::Folders))
            names.push_back(std::move(name));
    }
    return names;
}

void UniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
}

bool WriteFully(int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = write(fd, bytes + done, size - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

std::optional<std::string> ReadFileUpTo(const std::string& path, size_t limit)
{
    UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return std::nullopt;
    std::string data;
    char buffer[8192];
    while (data.size() < limit) {
        ssize_t got = read(file.Get(), buffer, std::min(sizeof buffer, limit - data.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        data.append(buffer, static_cast<size_t>(got));
    }
    return data;
}

namespace {

constexpr size_t kMaxKeptCopy = 16 * 1024 * 1024; // a copy is of a small file of ours

// A temporary name beside path that no other writer, in this process or another,
// takes at the same moment: random, and created exclusively.
UniqueFd CreateTemporaryBeside(const std::string& path, mode_t mode, std::string& temporary)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        uint64_t number = 0;
        if (getrandom(&number, sizeof number, 0) != static_cast<ssize_t>(sizeof number))
            continue;
        char suffix[32];
        std::snprintf(
            suffix, sizeof suffix, ".new-%016llx", static_cast<unsigned long long>(number));
        temporary = path + suffix;
        UniqueFd file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (file || errno != EEXIST)
            return file;
    }
    return UniqueFd();
}

} // namespace

bool ReplaceFileWhole(
    const std::string& path, std::string_view contents, mode_t mode, Durability durability)
{
    std::string temporary;
    UniqueFd file = CreateTemporaryBeside(path, mode, temporary);
    if (!file)
        return false;
    bool written = WriteFully(file.Get(), contents.data(), contents.size());
    if (written && durability == Durability::Synced)
        written = fsync(file.Get()) == 0;
    int error = written ? 0 : errno;
    if (close(file.Release()) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(temporary.c_str());
        errno = error;
        return false;
    }
    return true;
}

bool RenameNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // No such rename on this file system: a second name is made only when free.
    if (link(from.c_str(), to.c_str()) != 0)
        return false;
    unlink(from.c_str());
    return true;
}

bool KeepCopyOf(const std::string& path, const std::string& copyPath)
{
    std::string temporary;
    {
        UniqueFd placeholder = CreateTemporaryBeside(copyPath, 0600, temporary);
        if (!placeholder)
            return false;
    }
    unlink(temporary.c_str());
    if (link(path.c_str(), temporary.c_str()) == 0) {
        if (rename(temporary.c_str(), copyPath.c_str()) == 0)
            return true;
        int error = errno;
        unlink(temporary.c_str());
        errno = error;
        return false;
    }
    if (errno == ENOENT)
        return false;
    // No hard links here: the bytes are copied instead.
    std::optional<std::string> contents = ReadFileUpTo(path, kMaxKeptCopy);
    struct stat info { };
    return contents && stat(path.c_str(), &info) == 0
        && ReplaceFileWhole(copyPath, *contents, info.st_mode & 07777, Durability::Synced);
}

std::string SetFileAside(const std::string& path, const std::string& tag)
{
    time_t now = time(nullptr);
    struct tm local { };
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + "." + tag + "-" + stamp;
    for (int number = 1; number < 100; ++number) {
        std::string aside = number == 1 ? base : base + "-" + std::to_string(number);
        if (RenameNoReplace(path, aside))
            return aside;
        if (errno != EEXIST)
            return std::string();
    }
    return std::string();
}
