#include "platform/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
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

bool ReplaceFileWhole(const std::string& path, std::string_view contents, mode_t mode)
{
    static std::atomic<unsigned> counter { 0 };
    std::string temporary
        = path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    UniqueFd file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file)
        return false;
    bool written = WriteFully(file.Get(), contents.data(), contents.size());
    written = close(file.Release()) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
