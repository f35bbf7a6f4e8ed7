#pragma once

// The pipe channel to one encoder engine run.
//
// The server listens on two Unix stream sockets, QZ_Vemba_Pipe_SendN and
// QZ_Vemba_Pipe_RcvN, in its private pipe folder; the engine connects to both.
// We write to "Send" and read from "Rcv". Every message in either direction is
// one type byte, a 32-bit little-endian length and that many payload bytes.
//
// Threads: Create starts one connect thread per socket; each waits up to the
// connect bound (30 s) for the engine or for Close, counts a connection or marks
// the channel PIPE_STATE_EXIT, and ends. The reader thread waits for "Rcv" to be
// connected, then reads and hands each complete message to the handler, on its
// own thread, until the engine closes its end or Close is called. Close wakes
// and joins all three. The connection state is guarded by m_lock; the handler
// must only copy data or post notices, never close this channel itself.

#include "platform/unix_socket.h"
#include "protocol/engine_messages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline constexpr size_t kEnginePipeBufferSize = 0x80000;

using EngineMessageHandler
    = std::function<void(uint8_t type, const uint8_t* payload, uint32_t length)>;

// Reassembles messages from the bytes read. Bytes are appended to one buffer;
// when they do not fit, it grows to (bytes read + old capacity + 5120). Every
// complete message is dispatched in order; a partial one waits for more bytes.
class EngineFrameReader {
public:
    explicit EngineFrameReader(size_t capacity = kEnginePipeBufferSize);

    // False when the stream can no longer be trusted: a message longer than any
    // engine sends, or memory ran out. Nothing more should be fed then.
    bool Feed(const uint8_t* data, size_t size, const EngineMessageHandler& handler);

    size_t Capacity() const { return m_buffer.size(); }
    size_t Held() const { return m_held; }

    // A message larger than this is not from our engine (a picture is < 1 MB).
    static constexpr uint32_t kMaxMessage = 64u << 20;

private:
    std::vector<uint8_t> m_buffer;
    size_t m_held = 0;
};

// A server's private pipe folder: <runtime folder>/vembacast-<pid>, or
// /tmp/vembacast-<uid>-<pid> without a runtime folder; created with mode 0700 on
// first use and removed with the object. A second server in the same process (tests)
// gets the next free name ("-2", "-3", ...), so neither removes the other's sockets.
// It also hands out the pipe numbers, unique within the folder.
//
// Threads: any engine start asks at once; m_lock guards the path.
class EnginePipeFolder {
public:
    explicit EnginePipeFolder(std::string runtimeFolder);
    ~EnginePipeFolder(); // removes the folder (its sockets are gone by then)
    EnginePipeFolder(const EnginePipeFolder&) = delete;
    EnginePipeFolder& operator=(const EnginePipeFolder&) = delete;

    // The folder, made on first use; empty when no usable folder can be had.
    std::string Path();
    // The first number handed out is 50001.
    int NextPipeNumber() { return ++m_pipeCounter; }

private:
    const std::string m_runtimeFolder;
    std::atomic<int> m_pipeCounter { 50000 };
    std::mutex m_lock;
    std::string m_path; // guarded by m_lock
};

class CEnginePipe {
public:
    enum StateFlag : uint32_t {
        kStateServer = 1, // this side created the pipes
        kStateExit = 2, // PIPE_STATE_EXIT: a pipe was not connected in time
    };

    CEnginePipe() = default;
    ~CEnginePipe() { Close(); }
    CEnginePipe(const CEnginePipe&) = delete;
    CEnginePipe& operator=(const CEnginePipe&) = delete;

    // Listens on both sockets of number in folder and starts the connect and
    // reader threads. False with nothing left open on any failure.
    bool Create(int number, const std::string& folder, EngineMessageHandler handler,
        std::chrono::milliseconds connectBound);

    int Number() const { return m_number; }
    uint32_t State() const;
    int ConnectedCount() const;
    // Waits until both sockets are connected (true) or the channel gave up (false),
    // at most timeout; stillWaiting tells which.
    bool WaitConnected(std::chrono::milliseconds timeout, bool& stillWaiting) const;

    // False when "Send" is not connected or the write fails.
    bool Send(uint8_t type, const void* payload, uint32_t length);

    // Stops the threads, closes the sockets and removes the socket files.
    void Close();

private:
    void ConnectThread(int which);
    void ReaderThread();

    int m_number = 0;
    std::string m_paths[2]; // Send, Rcv
    UniqueFd m_listen[2];
    WakeSignal m_stop;
    EngineMessageHandler m_handler;
    std::chrono::milliseconds m_connectBound { 30000 };
    std::thread m_connectThreads[2];
    std::thread m_reader;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    UniqueFd m_connected[2]; // guarded by m_lock
    uint32_t m_state = 0; // guarded by m_lock
    int m_count = 0; // guarded by m_lock
    bool m_stopped = false; // guarded by m_lock: Close has begun
    std::mutex m_sendLock; // keeps concurrent messages whole; taken before m_lock
};
