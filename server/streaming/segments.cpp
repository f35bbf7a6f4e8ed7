// "/file/ID/vemba-V-n.ts": the segments of a live stream (qz_play_file).
//
// Segments are written by the session's engine while the client plays. A request
// that follows the last one served (n = last + 1, same variant) waits until its
// segment and the two after it exist. Any other request is a seek: it takes the
// session's seek turn (one seek at a time), restarts the engine at the
// segment asked for and waits for the new segments. A newer seek that comes in
// meanwhile announces itself (nIsPrepareSeeking), and the older one gives up at its
// next look, ending without an answer, so the newer one runs at once.
//
// Threads: every request runs on its own HTTP worker, several on one session at
// once; the session's play state changes in steps under its own lock. A restart is
// one step of the session's engine, which orders it after any start or stop under
// way; no lock is held while files are polled. Every wait is bounded and gives up,
// without an answer, when the session is released (server stop) or play ends.

#include "streaming/segments.h"

#include "config/settings.h"
#include "config/trace.h"
#include "http/request.h"
#include "http/send_file.h"
#include "streaming/client_info.h"
#include "streaming/hls_playlists.h"
#include "streaming/live_engine.h"
#include "streaming/request_handlers.h"
#include "streaming/segment_request.h"
#include "streaming/segment_wait.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"
#include "streaming/work_folders.h"

namespace {

// The segments of the variant a request names, as the engine writes them.
class SessionSegments : public SegmentSource {
public:
    enum class Purpose { InSequence, Seek };
    SessionSegments(StreamingContext& server, ClientInfo& session, int variant, Purpose purpose)
        : m_session(session)
        , m_variant(variant)
        , m_purpose(purpose)
        , m_folder(server.WorkFolders().SessionWorkFolder(session.szClientID))
    {
    }

    bool SegmentExists(int segment) override
    {
        return FileExists(m_folder + "/" + SegmentFileName(m_variant, segment));
    }

    Verdict WhileMissing() override
    {
        PlayState play = m_session.Play();
        // A change of variant meanwhile: this variant's segments stop coming.
        if (!play.playing || m_session.IsReleased() || play.variant != m_variant)
            return Verdict::GiveUp;
        if (m_purpose == Purpose::Seek && play.seekPending)
            return Verdict::GiveUp;
        if (!IsLiveEngineRunning(m_session)) {
            if (m_purpose == Purpose::Seek)
                TraceMessage(kTraceStreamFailure, "pClientInfo->IsENCRunning : FALSE");
            return Verdict::EngineGone;
        }
        return Verdict::KeepWaiting;
    }

private:
    ClientInfo& m_session;
    int m_variant;
    Purpose m_purpose;
    std::string m_folder;
};

// The session's seek turn, given back on every way out.
class SeekTurn {
public:
    explicit SeekTurn(ClientInfo& session)
        : m_session(session)
    {
    }
    ~SeekTurn() { Release(); }
    SeekTurn(const SeekTurn&) = delete;
    SeekTurn& operator=(const SeekTurn&) = delete;

    bool Take(int j, std::chrono::milliseconds limit, Clock& clock)
    {
        m_held = m_session.TakeSeekTurn(j, limit, clock);
        return m_held;
    }

