#pragma once

// The engine of one client session: its start, its stop and the end of a run, as
// one ordered sequence per session.
//
// Threads: every request of the client, the watcher thread and the notice queue call
// in at once. m_lock guards the state and the run record only and is never held
// across slow work. A caller moves the state from Idle or Running to Starting or
// Stopping, does the slow part (stopping the old process and waiting for its end,
// building the arguments, which reads the media, the spawn and the pipe connect)
// with no lock held, and settles the state again; whoever finds a start or a stop
// under way waits on m_settled until it has settled. So a client that asks twice
// never has its second request stop the engine the first is still starting: the
// second restart simply follows the first.
//
// Every run gets a number of its own. The engine's notices and the watcher name a
// run by it, so a late notice of an earlier run finds a newer run and is ignored.
// The process id stays with the engine (CEncoder) alone; the ENC session list holds
// this object while a run of it counts against the live limit.

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

class EncSessionList;

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
    // Called on the engine's reader thread with a notice of the run numbered run and
    // the notice's value (an error's code); it must only queue the notice.
    using NoticeSink = std::function<void(EngineNotice notice, uint64_t run, uint32_t value)>;

    // clientId for traces; running is the server's ENC session list.
    SessionEngine(
        std::string clientId, EngineLaunch launch, EncSessionList& running, NoticeSink notices);
    ~SessionEngine(); // stops the engine
    SessionEngine(const SessionEngine&) = delete;
    SessionEngine& operator=(const SessionEngine&) = delete;

    // Stops whatever runs, then creates the pipes, builds the arguments with build
    // and starts the engine; the arguments are returned for traces. On Started, run
    // holds the new run's number.
    LiveStart Restart(const LineBuilder& build, std::vector<std::string>& arguments, uint64_t& run);
    // Starts with arguments for pipes the caller has created already, unless an
    // engine runs. 1 on success or when one runs already, 0 on failure; run as above
    // (0 when one ran already).
    int Start(const std::vector<std::string>& arguments, uint64_t& run);
    // Stops the engine if it runs and takes it off the ENC session list.
    void Stop();
    // A notice of this run: stops its engine (or takes an engine that has ended
    // already off the list). False when a newer run has taken its place.
    bool EndRun(uint64_t run);
    // The engine of this run has ended on its own: off the ENC session list, unless
    // a newer run has taken its place.
    void ForgetEnded(uint64_t run);

    // True while this run is the current one and its process runs.
    bool RunsAs(uint64_t run);
    // True while a run counts against the live limit.
    bool IsOnList() const;
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
    bool StartClaimed(const std::vector<std::string>& arguments, uint64_t& run);
    // A new run number, with the encoder's notices bound to it.
    uint64_t BeginRun();

    const std::string m_clientId;
    EncSessionList& m_running;
    const NoticeSink m_notices;
    std::atomic<int> m_startCount { 0 }; // StartENC calls not matched by StopENC (trace)

    mutable std::mutex m_lock;
    std::condition_variable m_settled;
    // --- guarded by m_lock
    EngineState m_state = EngineState::Idle;
    uint64_t m_run = 0; // the current run; 0 before the first
    uint64_t m_lastRun = 0; // the last number given out
    bool m_onList = false; // the current run is on the ENC session list
    std::function<void(Step)> m_hook;
    // ---

    // Declared before the encoder, which writes into it until the encoder is gone.
    EngineStatus m_status; // the engine's last status message
    CEncoder m_encoder;
};
