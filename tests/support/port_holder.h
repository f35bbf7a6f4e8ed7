#pragma once

// A TCP port kept taken, as another program would hold it: a socket bound on every
// address and listening until the object goes. It binds with address reuse, as the
// server does, so connections of an earlier test still closing on the port do not
// keep it from being held. The socket is close-on-exec, so a program a test starts
// meanwhile does not inherit the port.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vembatest {

class PortHolder {
public:
    // port 0: one the kernel picks. Port() is 0 when the port could not be taken.
    explicit PortHolder(int port = 0)
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t length = sizeof(address);
        const int on = 1;
        if (m_fd < 0 || ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0
            || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(m_fd, 1) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~PortHolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace vembatest
