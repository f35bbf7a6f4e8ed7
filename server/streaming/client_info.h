#pragma once

// A client session: the server's record of one connected phone and of the live
// stream it watches. "/connect" creates it idle, "/play" writes its playlists, the
// variant playlist request starts its encoder engine, seeks restart the engine, and
// play ends one way (EndPlay): on "/playEnd", when the engine fails or dies twice at
// one place, when a new "/play" replaces the stream. It owns the one engine that
// makes the client's segments.
//
// Threads: the HTTP workers of every request of the client, the server's watcher
// thread and its notice queue all work on one session. The play state is one record
// guarded by m_playLock and changed only through the steps below, so related fields
// always change together; m_playChanged wakes a seek waiting for its turn. The
// texts are guarded by m_textLock and read through copies; the engine
// (SessionEngine) orders its own starts and stops. No lock of the session is held
// while the engine starts or stops. Sessions are shared (std::shared_ptr), so a
// request or the watcher that still holds one never sees it freed under it.

#include "enginectl/encoder.h"
#include "enginectl/encoder_records.h"
#include "platform/clock.h"
#include "streaming/session_engine.h"
#include "streaming/session_watcher.h"
#include "streaming/stream_plan.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
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

    // The overlay's cursor: the index of the subtitle entry it shows; 0 whenever
    // playing starts, seeks or ends.
    std::atomic<int> nSubtitleIndex { 0 };

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
    // The tracks chosen for the engine: the audio stream (-aid) and a subtitle stream
    // burnt in; -1 for the usual ones.
    struct TrackChoice {
        int audio = -1;
        int burntSubtitle = -1;
    };
    TrackChoice Tracks() const;
    void SetTracks(TrackChoice tracks);

private:
    std::string ReadText(const std::string& field) const;
    void WriteText(std::string& field, std::string value);

    mutable std::mutex m_textLock;
    std::string m_szFilePath; // guarded by m_textLock
    std::string m_szWidth; // guarded by m_textLock
    std::string m_szHeight; // guarded by m_textLock
    std::string m_szOSType; // guarded by m_textLock
    std::string m_szConnType; // guarded by m_textLock
    TrackChoice m_tracks; // guarded by m_textLock
};

class StreamingContext;

// The play state of a session, read as one copy (ClientInfo::Play).
struct PlayState {
    int maxSegment = -1; // nMaxTSNum: last segment of the playlist; -1: no playlist
    int lastMade = 0; // nLastMadeTSNum
    int lastServed = 0; // nLastReqTSNum: last segment served
    bool playing = false; // nIsPlay: an engine run of the variant started
    bool seekPending = false; // nIsPrepareSeeking: a seek has announced itself
    int lastSeek = 0; // nLastSeeking: the segment the newest seek asked for
    bool seekCancelled = false; // bCancelSeeking: the last start or seek gave up
    // The segment at which an engine that died was restarted; a second death there
    // ends play. 0: none since the play started.
    int revivedSegment = 0;
    int variant = -1; // nBandwidth: variant asked for last; -1: none
    int lastVariant = -1; // nLastBandwidth: variant of the last segment served
    int idleTicks = 0; // nIdleSeconds: watcher ticks since the last segment request
    bool seekTurnTaken = false; // one seek at a time restarts the engine
};

// How play ends.
enum class PlayEnd {
    // "/playEnd", a segment asked for after play ended, a new "/play": the engine
    // stops and the session is idle again (no playlist, no variant).
    Finished,
    // The engine failed or died twice at one place: the engine stops and the stream
    // stops playing, but its playlists stay, so fetching a variant playlist again
    // starts it anew.
    EngineFailed,
};

