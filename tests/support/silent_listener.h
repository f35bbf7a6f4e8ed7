#pragma once

// A peer that takes connections and never answers: a console (or any server) that
// hangs. The kernel completes each connection at once; TakeRequest accepts one and
// reads what the client sent, and every connection stays open, unanswered, until the
// object goes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace vembatest {

class SilentListener {
public:
    SilentListener()
        : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(m_fd, 64) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~SilentListener()
    {
        for (int fd : m_taken)
            ::close(fd);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int Port() const { return m_port; }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

    // Accepts the next connection and returns its request head (up to the blank line),
    // or empty text when none came within guardMs (a guard against a hang).
    std::string TakeRequest(int guardMs = 60000)
    {
        pollfd ready { m_fd, POLLIN, 0 };
        if (::poll(&ready, 1, guardMs) != 1)
            return {};
        int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return {};
        m_taken.push_back(client);
        std::string head;
        char buffer[1024];
        while (head.find("\r\n\r\n") == std::string::npos) {
            pollfd data { client, POLLIN, 0 };
            if (::poll(&data, 1, guardMs) != 1)
                break;
            ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            head.append(buffer, static_cast<size_t>(got));
        }
        return head.substr(0, head.find("\r\n\r\n"));
    }

private:
    int m_fd = -1;
    int m_port = 0;
    std::vector<int> m_taken; // accepted and never answered
};

} // namespace vembatest
