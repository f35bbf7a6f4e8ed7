#include "platform/loopback_probe.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Closes the socket however the probe ends.
class SocketFd {
public:
    SocketFd()
        : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0))
    {
    }
    ~SocketFd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Waits in short slices until the socket is ready for events, the deadline passes or
// the probe is cancelled.
bool WaitReady(int fd, short events, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    constexpr auto kSlice = std::chrono::milliseconds(100);
    for (;;) {
        if (cancel && cancel->load())
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry { fd, events, 0 };
        int ready = poll(&entry, 1, static_cast<int>(std::min(left, kSlice).count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool Connect(int fd, int port, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return true;
    if (errno != EINPROGRESS || !WaitReady(fd, POLLOUT, deadline, cancel))
        return false;
    int failure = 0;
    socklen_t length = sizeof(failure);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) == 0 && failure == 0;
}

bool SendAll(
    int fd, const std::string& bytes, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (!WaitReady(fd, POLLOUT, deadline, cancel))
            return false;
    }
    return true;
}

// Reads until the status line is complete; true for status 200.
bool ReadStatus(int fd, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    std::string head;
    while (head.find("\r\n") == std::string::npos && head.size() < 256) {
        if (!WaitReady(fd, POLLIN, deadline, cancel))
            return false;
        char buffer[256];
        ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;
        }
        head.append(buffer, static_cast<size_t>(n));
    }
    return head.starts_with("HTTP/1.") && head.size() >= 12 && head.compare(8, 4, " 200") == 0;
}

} // namespace

bool LoopbackAnswers(int port, const std::string& path, std::chrono::milliseconds within,
    const std::atomic<bool>* cancel)
{
    if (port <= 0 || port > 65535)
        return false;
    Clock::time_point deadline = Clock::now() + within;
    SocketFd socket;
    if (socket.Get() < 0 || !Connect(socket.Get(), port, deadline, cancel))
        return false;
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
        + "\r\nConnection: close\r\nUser-Agent: vembacast-watchdog\r\n\r\n";
    return SendAll(socket.Get(), request, deadline, cancel)
        && ReadStatus(socket.Get(), deadline, cancel);
}
