#pragma once

// A client session: the server's record of one connected phone and of the live
// stream it watches. "/connect" creates it idle, "/play" fills in the file and the
// screen, the variant playlist request starts its encoder engine, seeks restart the
// engine, "/playEnd" resets it. It owns the one engine that makes the client's
// segments.
//
// Threads: the HTTP workers of every request of the client, the session's watcher
// thread and the message loop that handles engine notices all work on one session.
// Counters and flags are atomics, so each read or write stands alone; the texts are
// guarded by m_textLock and read through copies; the engine (SessionEngine) orders
// its own starts and stops. Sessions are shared (std::shared_ptr), so a request or
// the watcher that still holds one never sees it freed under it.

#include "enginectl/encoder.h"
#include "enginectl/encoder_records.h"
#include "platform/event.h"
#include "streaming/session_engine.h"
#include "streaming/session_watcher.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One line of the overlay subtitles: its start in milliseconds and its text, in
// which "\N" separates lines.
struct SubtitleEntry {
    int32_t startMs = 0;
    std::string text;
};

// The subtitle entries of the file being played, with their own lock.
class SubtitleInfo_t {
public:
    SubtitleInfo_t() = default;
    virtual ~SubtitleInfo_t() = default;
    SubtitleInfo_t(const SubtitleInfo_t&) = delete;
    SubtitleInfo_t& operator=(const SubtitleInfo_t&) = delete;

    void SetSubtitleEntries(std::vector<SubtitleEntry> entries);
    std::vector<SubtitleEntry> SubtitleEntries() const;
    size_t SubtitleCount() const;
    void ReleaseSubtitleEntries();

private:
    mutable std::mutex m_subtitleLock;
    std::vector<SubtitleEntry> m_entries; // guarded by m_subtitleLock
};

// What a live session and a conversion job have in common.
class CommonInfo_t : public SubtitleInfo_t {
public:
    CommonInfo_t() = default;
    ~CommonInfo_t() override = default;

    // Index of the subtitle entry the overlay shows; 0 whenever playing starts,
    // seeks or ends.
    std::atomic<int> nSubtitleIndex { 0 };
    // Process id of the running engine, 0 when none ("segPID" in the trace).
    std::atomic<int> nEnginePID { 0 };
    // Signalled while no seek is in progress; a seek waits for it and resets it.
    const std::shared_ptr<ManualResetEvent> hSeekEvent
        = std::make_shared<ManualResetEvent>(EventState::Set);

    // The media file as the client named it (share name, then the rest), decoded;
    // and the client's screen, OS and connection type as it sent them. No length
    // limit: a long path is never cut.
    std::string FilePath() const { return ReadText(m_szFilePath); }
    std::string Width() const { return ReadText(m_szWidth); }
    std::string Height() const { return ReadText(m_szHeight); }
    std::string OSType() const { return ReadText(m_szOSType); }
    std::string ConnType() const { return ReadText(m_szConnType); }
    void SetFilePath(std::string value) { WriteText(m_szFilePath, std::move(value)); }
    void SetWidth(std::string value) { WriteText(m_szWidth, std::move(value)); }
    void SetHeight(std::string value) { WriteText(m_szHeight, std::move(value)); }
    void SetOSType(std::string value) { WriteText(m_szOSType, std::move(value)); }
    void SetConnType(std::string value) { WriteText(m_szConnType, std::move(value)); }

private:
    std::string ReadText(const std::string& field) const;
    void WriteText(std::string& field, std::string value);

    mutable std::mutex m_textLock;
    std::string m_szFilePath; // guarded by m_textLock
    std::string m_szWidth; // guarded by m_textLock
    std::string m_szHeight; // guarded by m_textLock
    std::string m_szOSType; // guarded by m_textLock
    std::string m_szConnType; // guarded by m_textLock
};

