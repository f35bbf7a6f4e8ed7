#include "platform/unix_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool FillAddress(const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() > MaxUnixSocketPath()) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Polls fd for events and cancel for input. 1: fd ready, 0: cancelled or timed out, -1: error.
int WaitFor(int fd, short events, std::chrono::milliseconds timeout, int cancel)
{
    pollfd fds[2] = { { fd, events, 0 }, { cancel, POLLIN, 0 } };
    nfds_t count = cancel >= 0 ? 2 : 1;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        int result = poll(fds, count, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            return -1;
        if (count == 2 && (fds[1].revents & POLLIN))
            return 0;
        if (fds[0].revents)
            return 1;
        if (result == 0)
            return 0;
    }
}

} // namespace

WakeSignal::WakeSignal()
    : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

void WakeSignal::Signal()
{
    uint64_t one = 1;
    if (m_fd)
        (void)!write(m_fd.Get(), &one, sizeof one);
}

size_t MaxUnixSocketPath()
{
    return sizeof(sockaddr_un::sun_path) - 1;
}

UniqueFd ListenUnixSocket(const std::string& path)
{
    sockaddr_un address;
    if (!FillAddress(path, address))
        return {};
    struct stat info { };
    if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        unlink(path.c_str());
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return {};
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || listen(fd.Get(), 4) != 0)
        return {};
    return fd;
}

UniqueFd AcceptUnixSocket(int listenFd, std::chrono::milliseconds timeout, int cancel)
{
    if (WaitFor(listenFd, POLLIN, timeout, cancel) != 1)
        return {};
    while (true) {
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0 || errno != EINTR)
            return UniqueFd(fd);
    }
}

UniqueFd ConnectUnixSocket(const std::string& path)
{
    sockaddr_un address;
    if (!FillAddress(path, address))
        return {};
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return {};
    while (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINTR)
            return {};
    }
    return fd;
}

bool WriteAll(int fd, const void* data, size_t size, std::chrono::milliseconds timeout)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            bytes += written;
            size -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitFor(fd, POLLOUT, timeout, -1) != 1)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

ssize_t ReadSome(int fd, void* buffer, size_t size, std::chrono::milliseconds timeout, int cancel)
{
    int ready = WaitFor(fd, POLLIN, timeout, cancel);
    if (ready <= 0)
        return ready;
    while (true) {
        ssize_t got = recv(fd, buffer, size, MSG_DONTWAIT);
        if (got > 0)
            return got;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        return -1; // 0 bytes: the other side closed
    }
}