class ClientInfo : public CommonInfo_t,
                   public WatchedSession,
                   public std::enable_shared_from_this<ClientInfo> {
public:
    // Created idle: no playlist, no variant, the seek turn free, the engine idle.
    ClientInfo(StreamingContext& server, std::string clientId);
    ~ClientInfo() override; // stops the engine

    // The 32 hexadecimal digits of the client id; compared exactly.
    const std::string szClientID;

    // --- the play state and its steps
    PlayState Play() const;
    bool IsPlaying() const;
    // "/play" wrote playlists with this last segment.
    void SetPlaylist(int maxSegment);
    // The one way play ends; the engine has stopped when it returns.
    void EndPlay(PlayEnd how);
    // A variant playlist was asked for: a run of it from the beginning is prepared.
    void BeginVariant(int variant);
    // A segment of another variant was asked for: the stream moves to that variant
    // (its run starts as a seek does).
    void SwitchVariant(int variant);
    // The run of the variant started (playing, unless play ended meanwhile), could
    // not start (a newer request took over: the turn is free and the start counts as
    // given up), or failed.
    void VariantStarted();
    void VariantAbandoned();
    void VariantFailed();
    // A segment request: true when j follows the last one served in the same
    // variant. Notes the variant served.
    bool IsInSequence(int j);
    // A seek to j announces itself (a running older seek gives up at its next look).
    void AnnounceSeek(int j);
    // Waits for the seek turn until limit has passed on clock; false when the time
    // ran out or the session was released. Then: when no newer seek came meanwhile,
    // the announcement is withdrawn.
    bool TakeSeekTurn(int j, std::chrono::milliseconds limit, Clock& clock);
    void ReleaseSeekTurn();
    // The seek to j has its turn: false when it was cancelled by a newer one.
    bool MaySeekRestart(int j);
    // The restart begins: the announcement is taken back.
    void BeginSeekRestart();
    // A seek or start that gave up; the engine stops when play has ended meanwhile.
    void GiveUpSeek();
    // Segment j is the last one served.
    void Served(int j);
    // A segment in sequence went out: the last give-up is over.
    void SentInSequence();
    // The engine died under a playing stream at j: the segment it was restarted at
    // before (0 when none), and j is noted.
    int ReviveAt(int j);
    // The engine died of something that was no fault of the file (a full disk): the
    // next death anywhere counts as a first one.
    void ForgetRevive();
    // The session's engine start or seek may go on: play has not ended and no newer
    // seek waits.
    bool IsSeekOvertaken() const;

    // What "/play" decided for the stream (never null: a phone's plan by default).
    std::shared_ptr<const StreamPlan> Plan() const;
    void SetPlan(std::shared_ptr<const StreamPlan> plan);
    // True when the stream has a playlist of variant: the phone's six, or the
    // variants offered to a browser.
    bool HasVariant(int variant) const;
    // True when the stream has an encoding for variant: the phone's four presets, or
    // the variants offered to a browser.
    bool MakesVariant(int variant) const;

    // The session's engine: its start, stop and run, one ordered sequence.
    SessionEngine& Engine() { return m_engine; }
    CEncoder& Encoder() { return m_engine.Encoder(); }
    EngineStatus& Status() { return m_engine.Status(); }

    // Starts the engine with a line for pipes made already; 1 on success or when
    // one already runs, 0 on failure. The watcher then watches the new run.
    int StartENC(const std::vector<std::string>& arguments);
    // Stops whatever runs and starts a new run with the line build makes; after
    // any start or stop of this session under way, never in the middle of one.
    LiveStart RestartENC(
        const SessionEngine::LineBuilder& build, std::vector<std::string>& arguments);
    // Stops the engine if it runs and takes it off the ENC session list. Always 1.
    int StopENC();

    // "szClientID:'%s', nMaxTSNum:%d, ..." for traces.
    std::string Dump() const;

    // The watcher's view.
    bool EngineRunsAs(uint64_t run) override { return m_engine.RunsAs(run); }
    void ForgetEndedEngine(uint64_t run) override { m_engine.ForgetEnded(run); }
    int AddIdleTick() override;
    void ResetIdleTicks() override;
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

    // The session leaves the list: its waits give up, its engine stops.
    void Release();
    bool IsReleased() const;

private:
    void WatchStarted(uint64_t run);
    // An engine notice of one of this session's runs, on the server's notice queue.
    void OnEngineNotice(EngineNotice notice, uint64_t run, uint32_t value);
    void PostNotice(EngineNotice notice, uint64_t run, uint32_t value);
    void ResetPlayLocked();
    // The play state's part of EndPlay, once the engine has stopped.
    void EndPlayStopped(PlayEnd how);

    StreamingContext& m_server;
    std::atomic<std::chrono::steady_clock::rep> m_lastUse { 0 };

    mutable std::mutex m_planLock;
    std::shared_ptr<const StreamPlan> m_plan; // guarded by m_planLock

    mutable std::mutex m_playLock;
    std::condition_variable m_playChanged; // with m_playLock: the seek turn or release
    // --- guarded by m_playLock
    PlayState m_play;
    bool m_released = false;
    // ---

    SessionEngine m_engine;
};
