#pragma once

// How long an answer waits for a client that does not take it.
//
// The library bounds a request's headers and each try of a write by its request
// timeout, which is short so that idle and slow connections cannot hold workers. A
// client that has been reading and then pauses (a paused player, a phone in a dead
// spot) would be cut by it after a few seconds and have to start over with a Range
// request; such a client gets a long bound on one stalled write instead. A client
// that never reads keeps the short one: only once it has taken more than the kernel
// buffers on the way could hold for a client that reads nothing is it known to read.

#include <chrono>
#include <cstdint>

// The library's request timeout: headers, and one try of a write.
inline constexpr std::chrono::milliseconds kLibraryIoTimeout { 5000 };
// One stalled write of a client known to read.
inline constexpr std::chrono::seconds kPausedReaderLimit { 90 };
// What a client's own receive buffer and the network may hold of an answer it never
// reads, beyond our send buffer.
inline constexpr uint64_t kUnreadAllowance = 2 * 1024 * 1024;

// The bound of one stalled write when the client has taken bytesTaken of the answer
// so far and a send buffer holds at most sendBufferLimit.
std::chrono::milliseconds StalledWriteBound(uint64_t bytesTaken, uint64_t sendBufferLimit);
