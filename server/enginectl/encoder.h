#pragma once

// CEncoder: one encoder engine process with its pipe channel.
//
// An owner (a live session, a conversion job, a thumbnail job) runs it as:
// CreateEnginePipe -> RunQZEncEngine (or RunQZThumbEngine) -> StartEncoding ->
// the engine reports -> QuitEncoding, and reuses the object for its next run.
// Pipe numbers come from an atomic counter. Engines start with no lock shared
// between owners: every descriptor of the server is close-on-exec and the spawn
// closes all but 0-2 in the child, so no engine inherits another's channel.
//
// Threads: the owner's calls may come from several threads (a session's request
// handlers and its watcher), so the process and the channel are guarded by
// m_lock and the records by m_recordLock. The channel's reader thread runs
// HandleEngineMessage: it only copies records, sets the response event and
// posts notices through the notify target, which must not block or call back
// into this object's stop on that thread.

#include "config/app_messages.h"
#include "enginectl/encoder_records.h"
#include "enginectl/engine_pipe.h"
#include "platform/event.h"
#include "platform/process.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// How the engine's notices reach the owner: called on the reader thread with
// the message number, the first parameter and the owner's notify value. It must
// queue the notice (post), not handle it there.
using EngineNotify = std::function<void(uint32_t message, uintptr_t wParam, uintptr_t lParam)>;

// The first pipe number handed out is 50001.
int NextEnginePipeNumber();

class CEncoder {
public:
    explicit CEncoder(std::shared_ptr<ProcessSpawner> spawner = MakePosixSpawner());
    virtual ~CEncoder();
    CEncoder(const CEncoder&) = delete;
    CEncoder& operator=(const CEncoder&) = delete;

    // Set by the owner before CreateEnginePipe. A null notify means nobody is told.
    // The status record must outlive the runs (it is written on the reader thread).
    void SetNotifyTarget(EngineNotify notify, uintptr_t notifyValue,
        uint32_t errorMessage = WM_APP_ENC_ERROR, uint32_t completeMessage = WM_APP_ENC_COMPLETE);
    void SetStatusTarget(EngineStatus* status);

    // The pipe number N (>= 50001), or -1 with nothing left open.
    int CreateEnginePipe();
    // Starts the engine with these arguments, word for word, and waits until it has
    // connected both pipes (at most the connect bound). 1 or 0.
    int CreateEngine(const std::vector<std::string>& arguments);
    // Live and conversion runs: CreateEngine, then message 2. 1 or 0.
    int RunQZEncEngine(const std::vector<std::string>& arguments);
    // Thumbnail runs ("-pipename=N" alone): CreateEngine only. 1 or 0.
    int RunQZThumbEngine(const std::vector<std::string>& arguments);
    // Message 8, once per run. 1 when sent now, 0 when no engine or already started.
    int StartEncoding();
    // Sends a request (message 4) and waits up to 20 s for the engine's answer
    // (message 5). The picture it sent (message 7), or null.
    std::shared_ptr<const EngineImage> EngineRequest(const std::string& text);
    // Message 1, up to 1500 ms for the engine to end, then termination; closes
    // the channel and clears the run's records. Always 1.
    int QuitEncoding();
    // 1 when a running engine was found and killed, else 0.
    int TerminateEngine();
    // 1 while the engine runs; an ended engine is forgotten.
    int IsENCRunning();
    // The running engine's process id, 0 when none.
    int GetEngineProcessId() const;
    int GetPipeNumber() const;

    // Records of the last messages 7, 4 and 11 of this run.
    std::shared_ptr<const EngineImage> LastImage() const;
    std::optional<std::array<uint8_t, kEngineInfoSize>> LastInfo() const;
    std::shared_ptr<const EngineText> LastText() const;

    // The message handler of the channel. Public so tests can feed it messages.
    void HandleEngineMessage(uint8_t type, const uint8_t* payload, uint32_t length);

    // Deletes the left-over list files ("fil" + 1-4 hex digits + ".tmp") in folder
    // (default: the services folder), pausing 100 ms after each deletion.
    static void DeleteTemporaryFiles(const std::string& folder = {});

    // For tests: the engine executable and the connect bound (30 s).
    void SetEnginePath(const std::string& path);
    void SetConnectBound(std::chrono::milliseconds bound);

private:
    std::shared_ptr<ChildProcess> Process() const;
    void ForgetProcess();
    void CloseChannel();
    bool SendMessage(uint8_t type, const void* payload, uint32_t length);

    const std::shared_ptr<ProcessSpawner> m_spawner;

    mutable std::mutex m_lock;
    std::shared_ptr<CEnginePipe> m_pipe; // guarded by m_lock
    std::shared_ptr<ManualResetEvent> m_response; // guarded by m_lock: created per run
    std::shared_ptr<ChildProcess> m_process; // guarded by m_lock
    std::string m_enginePath; // guarded by m_lock
    std::string m_pipeFolder; // guarded by m_lock
    std::chrono::milliseconds m_connectBound { 30000 }; // guarded by m_lock
    std::atomic<bool> m_started { false };

    mutable std::mutex m_recordLock;
    EngineNotify m_notify; // guarded by m_recordLock
    uintptr_t m_notifyValue = 0; // guarded by m_recordLock
    uint32_t m_errorMessage = WM_APP_ENC_ERROR; // guarded by m_recordLock
    uint32_t m_completeMessage = WM_APP_ENC_COMPLETE; // guarded by m_recordLock
    EngineStatus* m_status = nullptr; // guarded by m_recordLock
    std::shared_ptr<const EngineImage> m_image; // guarded by m_recordLock
    std::optional<std::array<uint8_t, kEngineInfoSize>> m_info; // guarded by m_recordLock
    std::shared_ptr<const EngineText> m_text; // guarded by m_recordLock
    std::shared_ptr<ManualResetEvent> m_runResponse; // guarded by m_recordLock: the reader's view
};
