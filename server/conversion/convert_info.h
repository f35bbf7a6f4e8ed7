#pragma once

// A conversion job: one video of a share to be converted into an .m4v file beside
// it. The queue (convert_queue.h) owns the jobs; its worker thread runs their
// engines one at a time.
//
// Threads: the worker starts and stops the engine; the worker, the server's notice
// queue and request handlers change states (compare-and-set) and read copies. The
// state and the progress are atomics; the texts are set before the job is queued and
// never change after, so any thread may read them. The engine's reader thread writes
// EngineStatus, which carries its own lock, and queues the engine's notices.

#include "enginectl/encoder.h"
#include "enginectl/encoder_records.h"
#include "streaming/client_info.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// Job states.
enum ConvertState : int {
    kConvertWaiting = 0,
    kConvertComplete = 1,
    kConvertConverting = 2,
    kConvertFailed = 4,
    kConvertRemoved = 16, // cancelled or cleared: the worker stops and removes it
};

// The temporary output's ending and the final one.
inline constexpr const char* kConvertTempSuffix = "-vembacast.m4vtmp";

class ConversionContext;

class ConvertInfo_t : public CommonInfo_t, public std::enable_shared_from_this<ConvertInfo_t> {
public:
    // A job of this server's queue.
    explicit ConvertInfo_t(ConversionContext& server);
    ~ConvertInfo_t() override; // stops a running engine

    // Set before the job is queued, read-only after.
    std::string strConvertID;
    std::string strSourcePath; // as the client sent it: "/Share/rest"
    std::string strOutputPath; // the temporary output on disk
    // A file dropped on the desktop window: its own disk path, converted without a
    // share (the person at the computer chose it). Empty for client jobs.
    std::string strLocalSource;
    // The source on disk of a client's job (the free-space check reads its size), and
    // the client the job counts against: its id, or its address when it sent none.
    std::string strSourceDisk;
    std::string strOwner;
    int nWidth = 480;
    int nHeight = 320;
    int nBitrate = 1200;

    std::atomic<int> nDuration { 0 }; // ms, known once the command line is built
    std::atomic<int> nState { kConvertWaiting };
    std::atomic<int> nProgress { 0 }; // only ever raised
    std::atomic<int> nStartFailures { 0 }; // engine starts that failed in a row
    // True from the engine's start until the temporary output is renamed or
    // deleted: while it is set no other job may write that file, and removing the
    // job deletes it.
    std::atomic<bool> bOwnsTemp { false };

    EngineStatus m_EngineStatus; // declared before the engine, which writes into it
    CEncoder m_Encoder;

    // The final name: the name the finished file got (SetFinishedPath), else the
    // temporary output's folder and base name, then ".m4v".
    std::string FinalOutputPath() const;
    // The finished file was moved to path (a numbered name when the first was taken).
    void SetFinishedPath(std::string path);

    // Device and option of the request: resolution and video bitrate.
    void setConvertOptions(int device, int option);

    // Starts the engine (pipe, command line, spawn, start message). 1 or 0.
    int StartENC();
    // Stops a running engine and waits for it; also drops the subtitle script.
    int StopENC();

    // State changes that never leave "to be removed" and never go back to waiting.
    bool MarkConverting();
    bool MarkComplete();
    bool MarkFailed();
    void MarkRemoved() { nState = kConvertRemoved; }
    void RaiseProgress(int percent);

private:
    void DropSubtitleScript(std::string next);
    // Runs on the engine's reader thread: the notice goes to the server's notice queue.
    void PostNotice(EngineNotice notice);

    ConversionContext& m_server;

    std::mutex m_scriptLock;
    std::string m_subtitleScript; // guarded by m_scriptLock

    mutable std::mutex m_finishedLock;
    std::string m_finishedPath; // guarded by m_finishedLock
};

// The temporary output of a source on disk: everything from the last '.' of the
// file name replaced by "-vembacast.m4vtmp".
std::string MakeConvertTempPath(const std::string& localSource);

// The file name of a request path: the part after its last '/' or '\'.
std::string ConvertFileName(const std::string& path);
