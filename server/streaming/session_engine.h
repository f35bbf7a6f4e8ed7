#pragma once

// The engine of one client session: its start, its stop and the end of a run, as
// one ordered sequence per session.
//
// Threads: every request of the client, the watcher thread and the loop that
// handles engine notices call in at once. m_lock guards the state and the run
// record only and is never held across slow work. A caller moves the state from
// Idle or Running to Starting or Stopping, does the slow part (stopping the old
// process and waiting for its end, building the command line, which reads the
// media, the spawn and the pipe connect) with no lock held, and settles the state
// again; whoever finds a start or a stop under way waits on m_settled until it has
// settled. So a client that asks twice never has its second request stop the
// engine the first is still starting: the second restart simply follows the first.

#include "enginectl/encoder.h"
#include "enginectl/encoder_records.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum class EngineState { Idle, Starting, Running, Stopping };

enum class LiveStart {
    Started,
    NoPipe, // CreateEnginePipe failed
    NoLine, // the command line builder found nothing to start
    Overtaken, // a newer seek came in while the line was built
    StartFailed, // the engine did not start
};

class SessionEngine {
public:
    // What a line builder made of the pipe number.
    enum class Line { Built, Nothing, Overtaken };
    using LineBuilder = std::function<Line(int pipeNumber, std::vector<std::string>& arguments)>;

    // clientId for traces; publishedPid is the session's field that shows the
    // running engine's process id (0 when none).
    SessionEngine(std::string clientId, std::shared_ptr<ProcessSpawner> spawner,
        std::atomic<int>& publishedPid);
    ~SessionEngine(); // stops the engine
    SessionEngine(const SessionEngine&) = delete;
    SessionEngine& operator=(const SessionEngine&) = delete;

    // Stops whatever runs, then creates the pipes, builds the arguments with build
    // and starts the engine; the arguments are returned for traces. On Started, pid
    // holds the new engine's process id.
    LiveStart Restart(const LineBuilder& build, std::vector<std::string>& arguments, int& pid);
    // Starts with arguments for pipes the caller has created already, unless an
    // engine runs. 1 on success or when one runs already, 0 on failure; pid as above
    // (0 when one ran already).
    int Start(const std::vector<std::string>& arguments, int& pid);
    // Stops the engine if it runs and takes it off the ENC session list.
    void Stop();
    // A notice of the run with this key: stops its engine (or takes an engine that
    // has ended already off the list). False when a newer run has taken its place.
    bool EndRun(uint64_t noticeKey);
    // The engine with process id pid has ended on its own: off the ENC session
    // list, unless a newer engine has taken its place.
    void ForgetEnded(int pid);

    // Gives the notices of the next run a new key, so a late notice of an earlier
    // run finds no session.
    void SetEngineTargets();
    uint64_t NoticeKey() const { return m_noticeKey; }
    EngineState State() const;
    int StartCount() const { return m_startCount; }
    bool IsRunning() { return m_encoder.IsENCRunning() != 0; }

    CEncoder& Encoder() { return m_encoder; }
    EngineStatus& Status() { return m_status; }

    // For tests: called with no lock held when a caller has moved the state to
    // Starting or Stopping (before the slow part), and when a caller finds a step
    // under way and is about to wait for it (Waiting).
    enum class Step { Stopping, Starting, Waiting };
    void SetStepHook(std::function<void(Step)> hook);

private:
    EngineState Claim(EngineState next);
    void Settle(EngineState state);
    void RunHook(Step step);
    void StopClaimed();
    void ForgetEndedRun();
    bool StartClaimed(const std::vector<std::string>& arguments, int& pid);

    const std::string m_clientId;
    std::atomic<int>& m_publishedPid;
    std::atomic<int> m_startCount { 0 }; // StartENC calls not matched by StopENC (trace)
    std::atomic<uint64_t> m_noticeKey { 0 };

    mutable std::mutex m_lock;
    std::condition_variable m_settled;
    EngineState m_state = EngineState::Idle; // guarded by m_lock
    int m_pid = 0; // guarded by m_lock: the engine on the ENC session list, 0 when none
    std::function<void(Step)> m_hook; // guarded by m_lock

    // Declared before the encoder, which writes into it until the encoder is gone.
    EngineStatus m_status; // the engine's last status message
    CEncoder m_encoder;
};
