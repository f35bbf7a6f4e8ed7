#include "trace_viewer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxDatagram = 65536;

// True when a listener answers at path, so a second viewer must not steal it.
bool SomeoneListens(const sockaddr_un& address)
{
    int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    bool listening
        = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(probe);
    return listening;
}

} // namespace

std::optional<std::string> FormatTraceDatagram(const std::string& datagram)
{
    if (datagram.size() < 4)
        return std::nullopt;
    uint32_t level = 0;
    for (int i = 3; i >= 0; --i)
        level = (level << 8) | static_cast<unsigned char>(datagram[static_cast<size_t>(i)]);
    char word[16];
    std::snprintf(word, sizeof(word), "0x%X", level);
    std::string line = std::string(word) + " " + datagram.substr(4);
    for (char& c : line) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return line;
}

TraceViewerSocket::TraceViewerSocket(std::string path)
    : m_path(std::move(path))
{
    sockaddr_un address {};
    if (m_path.empty() || m_path.size() >= sizeof(address.sun_path)) {
        m_error = "no usable socket path";
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size());
    if (SomeoneListens(address)) {
        m_error = "another viewer is already listening at " + m_path;
        return;
    }
    unlink(m_path.c_str());
    m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        m_error = "cannot listen at " + m_path + ": " + std::strerror(errno);
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }
}

TraceViewerSocket::~TraceViewerSocket()
{
    if (m_fd >= 0) {
        close(m_fd);
        unlink(m_path.c_str());
    }
}

std::optional<std::string> TraceViewerSocket::receive(int waitMs)
{
    if (m_fd < 0)
        return std::nullopt;
    pollfd ready { m_fd, POLLIN, 0 };
    if (poll(&ready, 1, waitMs) != 1)
        return std::nullopt;
    std::string buffer(kMaxDatagram, '\0');
    ssize_t got = recv(m_fd, buffer.data(), buffer.size(), 0);
    if (got < 0)
        return std::nullopt;
    buffer.resize(static_cast<size_t>(got));
    return buffer;
}

int RunTraceViewer(const std::string& socketPath, const std::atomic<bool>& stop)
{
    TraceViewerSocket viewer(socketPath);
    if (!viewer.isOpen()) {
        std::fprintf(stderr, "vembacast-trace: %s\n", viewer.error().c_str());
        return 1;
    }
    std::fprintf(stderr, "vembacast-trace: listening at %s\n", socketPath.c_str());
    while (!stop.load()) {
        auto datagram = viewer.receive(200);
        if (!datagram)
            continue;
        if (auto line = FormatTraceDatagram(*datagram)) {
            std::fwrite(line->data(), 1, line->size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    }
    return 0;
}
