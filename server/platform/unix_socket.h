#pragma once

// Unix stream sockets for the engine pipes: listen,
// accept and connect with bounds on every wait, and a wake-up signal that lets
// another thread cancel those waits.

#include "platform/file_io.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <sys/types.h>

// A level-triggered wake-up (an eventfd): once signalled, every wait below that
// watches it returns at once.
class WakeSignal {
public:
    WakeSignal();
    bool Valid() const { return static_cast<bool>(m_fd); }
    void Signal();
    int Fd() const { return m_fd.Get(); }

private:
    UniqueFd m_fd;
};

// Longest socket path the kernel takes.
size_t MaxUnixSocketPath();

// Creates a socket bound to path and listening; a stale socket file of that
// name is replaced. Invalid on failure (errno tells why).
UniqueFd ListenUnixSocket(const std::string& path);

// Waits for one connection. Invalid when timeout passed or cancel was signalled
// first (cancel may be -1).
UniqueFd AcceptUnixSocket(int listenFd, std::chrono::milliseconds timeout, int cancel);

UniqueFd ConnectUnixSocket(const std::string& path);

// Writes everything, waiting at most timeout for room each time. No SIGPIPE.
bool WriteAll(int fd, const void* data, size_t size, std::chrono::milliseconds timeout);

// Waits until fd has data or cancel is signalled. Returns the bytes read (> 0),
// 0 when cancelled or timed out, -1 at the end of the stream or on an error.
ssize_t ReadSome(int fd, void* buffer, size_t size, std::chrono::milliseconds timeout, int cancel);
