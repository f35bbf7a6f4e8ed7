#pragma once

// What every stage of one run shares: the abort flag that a quit, a closed pipe
// or the first error raises, the first error code, and the progress that the
// status messages report.

#include "protocol/engine_messages.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// Codes carried by message 16.
enum EngineError : uint32_t {
    kErrorNone = 0,
    kErrorBadCommandLine = 1, // no input or no output named
    kErrorOpenInput = 2, // the input cannot be opened or is not media
    kErrorNoVideo = 3, // the input has no video stream
    kErrorDecoder = 4, // no decoder for the video, or it cannot be opened
    kErrorEncoder = 5, // an encoder cannot be opened
    kErrorWriteOutput = 6, // an output file cannot be created or written
    kErrorNoFrames = 7, // not a single picture could be decoded at or after the start
    kErrorInternal = 8, // out of memory and the like
    kErrorDiskFull = EngineMessage::kErrorCodeDiskFull, // an output's disk is full (ENOSPC)
};

class JobControl {
public:
    // Raises the abort flag; the first error code given is kept.
    void Fail(EngineError code, const std::string& why);
    void Abort();
    bool Aborted() const { return m_abort.load(); }
    EngineError Error() const;

    // Runs on the first abort (and at once if the job is aborted already); the
    // scheduler uses it to wake the stages waiting on its queues. Null removes it,
    // waiting for a handler that is running.
    void SetAbortHandler(std::function<void()> handler);

    // For AVIOInterruptCB: makes blocking I/O of the libraries give up at once.
    static int InterruptCallback(void* control);

    std::atomic<double> position { 0 }; // media seconds written so far
    // Media time the output starts at: -ss, or for copied video the key picture
    // the demuxer chose; set before any packet goes past the demuxer.
    std::atomic<double> startSeconds { 0 };
    std::atomic<int64_t> framesEncoded { 0 };

private:
    std::atomic<bool> m_abort { false };
    mutable std::mutex m_lock;
    EngineError m_error = kErrorNone; // guarded by m_lock
    std::mutex m_handlerLock;
    std::function<void()> m_abortHandler; // guarded by m_handlerLock
};
