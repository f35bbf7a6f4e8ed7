#include "platform/socket_census.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool Cookie(int fd, uint64_t& cookie)
{
    socklen_t length = sizeof cookie;
    return getsockopt(fd, SOL_SOCKET, SO_COOKIE, &cookie, &length) == 0;
}

int LocalPort(int fd)
{
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return -1;
    if (local.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
    return -1;
}

bool PeerAddress(int fd, std::string& peer)
{
    sockaddr_storage remote {};
    socklen_t length = sizeof remote;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &length) != 0)
        return false;
    char text[INET6_ADDRSTRLEN] = "";
    if (remote.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&remote)->sin_addr, text, sizeof text);
    else if (remote.ss_family == AF_INET6)
        inet_ntop(
            AF_INET6, &reinterpret_cast<sockaddr_in6*>(&remote)->sin6_addr, text, sizeof text);
    else
        return false;
    peer = text;
    return true;
}

} // namespace

std::vector<ServedSocket> ListServedSockets(int port)
{
    std::vector<ServedSocket> sockets;
    DIR* folder = opendir("/proc/self/fd");
    if (!folder)
        return sockets;
    const int own = dirfd(folder);
    while (dirent* entry = readdir(folder)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        ServedSocket socket;
        socket.fd = static_cast<int>(fd);
        // Anything that is not a socket fails the first call; a listening socket has no
        // peer; another port's connection is not ours to count.
        if (!Cookie(socket.fd, socket.cookie) || LocalPort(socket.fd) != port
            || !PeerAddress(socket.fd, socket.peer))
            continue;
        sockets.push_back(std::move(socket));
    }
    closedir(folder);
    return sockets;
}

bool ShutDownServedSocket(int fd, uint64_t cookie)
{
    // A copy of the descriptor pins the socket it names now; only if that is still the
    // socket meant is it shut down, whatever its owner does with fd meanwhile.
    int pinned = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (pinned < 0)
        return false;
    uint64_t found = 0;
    bool same = Cookie(pinned, found) && found == cookie;
    if (same)
        shutdown(pinned, SHUT_RDWR);
    close(pinned);
    return same;
}
