#include "platform/ports.h"

#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool IsPortFree(int port)
{
    if (port < 1 || port > 65535)
        return false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // As the server binds with address reuse, a port held only by connections in
    // TIME_WAIT is free for it; a listening or exclusively bound socket is not.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return bound;
}

int FindFreePort(int from, int to)
{
    for (int port = from < 1 ? 1 : from; port <= to && port <= 65535; ++port) {
        if (IsPortFree(port))
            return port;
    }
    return -1;
}

uint64_t MaxSocketSendBuffer()
{
    constexpr uint64_t kDefault = 4 * 1024 * 1024;
    std::ifstream limits("/proc/sys/net/ipv4/tcp_wmem");
    uint64_t least = 0;
    uint64_t initial = 0;
    uint64_t most = 0;
    if (!(limits >> least >> initial >> most) || most == 0)
        return kDefault;
    return most;
}
