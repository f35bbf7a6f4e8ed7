#pragma once

// Clients at addresses of their own, for tests that need many source addresses that are
// not the server machine's: the test process moves into a fresh network namespace (the
// server's side, 10.79.0.1/24 on a veth), and a second namespace (the LAN) holds the
// other end of the pair with every client address. A socket belongs to the namespace
// of the thread that made it, so OnLan runs a function on a thread that joined the
// LAN; the sockets it makes may then be used from any thread.
//
// It needs root and the command ip; WhyUnavailable() names what is missing so a test
// can skip with that reason.

#include "support/test_support.h"

#include <fcntl.h>
#include <sched.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vembatest {

inline constexpr const char* kServerLanAddress = "10.79.0.1";

class ClientNetwork {
public:
    ClientNetwork()
        : m_namespace("vembalan-" + std::to_string(::getpid()))
    {
    }
    ~ClientNetwork()
    {
        if (m_made)
            RunCommand("ip netns delete " + m_namespace);
    }
    ClientNetwork(const ClientNetwork&) = delete;
    ClientNetwork& operator=(const ClientNetwork&) = delete;

    static std::string WhyUnavailable()
    {
        if (::geteuid() != 0)
            return "needs root for network namespaces (CI runs as root)";
        if (!RunCommand("command -v ip"))
            return "needs the command ip (package iproute2)";
        return std::string();
    }

    // Moves the process's calling thread (and what it starts later) into a fresh
    // namespace and links the LAN holding clients (addresses in 10.79.0.0/24) to it.
    bool Build(const std::vector<std::string>& clients, std::string& error)
    {
        if (::unshare(CLONE_NEWNET) != 0) {
            error = "unshare(CLONE_NEWNET) failed";
            return false;
        }
        if (!RunCommand("ip netns add " + m_namespace, &error))
            return false;
        m_made = true;
        const std::string lan = "ip -n " + m_namespace + " ";
        std::vector<std::string> steps = {
            "ip link set lo up",
            "ip link add vemba-srv type veth peer name vemba-cli netns " + m_namespace,
            "ip addr add " + std::string(kServerLanAddress) + "/24 dev vemba-srv",
            "ip link set vemba-srv up",
            lan + "link set lo up",
            lan + "link set vemba-cli up",
        };
        for (const std::string& client : clients)
            steps.push_back(lan + "addr add " + client + "/24 dev vemba-cli");
        for (const std::string& step : steps) {
            if (!RunCommand(step, &error)) {
                error = step + ": " + error;
                return false;
            }
        }
        return true;
    }

    // Runs work on a thread inside the LAN namespace and waits for it; false when the
    // thread could not join it (work did not run).
    template <class Work> bool OnLan(Work work) const
    {
        bool joined = false;
        std::thread lan([&] {
            const int fd = ::open(("/run/netns/" + m_namespace).c_str(), O_RDONLY | O_CLOEXEC);
            joined = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
            if (fd >= 0)
                ::close(fd);
            if (joined)
                work();
        });
        lan.join();
        return joined;
    }

private:
    std::string m_namespace;
    bool m_made = false;
};

} // namespace vembatest
