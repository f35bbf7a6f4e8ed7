#pragma once

// A stand-in for the server's side of the engine pipes: listens on the two
// sockets, starts the real engine executable, records every message it sends
// and lets a test send messages, or vanish, as the server would.

#include "platform/process.h"
#include "platform/unix_socket.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct RecordedMessage {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    std::chrono::steady_clock::time_point at;

    uint32_t Word(size_t index) const; // 32-bit little-endian word `index` (0-based)
    double Position() const; // words 3-4 of a status
};

class EngineHarness {
public:
    EngineHarness();
    ~EngineHarness();

    int Pipe() const { return m_pipe; }
    // Starts the engine with these arguments and accepts both of its connections.
    bool Launch(const std::vector<std::string>& arguments);
    bool Send(uint8_t type, const std::vector<uint8_t>& payload = {});
    bool SendStart(); // 2 (eight zero bytes) and then 8
    std::optional<RecordedMessage> WaitFor(uint8_t type, std::chrono::milliseconds timeout);
    std::vector<RecordedMessage> Messages() const;
    bool WaitExit(std::chrono::milliseconds timeout);
    bool Running();
    // The server goes away: both connections are closed.
    void DropServer();

private:
    void ReadLoop();

    std::string m_folder;
    int m_pipe;
    std::unique_ptr<ChildProcess> m_process;
    UniqueFd m_send; // to the engine
    UniqueFd m_rcv; // from the engine
    WakeSignal m_stop;
    std::thread m_reader;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<RecordedMessage> m_messages; // guarded by m_lock
};

// The engine executable beside the test binary.
std::string EnginePath();
