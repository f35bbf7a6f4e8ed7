#pragma once

// The engine's end of the two sockets the server listens on. The engine reads
// the server's messages from "Send" and writes its own to "Rcv"; every message
// is one type byte, a 32-bit little-endian length and that many payload bytes.
//
// One reader thread reads "Send". Quit (1), the end of the stream or a read
// error all count as "the server is gone": the quit callback runs once, on the
// reader thread, and every wait below returns false from then on. Writers of any
// thread may call Send; a lock keeps their frames whole.

#include "protocol/engine_messages.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ControlChannel {
public:
    ControlChannel() = default;
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // Connects QZ_Vemba_Pipe_SendN and QZ_Vemba_Pipe_RcvN in folder, retrying for
    // a few seconds while the sockets are not there yet.
    bool Connect(const std::string& folder, int number);

    // A channel without a server: sends go nowhere, start is immediate.
    void UseDetached();

    // Starts the reader thread; onQuit runs once when the server quits or goes away.
    void Start(std::function<void()> onQuit);

    bool Send(uint8_t type, const void* payload, uint32_t length);

    // Waits for message 8 (after 2). False when the server quit or went away first.
    bool WaitForStart();
    // Waits for the next request (4) and gives its text. False on quit.
    bool NextRequest(std::string& text);
    bool QuitReceived() const;

private:
    void ReadLoop();
    bool ReadExact(void* buffer, size_t length);
    void MarkGone();

    int m_sendFd = -1; // the server's messages arrive here
    int m_rcvFd = -1; // our messages go out here
    bool m_detached = false;
    std::thread m_reader;
    std::function<void()> m_onQuit;

    std::mutex m_writeLock; // keeps frames of concurrent writers whole

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_gone = false; // guarded by m_lock
    bool m_startParameters = false; // guarded by m_lock
    bool m_start = false; // guarded by m_lock
    std::deque<std::string> m_requests; // guarded by m_lock
};

// Builds the 24-byte payload of status (14) and complete (15): words 3-4 the
// position in seconds as a double, word 5 the total length in milliseconds.
std::vector<uint8_t> MakeStatusPayload(
    uint32_t word1, uint32_t word2, double position, uint32_t totalMs);
