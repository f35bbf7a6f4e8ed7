#pragma once

// Raw client sockets for the probes: connections that stay idle, clients that read
// slowly, and a request whose end (answer, clean close or reset) is what is checked.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

class ProbeSocket {
public:
    // Connects to the port of target (loopback by default) from source (another
    // loopback address such as 127.0.0.2 is another client as the server sees it).
    ProbeSocket(int port, const char* source = "127.0.0.1", const char* target = "127.0.0.1")
        : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in from {};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, target, &to.sin_addr);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0
            || connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            Close();
        }
    }
    ~ProbeSocket() { Close(); }
    ProbeSocket(ProbeSocket&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    ProbeSocket& operator=(ProbeSocket&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    ProbeSocket(const ProbeSocket&) = delete;
    ProbeSocket& operator=(const ProbeSocket&) = delete;

    bool Connected() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    bool Send(const std::string& bytes)
    {
        size_t sent = 0;
        while (m_fd >= 0 && sent < bytes.size()) {
            ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return m_fd >= 0;
    }

    // True while the server has neither closed nor reset the connection.
    bool StillOpen() const
    {
        if (m_fd < 0)
            return false;
        pollfd probe { m_fd, POLLIN, 0 };
        if (poll(&probe, 1, 0) == 0)
            return true;
        char byte;
        return recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
    }

    // Reads whatever has arrived without waiting; true once the server has closed or
    // reset the connection (an answer it sent before its close is read and dropped).
    bool EndedByServer()
    {
        char buffer[4096];
        for (;;) {
            if (m_fd < 0)
                return true;
            ssize_t n = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                continue;
            return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
    }

    struct Ending {
        std::string bytes;
        bool cleanClose = false; // ended by the server's FIN
        bool reset = false;
    };
    // Reads until the server ends the connection (or the bound runs out).
    Ending ReadToEnd(std::chrono::milliseconds bound = std::chrono::seconds(30))
    {
        Ending ending;
        auto deadline = std::chrono::steady_clock::now() + bound;
        char buffer[65536];
        while (m_fd >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd waiting { m_fd, POLLIN, 0 };
            if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
                break;
            ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                ending.bytes.append(buffer, static_cast<size_t>(n));
                continue;
            }
            ending.cleanClose = n == 0;
            ending.reset = n < 0 && errno == ECONNRESET;
            break;
        }
        return ending;
    }

private:
    void Close()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
};
