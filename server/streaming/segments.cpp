// "/file/ID/vemba-V-n.ts": the segments of a live stream (qz_play_file).
//
// Segments are written by the session's engine while the client plays. A request
// that follows the last one served (n = last + 1, same variant) waits until its
// segment and the two after it exist. Any other request is a seek: it takes the
// session's seek turn (hSeekEvent, one seek at a time), restarts the engine at the
// segment asked for and waits for the new segments. A newer seek that comes in
// meanwhile sets nIsPrepareSeeking, and the older one gives up at its next look,
// ending without an answer, so the newer one runs at once.
//
// Threads: every request runs on its own HTTP worker, several on one session at
// once; the session's counters are atomics. A restart is one step of the session's
// engine, which orders it after any start or stop under way; no lock is held while
// files are polled. Every wait is bounded and gives up, without an answer, when the
// session is released (server stop) or play ends.

#include "streaming/segments.h"

#include "config/settings.h"
#include "config/trace.h"
#include "http/request.h"
#include "http/send_file.h"
#include "platform/places.h"
#include "streaming/client_info.h"
#include "streaming/hls_playlists.h"
#include "streaming/live_engine.h"
#include "streaming/request_handlers.h"
#include "streaming/segment_request.h"
#include "streaming/segment_wait.h"
#include "streaming/session_list.h"
#include "streaming/work_folders.h"

#include <mutex>

namespace {

std::mutex g_limitsLock;
SegmentServingLimits g_limits; // guarded by g_limitsLock

SegmentServingLimits CurrentLimits()
{
    std::lock_guard lock(g_limitsLock);
    return g_limits;
}

bool IsReleased(const ClientInfo& session)
{
    return session.IsReleased();
}

// The segments of the variant a request names, as the engine writes them.
class SessionSegments : public SegmentSource {
public:
    enum class Purpose { InSequence, Seek };
    SessionSegments(ClientInfo& session, int variant, Purpose purpose)
        : m_session(session)
        , m_variant(variant)
        , m_purpose(purpose)
        , m_folder(GetSessionWorkFolder(session.szClientID))
    {
    }

    bool SegmentExists(int segment) override
    {
        return FileExists(m_folder + "/" + SegmentFileName(m_variant, segment));
    }