class ClientInfo : public CommonInfo_t,
                   public WatchedSession,
                   public std::enable_shared_from_this<ClientInfo> {
public:
    // Created complete: no playlist, no variant, the seek turn free, the engine
    // idle. spawner: how the engine is started (tests pass their own).
    explicit ClientInfo(
        std::string clientId, std::shared_ptr<ProcessSpawner> spawner = MakePosixSpawner());
    ~ClientInfo() override; // stops the engine

    // The 32 hexadecimal digits of the client id; compared exactly.
    const std::string szClientID;

    std::atomic<int> nMaxTSNum { -1 }; // last segment of the playlist; -1: no playlist
    std::atomic<int> nLastMadeTSNum { 0 };
    std::atomic<int> nLastReqTSNum { 0 }; // last segment served
    std::atomic<int> nIsPlay { 0 };
    std::atomic<int> nIsPrepareSeeking { 0 };
    std::atomic<int> nLastSeeking { 0 };
    std::atomic<int> bCancelSeeking { 0 };
    // The segment at which an engine that died was restarted; a second death there
    // ends play. 0: none since the play started.
    std::atomic<int> nRevivedSegment { 0 };
    std::atomic<int> nBandwidth { -1 }; // variant asked for last; -1: none
    std::atomic<int> nLastBandwidth { -1 }; // variant of the last segment served
    // Seconds since the last segment request, counted by the watcher thread.
    std::atomic<int> nIdleSeconds { 0 };

    // The session's engine: its start, stop and run, one ordered sequence.
    SessionEngine& Engine() { return m_engine; }
    CEncoder& Encoder() { return m_engine.Encoder(); }
    EngineStatus& Status() { return m_engine.Status(); }

    void SetEngineTargets() { m_engine.SetEngineTargets(); }
    uint64_t NoticeKey() const { return m_engine.NoticeKey(); }

    // Starts the engine with a line for pipes made already; 1 on success or when
    // one already runs, 0 on failure. The watcher then watches the new engine.
    int StartENC(const std::vector<std::string>& arguments);
    // Stops whatever runs and starts a new run with the line build makes; after
    // any start or stop of this session under way, never in the middle of one.
    LiveStart RestartENC(
        const SessionEngine::LineBuilder& build, std::vector<std::string>& arguments);
    // Stops the engine if it runs and takes it off the ENC session list. Always 1.
    int StopENC();
    // An engine notice of the run with this key: stops its engine, or takes an
    // engine that has ended already off the ENC session list (an engine exits right
    // after its last message, so "still running" alone would leave it counted
    // against the live limit). False when the session has moved on to another run.
    bool EndEngineRun(uint64_t noticeKey) { return m_engine.EndRun(noticeKey); }

    // Back to idle when playing ends: no playlist, no variant, counters and flags 0,
    // subtitle entries released. The engine's own record is left to the engine.
    void ResetPlayState();

    // "szClientID:'%s', nMaxTSNum:%d, ..." for traces.
    std::string Dump() const;

    // The watcher's view.
    bool EngineRunsAs(int pid) override;
    void ForgetEndedEngine(int pid) override { m_engine.ForgetEnded(pid); }
    std::atomic<int>& IdleSeconds() override { return nIdleSeconds; }
    int EngineProgress() override;
    void StopIdleEngine() override { StopENC(); }

    // When a request last named this session, for the release of forgotten sessions.
    void Touch(std::chrono::steady_clock::time_point now)
    {
        m_lastUse = now.time_since_epoch().count();
    }
    std::chrono::steady_clock::time_point LastUse() const
    {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(m_lastUse));
    }

    // Set when the session leaves the list; waits of its requests then give up.
    void MarkReleased() { m_released = true; }
    bool IsReleased() const { return m_released; }

private:
    void WatchStarted(int pid);

    std::atomic<bool> m_released { false };
    std::atomic<std::chrono::steady_clock::rep> m_lastUse { 0 };
    SessionEngine m_engine;
};

// The session work folder: the services folder followed by the client id.
std::string GetSessionWorkFolder(const std::string& clientId);
