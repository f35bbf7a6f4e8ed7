#pragma once

// A real UPnP Internet gateway for the tests: Debian's miniupnpd (nftables variant)
// in a network namespace of its own, joined by a veth pair to the test process, which
// first moves into a fresh network namespace itself. The LAN is 192.168.77.0/24 (the
// gateway .1, the test .2); the WAN side has an address that exists only inside the
// gateway's namespace, so nothing the tests send can leave the machine.
//
// It needs root and the commands ip, nft, miniupnpd and upnpc; WhyUnavailable() names
// what is missing so a test can skip with that reason.

#include "support/test_support.h"

#include <csignal>
#include <fstream>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern "C" char** environ;

namespace vembatest {

inline constexpr const char* kGatewayLanAddress = "192.168.77.1";
inline constexpr const char* kTestLanAddress = "192.168.77.2";
inline constexpr const char* kGatewayWanAddress = "11.22.33.44";

class UpnpGateway {
public:
    UpnpGateway()
        : m_namespace("vembagw-" + std::to_string(::getpid()))
        , m_folder("vemba-upnp")
    {
    }
    ~UpnpGateway()
    {
        StopDaemon();
        if (m_namespaceMade)
            RunCommand("ip netns delete " + m_namespace);
    }
    UpnpGateway(const UpnpGateway&) = delete;
    UpnpGateway& operator=(const UpnpGateway&) = delete;

    // Empty when a gateway can be made here, else why not.
    static std::string WhyUnavailable()
    {
        if (::geteuid() != 0)
            return "needs root for network namespaces (CI runs as root)";
        for (const char* tool : { "ip", "nft", "miniupnpd", "upnpc" }) {
            if (!RunCommand(std::string("command -v ") + tool))
                return std::string("needs the command ") + tool
                    + " (packages iproute2, nftables, miniupnpd-nftables, miniupnpc)";
        }
        return std::string();
    }

    // Moves the calling thread (and every thread or process it starts later) into a
    // fresh network namespace holding only loopback.
    static bool EnterPrivateNetwork(std::string& error)
    {
        if (::unshare(CLONE_NEWNET) != 0) {
            error = "unshare(CLONE_NEWNET) failed";
            return false;
        }
        return RunCommand("ip link set lo up", &error);
    }

    // Builds the gateway's namespace and links it to the caller's; the daemon is
    // started separately so a test can also see the network without a gateway.
    bool BuildNetwork(std::string& error)
    {
        const std::string ns = " -n " + m_namespace + " ";
        if (!RunCommand("ip netns add " + m_namespace, &error))
            return false;
        m_namespaceMade = true;
        const std::string steps[] = {
            "ip" + ns + "link set lo up",
            "ip link add vemba-lan type veth peer name vemba-gw netns " + m_namespace,
            "ip addr add " + std::string(kTestLanAddress) + "/24 dev vemba-lan",
            "ip link set vemba-lan up",
            "ip route add default via " + std::string(kGatewayLanAddress),
            "ip" + ns + "addr add " + kGatewayLanAddress + "/24 dev vemba-gw",
            "ip" + ns + "link set vemba-gw up",
            "ip" + ns + "link add wan0 type veth peer name wan1",
            "ip" + ns + "link set wan1 up",
            "ip" + ns + "addr add " + kGatewayWanAddress + "/24 dev wan0",
            "ip" + ns + "link set wan0 up",
            "ip" + ns + "route add default via 11.22.33.1 dev wan0",
        };
        for (const std::string& step : steps) {
            if (!RunCommand(step, &error)) {
                error = step + ": " + error;
                return false;
            }
        }
        return WriteFile("rules.nft", kRules)
            && RunCommand(InGateway("nft -f " + File("rules.nft")), &error);
    }

    // Starts miniupnpd in the foreground as a child and waits until upnpc finds it.
    bool StartDaemon(std::string& error)
    {
        if (!WriteFile("miniupnpd.conf", Config()))
            return false;
        std::string command = InGateway("miniupnpd -d -f " + File("miniupnpd.conf") + " -P "
            + File("miniupnpd.pid") + " >" + File("miniupnpd.log") + " 2>&1");
        const char* argv[] = { "/bin/sh", "-c", command.c_str(), nullptr };
        // sh hands its process over to ip, and ip to miniupnpd, so the child is the daemon.
        command = "exec " + command;
        argv[2] = command.c_str();
        if (::posix_spawn(
                &m_daemonPid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ)
            != 0) {
            m_daemonPid = 0;
            error = "cannot start miniupnpd";
            return false;
        }
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::string listing;
            if (RunCommand("upnpc -s", &listing)
                && listing.find(kGatewayWanAddress) != std::string::npos)
                return true;
            error = listing;
        }
        return false;
    }

    void StopDaemon()
    {
        if (m_daemonPid > 0) {
            ::kill(m_daemonPid, SIGTERM);
            int status = 0;
            ::waitpid(m_daemonPid, &status, 0);
        }
        m_daemonPid = 0;
    }

    // miniupnpc's own listing of the gateway's mappings ("upnpc -l").
    std::string Listing()
    {
        std::string listing;
        RunCommand("upnpc -l", &listing);
        return listing;
    }

    // Adds a mapping as another device on the LAN would (through upnpc).
    bool AddMappingAs(const std::string& client, int externalPort, int internalPort)
    {
        return RunCommand("upnpc -e Other -a " + client + " " + std::to_string(internalPort) + " "
            + std::to_string(externalPort) + " TCP 0");
    }

private:
    static constexpr const char* kRules = "table inet vembatest {\n"
                                          "  chain vemba_forward { }\n"
                                          "  chain vemba_prerouting { }\n"
                                          "  chain vemba_postrouting { }\n"
                                          "  chain forward { type filter hook forward priority 0; "
                                          "policy accept; jump vemba_forward; }\n"
                                          "  chain prerouting { type nat hook prerouting priority "
                                          "-100; policy accept; jump vemba_prerouting; }\n"
                                          "  chain postrouting { type nat hook postrouting "
                                          "priority 100; policy accept; jump vemba_postrouting; }\n"
                                          "}\n";

    std::string Config() const
    {
        return "ext_ifname=wan0\nlistening_ip=vemba-gw\nport=0\nenable_natpmp=no\n"
               "enable_upnp=yes\nsecure_mode=no\nsystem_uptime=yes\n"
               "lease_file="
            + File("leases")
            + "\nupnp_table_name=vembatest\nupnp_nat_table_name=vembatest\n"
              "upnp_forward_chain=vemba_forward\nupnp_nat_chain=vemba_prerouting\n"
              "upnp_nat_postrouting_chain=vemba_postrouting\n"
              "uuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d07b\n"
              "allow 1-65535 192.168.77.0/24 1-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n";
    }

    std::string InGateway(const std::string& command) const
    {
        return "ip netns exec " + m_namespace + " " + command;
    }
    std::string File(const std::string& name) const { return m_folder.Path() + "/" + name; }
    bool WriteFile(const std::string& name, const std::string& text) const
    {
        std::ofstream out(File(name));
        out << text;
        return static_cast<bool>(out);
    }

    std::string m_namespace;
    TempFolder m_folder;
    bool m_namespaceMade = false;
    pid_t m_daemonPid = 0;
};

} // namespace vembatest