    Verdict WhileMissing() override
    {
        // A change of variant meanwhile: this variant's segments stop coming.
        if (m_session.nIsPlay == 0 || IsReleased(m_session) || m_session.nBandwidth != m_variant)
            return Verdict::GiveUp;
        if (m_purpose == Purpose::Seek && m_session.nIsPrepareSeeking == 1)
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

// The session's seek turn, given back (hSeekEvent set) on every way out.
class SeekTurn {
public:
    explicit SeekTurn(ClientInfo& session)
        : m_session(session)
    {
    }
    ~SeekTurn() { Release(); }
    SeekTurn(const SeekTurn&) = delete;
    SeekTurn& operator=(const SeekTurn&) = delete;

    // Waits for the turn in short slices, so a released session ends the wait at once.
    bool Take(std::chrono::milliseconds limit, WaitClock& clock)
    {
        auto deadline = clock.Now() + limit;
        while (clock.Now() < deadline) {
            if (IsReleased(m_session))
                return false;
            if (m_session.hSeekEvent->WaitAndReset(std::chrono::milliseconds(100))) {
                m_held = true;
                return true;
            }
        }
        return false;
    }

    void Release()
    {
        if (m_held)
            m_session.hSeekEvent->Set();
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
    if (session.nIsPlay == 1) {
        if (!FileExists(file)) {
            SendNotFound(request);
            return;
        }
        TraceMessage(kTraceRequestStep, " - TRY : qz_mg_send_file : ('%s')", file.c_str());
        qz_mg_send_file(request, file);
        if (inSequence)
            session.bCancelSeeking = 0;
        return;
    }
    TraceMessage(kTraceStreamFailure, "ignored qz_play_file2 <- playing ended");
    SendNotFound(request);
    session.StopENC(); // returns once the engine has ended
    session.ResetPlayState();
}

// A run that will not serve: the engine of a session whose play ended is stopped,
// so no engine runs for a session that does not play.
void GiveUpSeek(ClientInfo& session)
{
    session.bCancelSeeking = 1;
    if (session.nIsPlay == 0 || IsReleased(session))
        session.StopENC();
}

// Stops the old engine and starts one at segment j, as one step of the session's
// engine; false when the seek gave up.
bool RestartEngineAt(
    ClientInfo& session, int j, const std::string& query, const SegmentServingLimits& limits)
{
    session.nIsPrepareSeeking = 0;
    if (limits.seekHook)
        limits.seekHook(SegmentServingLimits::SeekStep::Restarting, j);
    TraceMessage(kTraceLive, "PlayFile(Seek) : pClientInfo->m_Encoder.CreateEnginePipe");
    std::vector<std::string> arguments;
    LiveStart started = RestartLiveEngine(session, j - 1, SeekBuild::Yes, false, arguments);
    if (started == LiveStart::StartFailed)
        TraceMessage(
            kTraceStreamFailure, " FAILED - qz_play_file seeking: StartENC (%s) ", query.c_str());
    return started == LiveStart::Started;
}

void Seek(HttpRequest& request, ClientInfo& session, SegmentName name, const std::string& file)
{
    const std::string& query = request.Uri();
    const int j = name.segment;
    SegmentServingLimits limits = CurrentLimits();
    session.nLastSeeking = j;
    session.nIsPrepareSeeking = 1;
    session.nSubtitleIndex = 0;
    if (limits.seekHook)
        limits.seekHook(SegmentServingLimits::SeekStep::Waiting, j);
    SeekTurn turn(session);
    if (!turn.Take(limits.seekTurnLimit, *limits.clock)) {
        // No newer seek came: the flag this seek set must not stop the next start.
        if (session.nLastSeeking == j)
            session.nIsPrepareSeeking = 0;
        return;
    }
    if (session.bCancelSeeking == 1 && j != session.nLastSeeking) {
        TraceMessage(kTraceLive, "qz_play_file : seeking: %s cancel not last %d", query.c_str(),
            session.nLastSeeking.load());
        return;
    }
    if (!RestartEngineAt(session, j, query, limits)) {
        GiveUpSeek(session);
        return;
    }
    if (!IsLiveEngineRunning(session))
        TraceMessage(kTraceStreamFailure, "Step1 pClientInfo->IsENCRunning : FALSE");
    SessionSegments segments(session, name.variant, SessionSegments::Purpose::Seek);
    SegmentWait waited
        = WaitForSegments(j, session.nMaxTSNum, segments, *limits.clock, limits.stallLimit);
    if (waited != SegmentWait::Ready) {
        GiveUpSeek(session);
        return;
    }
    session.nLastReqTSNum = j;
    RememberWorkFolder(GetSessionWorkFolder(session.szClientID));
    TraceMessage(kTraceLive, "qz_play_file : seeking: %s end", query.c_str());
    turn.Release();
    Serve(request, session, file, false);
}

// An engine that ended while its session still plays, with no seek restarting it,
// died (it was killed, or crashed): nothing told the session, and no segment would
// ever come. A start or stop under way is a seek restarting it, not a death.
bool EngineDied(ClientInfo& session)
{
    if (session.nIsPlay != 1 || session.nIsPrepareSeeking == 1 || IsReleased(session))
        return false;
    EngineState state = session.Engine().State();
    if (state == EngineState::Starting || state == EngineState::Stopping)
        return false;
    return !IsLiveEngineRunning(session);
}

// Play ends as after an engine error notice: the engine stopped, the session no
// longer playing, and the request told the file will not come.
void EndPlayAfterRepeatedDeath(HttpRequest& request, ClientInfo& session, int j)
{
    TraceMessage(kTraceStreamFailure, "qz_play_file : engine died again at %d: play ends", j);
    // The session's engine orders this stop after any start under way.
    session.StopENC();
    session.nIsPlay = 0;
    session.nIsPrepareSeeking = 0;
    session.nLastSeeking = 0;
    session.bCancelSeeking = 0;
    SendNotFound(request);
}

// True when the request follows the last one served in the same variant. A first
// request after the variant playlist (nothing served yet) is not a change of
// variant: the engine the playlist request started is the right one.
bool IsInSequence(ClientInfo& session, int j)
{
    bool inSequence = session.nLastReqTSNum == j - 1;
    int bandwidth = session.nBandwidth;
    int last = session.nLastBandwidth.exchange(bandwidth);
    if (last != bandwidth && last != -1) {
        TraceMessage(kTraceWindow, " - BandWidth changed : %d=>%d", last, bandwidth);
        inSequence = false;
    }
    return inSequence;
}

} // namespace

SegmentServingLimits::SegmentServingLimits()
    : clock(&RealWaitClock())
{
}

void SetSegmentServingLimits(const SegmentServingLimits& limits)
{
    std::lock_guard lock(g_limitsLock);
    g_limits = limits;
}

void qz_play_file(HttpRequest& request)
{
    std::optional<LiveRequestPath> path = ParseLiveRequestPath(request.Uri(), "/file/");
    if (!path) {
        SendNotFound(request);
        return;
    }
    std::shared_ptr<ClientInfo> session = QZ_FindClientInfo(path->clientId);
    if (!session) {
        TraceMessage(kTraceStreamFailure, "qz_play_file : pClientInfo is NULL");
        return;
    }
    std::optional<SegmentName> name = ParseSegmentName(path->name);
    // A segment past the playlist's end can never be made.
    if (!name || name->segment > std::max(session->nMaxTSNum.load(), 1)) {
        SendNotFound(request);
        return;
    }
    if (session->nIsPlay == 0) {
        SendNotFound(request);
        TraceMessage(kTraceStreamFailure, "qz_play_file : pClientInfo->nIsPlay is Zero");
        return;
    }
    // Only the variant the client asked for last is made; another one's segments
    // would never come.
    if (name->variant != session->nBandwidth) {
        SendNotFound(request);
        return;
    }
    int j = name->segment;
    std::string file = WorkFileOf(GetServicesFolder(), *path);
    session->nIdleSeconds = 0;
    if (!IsInSequence(*session, j)) {
        Seek(request, *session, *name, file);
        return;
    }
    SessionSegments segments(*session, name->variant, SessionSegments::Purpose::InSequence);
    SegmentServingLimits limits = CurrentLimits();
    if (WaitForSegments(j, session->nMaxTSNum, segments, *limits.clock, limits.stallLimit)
        != SegmentWait::Ready) {
        if (!EngineDied(*session))
            return;
        // The engine died under a playing stream: restart it once at this segment,
        // as a seek does; a second death at the same segment ends play.
        if (session->nRevivedSegment.exchange(j) == j) {
            EndPlayAfterRepeatedDeath(request, *session, j);
            return;
        }
        TraceMessage(kTraceLive, "qz_play_file : engine died, restarting at %d", j);
        Seek(request, *session, *name, file);
        return;
    }
    session->nLastReqTSNum = j;
    Serve(request, *session, file, true);
}

void OnNotifyPlayFile(HttpRequest& request)
{
    HandlerTrace trace("OnNotifyPlayFile", request.Uri());
    qz_play_file(request);
}
