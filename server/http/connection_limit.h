#pragma once

// Fair shares of the HTTP library's workers. A worker serves one connection from the
// moment it is accepted until it closes, and an idle or slow connection keeps its
// worker until the header timeout cuts it; so one address with enough connections
// could take every worker and leave everybody else waiting. Each address may hold at
// most a limit of open connections (setting "ConnectionsPerAddress", 64 by default;
// trusted proxies, which carry many clients, are exempt); an address over it loses
// its newest connections at once, so its older ones go on and the workers it would
// have held serve others. IPv6 addresses count by their /64 network. Idle time is
// bounded by the header timeout before a request's head is complete and by the
// keep-alive timeout between requests.
//
// CivetWeb tells the program of a connection only on the worker (init_connection),
// without its address and without a way to close it, and of its request only once the
// whole head has come (begin_request). So the limit works from a census of the
// server's own sockets (platform/socket_census.h), taken when a connection reaches a
// worker while more connections are open than one address may hold; below that no
// address can be over its limit and nothing is looked at. Censuses never queue up:
// one that is asked for while another runs is folded into a rerun of that one.
//
// Threads: the library's workers call Opened and Closed; the counters are atomics and
// the census runs under m_censusLock, taken with try_lock so no worker waits for it.

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

inline constexpr const char* kConnectionsPerAddressSetting = "ConnectionsPerAddress";
inline constexpr int kDefaultConnectionsPerAddress = 64;

class ConnectionLimit {
public:
    struct Rules {
        int perAddress = kDefaultConnectionsPerAddress;
        // True for an address whose connections are not limited.
        std::function<bool(const std::string& address)> exempt;
    };

    // port: the listening port whose connections are counted; rules: read at every
    // census, so a changed setting holds from the next one.
    ConnectionLimit(int port, std::function<Rules()> rules);

    // A connection reached a worker / closed (only those that were counted open).
    void Opened();
    void Closed();

    int OpenConnections() const { return m_open.load(); }
    // Connections shut down for being over their address's limit, since the start.
    size_t ShutDownCount() const { return m_shutDown.load(); }

private:
    void CensusWhileAsked();
    void TakeCensus(const Rules& rules);

    const int m_port;
    const std::function<Rules()> m_rules;
    std::atomic<int> m_open { 0 };
    std::atomic<bool> m_censusAsked { false };
    std::atomic<size_t> m_shutDown { 0 };
    std::mutex m_censusLock; // held while a census runs; guards no field of its own
};