    void Release()
    {
        if (m_held)
            m_session.ReleaseSeekTurn();
        m_held = false;
    }

private:
    ClientInfo& m_session;
    bool m_held = false;
};

void SendNotFound(HttpRequest& request)
{
    request.SendError(404, "File not found");
}

// Sends the file the request names, or ends play when it ended meanwhile.
void Serve(HttpRequest& request, ClientInfo& session, const std::string& file, bool inSequence)
{
    if (session.IsPlaying()) {
        if (!FileExists(file)) {
            SendNotFound(request);
            return;
        }
        TraceMessage(kTraceRequestStep, " - TRY : qz_mg_send_file : ('%s')", file.c_str());
        qz_mg_send_file(request, file);
        if (inSequence)
            session.SentInSequence();
        return;
    }
    TraceMessage(kTraceStreamFailure, "ignored qz_play_file2 <- playing ended");
    SendNotFound(request);
    session.EndPlay(PlayEnd::Finished);
}

// Stops the old engine and starts one at segment j, as one step of the session's
// engine; false when the seek gave up.
bool RestartEngineAt(StreamingContext& server, ClientInfo& session, int j, const std::string& query,
    const SegmentServingLimits& limits)
{
    session.BeginSeekRestart();
    if (limits.seekHook)
        limits.seekHook(SegmentServingLimits::SeekStep::Restarting, j);
    TraceMessage(kTraceLive, "PlayFile(Seek) : pClientInfo->m_Encoder.CreateEnginePipe");
    std::vector<std::string> arguments;
    // The segments of earlier runs go: everything served from here on comes from this
    // run, so its timeline and its MPEG-TS counters run on without a break.
    LiveStart started = RestartLiveEngine(server, session, j - 1, SeekBuild::Yes, true, arguments);
    if (started == LiveStart::StartFailed)
        TraceMessage(
            kTraceStreamFailure, " FAILED - qz_play_file seeking: StartENC (%s) ", query.c_str());
    return started == LiveStart::Started;
}

void Seek(StreamingContext& server, HttpRequest& request, ClientInfo& session, SegmentName name,
    const std::string& file)
{
    const std::string& query = request.Uri();
    const int j = name.segment;
    SegmentServingLimits limits = server.SegmentLimits();
    Clock& clock = server.WaitClockOf(limits);
    session.AnnounceSeek(j);
    if (limits.seekHook)
        limits.seekHook(SegmentServingLimits::SeekStep::Waiting, j);
    SeekTurn turn(session);
    if (!turn.Take(j, limits.seekTurnLimit, clock))
        return;
    if (!session.MaySeekRestart(j)) {
        TraceMessage(kTraceLive, "qz_play_file : seeking: %s cancel not last %d", query.c_str(),
            session.Play().lastSeek);
        return;
    }
    if (!RestartEngineAt(server, session, j, query, limits)) {
        session.GiveUpSeek();
        return;
    }
    if (!IsLiveEngineRunning(session))
        TraceMessage(kTraceStreamFailure, "Step1 pClientInfo->IsENCRunning : FALSE");
    SessionSegments segments(server, session, name.variant, SessionSegments::Purpose::Seek);
    SegmentWait waited
        = WaitForSegments(j, session.Play().maxSegment, segments, clock, limits.stallLimit);
    if (waited != SegmentWait::Ready) {
        session.GiveUpSeek();
        return;
    }
    session.Served(j);
    server.WorkFolders().RememberWorkFolder(
        server.WorkFolders().SessionWorkFolder(session.szClientID));
    TraceMessage(kTraceLive, "qz_play_file : seeking: %s end", query.c_str());
    turn.Release();
    Serve(request, session, file, false);
}

// An engine that ended while its session still plays, with no seek restarting it,
// died (it was killed, or crashed): nothing told the session, and no segment would
// ever come. A start or stop under way is a seek restarting it, not a death.
bool EngineDied(ClientInfo& session)
{
    PlayState play = session.Play();
    if (!play.playing || play.seekPending || session.IsReleased())
        return false;
    EngineState state = session.Engine().State();
    if (state == EngineState::Starting || state == EngineState::Stopping)
        return false;
    return !IsLiveEngineRunning(session);
}

} // namespace

void qz_play_file(StreamingContext& server, HttpRequest& request)
{
    std::optional<LiveRequestPath> path = ParseLiveRequestPath(request.Uri(), "/file/");
    if (!path) {
        SendNotFound(request);
        return;
    }
    std::shared_ptr<ClientInfo> session = server.Sessions().QZ_FindClientInfo(path->clientId);
    if (!session) {
        TraceMessage(kTraceStreamFailure, "qz_play_file : pClientInfo is NULL");
        return;
    }
    std::optional<SegmentName> name = ParseSegmentName(path->name);
    PlayState play = session->Play();
    // A segment past the playlist's end can never be made.
    if (!name || name->segment > std::max(play.maxSegment, 1)) {
        SendNotFound(request);
        return;
    }
    if (!play.playing) {
        SendNotFound(request);
        TraceMessage(kTraceStreamFailure, "qz_play_file : pClientInfo->nIsPlay is Zero");
        return;
    }
    int j = name->segment;
    std::string file = WorkFileOf(server.Places().ServicesFolder(), *path);
    session->ResetIdleTicks();
    // A segment of another variant of the stream: the client switched, or reads
    // several variants at once (as the ffmpeg tool does after fetching every variant
    // playlist). Only one variant is made at a time, so the engine moves to that one
    // at this segment, as a seek does.
    if (name->variant != play.variant) {
        if (!session->MakesVariant(name->variant)) {
            SendNotFound(request);
            return;
        }
        TraceMessage(kTraceWindow, " - BandWidth changed : %d=>%d", play.variant, name->variant);
        session->SwitchVariant(name->variant);
        Seek(server, request, *session, *name, file);
        return;
    }
    if (!session->IsInSequence(j)) {
        Seek(server, request, *session, *name, file);
        return;
    }
    SessionSegments segments(server, *session, name->variant, SessionSegments::Purpose::InSequence);
    SegmentServingLimits limits = server.SegmentLimits();
    if (WaitForSegments(
            j, session->Play().maxSegment, segments, server.WaitClockOf(limits), limits.stallLimit)
        != SegmentWait::Ready) {
        if (!EngineDied(*session))
            return;
        // The engine died under a playing stream: restart it once at this segment,
        // as a seek does; a second death at the same segment ends play.
        if (session->ReviveAt(j) == j) {
            TraceMessage(
                kTraceStreamFailure, "qz_play_file : engine died again at %d: play ends", j);
            session->EndPlay(PlayEnd::EngineFailed);
            SendNotFound(request);
            return;
        }
        TraceMessage(kTraceLive, "qz_play_file : engine died, restarting at %d", j);
        Seek(server, request, *session, *name, file);
        return;
    }
    session->Served(j);
    Serve(request, *session, file, true);
}

void OnNotifyPlayFile(StreamingContext& server, HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPlayFile", request.Uri());
    qz_play_file(server, request);
}
