#pragma once

// Free TCP ports for the server to listen on, and the kernel's socket limits.

#include <cstdint>

inline constexpr int kFirstFreePortSearched = 47002;
inline constexpr int kLastFreePortSearched = 47555;

// True when a TCP socket can be bound to port on every local IPv4 address at this
// moment (the way the server itself binds it); the socket is closed at once.
bool IsPortFree(int port);

// The first port from `from` to `to` (inclusive) that IsPortFree accepts, or -1.
int FindFreePort(int from = kFirstFreePortSearched, int to = kLastFreePortSearched);

// The most a TCP socket's send buffer grows to on this machine (the kernel's
// net.ipv4.tcp_wmem limit; 4 MiB when it cannot be read).
uint64_t MaxSocketSendBuffer();
