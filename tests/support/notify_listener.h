#pragma once

// systemd's end of sd_notify for a test: a Unix datagram socket at a path of the
// test's own, given to the program as NOTIFY_SOCKET, from which the test reads each
// notice the program sends, in order.

#include <chrono>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vembatest {

class NotifyListener {
public:
    explicit NotifyListener(std::string path)
        : m_path(std::move(path))
        , m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (m_fd < 0 || m_path.size() >= sizeof(address.sun_path))
            return;
        m_path.copy(address.sun_path, m_path.size());
        ::unlink(m_path.c_str());
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifyListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        ::unlink(m_path.c_str());
    }
    NotifyListener(const NotifyListener&) = delete;
    NotifyListener& operator=(const NotifyListener&) = delete;

    bool Bound() const { return m_bound; }
    const std::string& Path() const { return m_path; }

    // The next notice, or nullopt when none came within the time.
    std::optional<std::string> Next(std::chrono::milliseconds within = std::chrono::seconds(30))
    {
        pollfd entry { m_fd, POLLIN, 0 };
        if (::poll(&entry, 1, static_cast<int>(within.count())) <= 0)
            return std::nullopt;
        char buffer[4096];
        ssize_t got = ::recv(m_fd, buffer, sizeof(buffer), 0);
        if (got < 0)
            return std::nullopt;
        return std::string(buffer, static_cast<size_t>(got));
    }

    // Reads notices until one starts with prefix; nullopt when none did in time.
    std::optional<std::string> NextStartingWith(
        const std::string& prefix, std::chrono::milliseconds within = std::chrono::seconds(30))
    {
        auto deadline = std::chrono::steady_clock::now() + within;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            std::optional<std::string> notice = Next(left);
            if (!notice || notice->starts_with(prefix))
                return notice;
        }
    }

private:
    std::string m_path;
    int m_fd;
    bool m_bound = false;
};

} // namespace vembatest
