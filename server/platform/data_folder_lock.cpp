#include "platform/data_folder_lock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char* kLockFileName = "/server.lock";

int ReadHolderPid(int fd)
{
    char text[32] = {};
    ssize_t length = pread(fd, text, sizeof(text) - 1, 0);
    if (length <= 0)
        return 0;
    long pid = std::strtol(text, nullptr, 10);
    return pid > 0 && pid < (1L << 22) ? static_cast<int>(pid) : 0;
}

void WriteOwnPid(int fd)
{
    std::string text = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0) {
        ssize_t written = pwrite(fd, text.data(), text.size(), 0);
        (void)written; // the pid is only a hint for the message of a second start
    }
}

} // namespace

std::optional<DataFolderLock> DataFolderLock::Acquire(const std::string& folder, int& holderPid)
{
    holderPid = 0;
    std::string path = folder + kLockFileName;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return std::nullopt;
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        holderPid = ReadHolderPid(fd);
        close(fd);
        return std::nullopt;
    }
    WriteOwnPid(fd);
    return DataFolderLock(fd);
}

DataFolderLock::DataFolderLock(int fd)
    : m_fd(fd)
{
}

DataFolderLock::DataFolderLock(DataFolderLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

DataFolderLock& DataFolderLock::operator=(DataFolderLock&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

DataFolderLock::~DataFolderLock()
{
    if (m_fd >= 0)
        close(m_fd); // closing the last descriptor drops the lock
}
