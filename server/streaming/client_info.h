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
// guarded by m_textLock and read through copies; csEnc (LOCK_ENC) serialises the
// start and stop of the engine. Sessions are shared (std::shared_ptr), so a request
// or a watcher that still holds one never sees it freed under it.

#include "enginectl/encoder.h"
#include "enginectl/encoder_records.h"
#include "platform/event.h"

#include <atomic>
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
    std::shared_ptr<ManualResetEvent> hSeekEvent;

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

class ClientInfo : public CommonInfo_t, public std::enable_shared_from_this<ClientInfo> {
public:
    // spawner: how the engine is started (tests pass their own).
    explicit ClientInfo(
        std::string clientId, std::shared_ptr<ProcessSpawner> spawner = MakePosixSpawner());
    ~ClientInfo() override; // stops the engine

    // The 32 hexadecimal digits of the client id; compared exactly.
    const std::string szClientID;

    std::atomic<int> nMaxTSNum { 0 }; // last segment of the playlist; -1: no playlist
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
    std::atomic<int> nStartCount { 0 }; // StartENC calls not matched by StopENC (trace)
    // Seconds since the last segment request, counted by the watcher thread.
    std::atomic<int> nIdleSeconds { 0 };

    std::recursive_mutex csEnc; // the engine lock: LOCK_ENC / UNLOCK_ENC
    // Declared before the engine, which writes into it until the engine is gone.
    EngineStatus m_EngineStatus; // the engine's last status message
    CEncoder m_Encoder;

    // Points the engine's notices at the main window and its status at
    // m_EngineStatus. Each call gives the notices a new key (StartENC makes one per
    // engine run), so a late notice of an earlier engine, or of a session released
    // meanwhile, finds no session and stops nothing.
    void SetEngineTargets();
    uint64_t NoticeKey() const { return m_noticeKey; }

    // Starts the engine with the command line; 1 on success or when one already
    // runs, 0 on failure. Starts the watcher thread.
    int StartENC(const std::string& commandLine);
    // Stops the engine if it runs and takes it off the ENC session list. Always 1.
    int StopENC();
    // An engine notice of the run with this key: stops its engine, or takes an
    // engine that has ended already off the ENC session list (an engine exits right
    // after its last message, so "still running" alone would leave it counted
    // against the live limit). False when the session has moved on to another run.
    bool EndEngineRun(uint64_t noticeKey);
    // The watcher's clean-up when the engine with process id pid has ended on its
    // own (also without any message): off the ENC session list, unless a newer
    // engine has taken its place.
    void ForgetEndedEngine(int pid);
    void LOCK_ENC();
    void UNLOCK_ENC();

    // Back to idle when playing ends: no playlist, no variant, counters and flags 0,
    // subtitle entries released.
    void ResetPlayState();

    // "szClientID:'%s', nMaxTSNum:%d, ..." for traces.
    std::string Dump() const;

private:
    std::atomic<uint64_t> m_noticeKey { 0 };
};

// The session work folder: the services folder followed by the client id.
std::string GetSessionWorkFolder(const std::string& clientId);
