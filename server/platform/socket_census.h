#pragma once

// The connections a listening port of this process has accepted, read straight from
// the process's own sockets. The HTTP library hands a connection to a worker before
// the program learns anything about it; this census is how the server still sees who
// holds its connections (http/connection_limit.h).

#include <cstdint>
#include <string>
#include <vector>

struct ServedSocket {
    int fd = -1;
    // The kernel's cookie of the socket: unique, and larger for every socket made
    // later, so it orders connections by age and tells a reused descriptor apart.
    uint64_t cookie = 0;
    std::string peer; // the peer's address
};

// The connected TCP sockets of this process whose local port is port.
std::vector<ServedSocket> ListServedSockets(int port);

// Shuts the socket down both ways if fd still names the socket with that cookie, so
// whoever waits on it sees its end at once (the descriptor stays its owner's to close).
// False when fd names another socket by now.
bool ShutDownServedSocket(int fd, uint64_t cookie);
