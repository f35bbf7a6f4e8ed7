#include "http/connection_limit.h"

#include "config/trace.h"
#include "http/password_attempts.h"
#include "platform/socket_census.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

ConnectionLimit::ConnectionLimit(int port, std::function<Rules()> rules)
    : m_port(port)
    , m_rules(std::move(rules))
{
}

void ConnectionLimit::Opened()
{
    const int open = ++m_open;
    if (open <= std::max(1, m_rules ? m_rules().perAddress : kDefaultConnectionsPerAddress))
        return;
    m_censusAsked = true;
    CensusWhileAsked();
}

void ConnectionLimit::Closed()
{
    --m_open;
}

void ConnectionLimit::CensusWhileAsked()
{
    // Whoever holds the lock takes censuses until nobody asks any more; one that asks
    // meanwhile leaves at once, its connection counted by the next census. The check
    // after the unlock catches an ask that came between the last census and it.
    while (m_censusAsked.load()) {
        std::unique_lock lock(m_censusLock, std::try_to_lock);
        if (!lock.owns_lock())
            return;
        while (m_censusAsked.exchange(false))
            TakeCensus(m_rules ? m_rules() : Rules {});
    }
}

void ConnectionLimit::TakeCensus(const Rules& rules)
{
    const size_t limit = static_cast<size_t>(std::max(1, rules.perAddress));
    std::unordered_map<std::string, std::vector<ServedSocket>> byAddress;
    for (ServedSocket& socket : ListServedSockets(m_port)) {
        if (rules.exempt && rules.exempt(socket.peer))
            continue;
        byAddress[AttemptKey(socket.peer)].push_back(std::move(socket));
    }
    for (auto& [address, sockets] : byAddress) {
        if (sockets.size() <= limit)
            continue;
        std::sort(sockets.begin(), sockets.end(),
            [](const ServedSocket& a, const ServedSocket& b) { return a.cookie < b.cookie; });
        size_t shut = 0;
        for (size_t i = limit; i < sockets.size(); ++i)
            shut += ShutDownServedSocket(sockets[i].fd, sockets[i].cookie) ? 1 : 0;
        m_shutDown += shut;
        TraceMessage(kTraceWebFailure, "Web Server - %s holds %zu connections: %zu shut down",
            address.c_str(), sockets.size(), shut);
    }
}
