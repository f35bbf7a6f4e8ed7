#include "streaming/client_info.h"

#include "config/trace.h"
#include "streaming/hls_playlists.h"
#include "protocol/engine_messages.h"
#include "streaming/streaming_context.h"

#include <algorithm>
#include <cstdio>

void SubtitleInfo_t::SetSubtitleEntries(std::vector<SubtitleEntry> entries)
{
    std::lock_guard guard(m_subtitleLock);
    m_entries = std::move(entries);
}

std::vector<SubtitleEntry> SubtitleInfo_t::SubtitleEntries() const
{
    std::lock_guard guard(m_subtitleLock);
    return m_entries;
}

size_t SubtitleInfo_t::SubtitleCount() const
{
    std::lock_guard guard(m_subtitleLock);
    return m_entries.size();
}

void SubtitleInfo_t::ReleaseSubtitleEntries()
{
    std::lock_guard guard(m_subtitleLock);
    m_entries.clear();
    m_entries.shrink_to_fit();
}

std::string CommonInfo_t::ReadText(const std::string& field) const
{
    std::lock_guard guard(m_textLock);
    return field;
}

CommonInfo_t::TrackChoice CommonInfo_t::Tracks() const
{
    std::lock_guard lock(m_textLock);
    return m_tracks;
}

void CommonInfo_t::SetTracks(TrackChoice tracks)
{
    std::lock_guard lock(m_textLock);
    m_tracks = tracks;
}

void CommonInfo_t::WriteText(std::string& field, std::string value)
{
    std::lock_guard guard(m_textLock);
    field = std::move(value);
}

ClientInfo::ClientInfo(StreamingContext& server, std::string clientId)
    : szClientID(std::move(clientId))
    , m_server(server)
    , m_plan(std::make_shared<const StreamPlan>())
    , m_engine(szClientID, server.Launch(), server.EncSessions(),
          [this](EngineNotice notice, uint64_t run, uint32_t value) {
              PostNotice(notice, run, value);
          })
{
}

ClientInfo::~ClientInfo()
{
    // The engine stops itself with the session; the watcher holds no reference.
}

// Runs on the engine's reader thread: the notice is handled on the server's notice
// queue, since handling it stops the engine, and a stop joins that reader.
void ClientInfo::PostNotice(EngineNotice notice, uint64_t run, uint32_t value)
{
    std::weak_ptr<ClientInfo> session = weak_from_this();
    m_server.Notices().Post([session, notice, run, value] {
        if (std::shared_ptr<ClientInfo> alive = session.lock())
            alive->OnEngineNotice(notice, run, value);
    });
}

// The run has ended: its engine is stopped (or, when it has exited already, taken off
// the ENC session list); an error also ends play. A notice of a run that a newer one
// has replaced changes nothing.
void ClientInfo::OnEngineNotice(EngineNotice notice, uint64_t run, uint32_t value)
{
    if (!m_engine.EndRun(run))
        return;
    if (notice == EngineNotice::Error && value == EngineMessage::kErrorCodeDiskFull) {
        // No fault of the file: play goes on as after any engine death, so the next
        // segment asked for starts the engine again once there is room. A death of
        // this kind does not count towards the second one that ends play.
        ForgetRevive();
        TraceMessage(kTraceStreamFailure,
            "live engine of %s stopped: the disk of the work folder is full (ENOSPC)",
            szClientID.c_str());
    } else if (notice == EngineNotice::Error) {
        // EndRun has stopped this run's engine; play ends as after any engine failure.
        EndPlayStopped(PlayEnd::EngineFailed);
        TraceMessage(kTraceWindow, "CVembaCastDlg::OnENCError (ID:%s)", szClientID.c_str());
    } else {
        TraceMessage(kTraceWindow, "CVembaCastDlg::OnENCComplete (ID:%s)", szClientID.c_str());
    }
}

void ClientInfo::WatchStarted(uint64_t run)
{
    if (run != 0)
        m_server.Watcher().WatchSessionEngine(weak_from_this(), run);
}

int ClientInfo::StartENC(const std::vector<std::string>& arguments)
{
    uint64_t run = 0;
    int started = m_engine.Start(arguments, run);
    WatchStarted(run);
    return started;
}

LiveStart ClientInfo::RestartENC(
    const SessionEngine::LineBuilder& build, std::vector<std::string>& arguments)
{
    uint64_t run = 0;
    LiveStart started = m_engine.Restart(build, arguments, run);
    WatchStarted(run);
    return started;
}

int ClientInfo::StopENC()
{
    m_engine.Stop();
    return 1;
}

int ClientInfo::EngineProgress()
{
    return EngineProgressPercent(Status().PositionSeconds(), Status().TotalMs());
}

std::shared_ptr<const StreamPlan> ClientInfo::Plan() const
{
    std::lock_guard lock(m_planLock);
    return m_plan;
}

void ClientInfo::SetPlan(std::shared_ptr<const StreamPlan> plan)
{
    std::lock_guard lock(m_planLock);
    m_plan = plan ? std::move(plan) : std::make_shared<const StreamPlan>();
}

bool ClientInfo::HasVariant(int variant) const
{
    std::shared_ptr<const StreamPlan> plan = Plan();
    if (plan->IsBrowser())
        return plan->Variant(variant) != nullptr;
    return variant >= 1 && variant <= kPlaylistVariants;
}

bool ClientInfo::MakesVariant(int variant) const
{
    std::shared_ptr<const StreamPlan> plan = Plan();
    if (plan->IsBrowser())
        return plan->Variant(variant) != nullptr;
    return variant >= 1 && variant <= kEncodedPhoneVariants;
}

PlayState ClientInfo::Play() const
{
    std::lock_guard lock(m_playLock);
    return m_play;
}

bool ClientInfo::IsPlaying() const
{
    std::lock_guard lock(m_playLock);
    return m_play.playing;
}

void ClientInfo::ResetPlayLocked()
{
    const bool turnTaken = m_play.seekTurnTaken; // the seek holding it gives it back
    m_play = PlayState();
    m_play.seekTurnTaken = turnTaken;
    nSubtitleIndex = 0;
}

void ClientInfo::SetPlaylist(int maxSegment)
{
    std::lock_guard lock(m_playLock);
    m_play.maxSegment = maxSegment;
}

void ClientInfo::EndPlay(PlayEnd how)
{
    // The session's engine orders this stop after any start under way; it returns
    // once the engine has ended.
    StopENC();
    EndPlayStopped(how);
}

void ClientInfo::EndPlayStopped(PlayEnd how)
{
    {
        std::lock_guard lock(m_playLock);
        if (how == PlayEnd::Finished) {
            ResetPlayLocked();
        } else {
            m_play.playing = false;
            m_play.seekPending = false;
            m_play.lastSeek = 0;
            m_play.seekCancelled = false;
        }
    }
    if (how == PlayEnd::Finished)
        ReleaseSubtitleEntries();
}

void ClientInfo::BeginVariant(int variant)
{
    {
        std::lock_guard lock(m_playLock);
        m_play.lastMade = 0;
        m_play.lastServed = 0;
        m_play.variant = variant;
        nSubtitleIndex = 0;
    }
    ReleaseSubtitleEntries();
}

void ClientInfo::SwitchVariant(int variant)
{
    {
        std::lock_guard lock(m_playLock);
        m_play.variant = variant;
        m_play.lastVariant = variant;
        m_play.lastMade = 0;
        nSubtitleIndex = 0;
    }
    ReleaseSubtitleEntries();
}

void ClientInfo::VariantStarted()
{
    std::lock_guard lock(m_playLock);
    // A "/playEnd" or a new "/play" that came while the engine started has stopped it
    // and ended play: play stays ended rather than playing with no variant.
    if (m_play.variant != -1)
        m_play.playing = true;
}

void ClientInfo::VariantAbandoned()
{
    {
        std::lock_guard lock(m_playLock);
        m_play.seekTurnTaken = false;
        m_play.seekCancelled = true;
    }
    m_playChanged.notify_all();
}

void ClientInfo::VariantFailed()
{
    {
        std::lock_guard lock(m_playLock);
        m_play.playing = false;
    }
    ReleaseSubtitleEntries();
}

bool ClientInfo::IsInSequence(int j)
{
    int last = 0;
    int variant = 0;
    bool inSequence = false;
    {
        std::lock_guard lock(m_playLock);
        inSequence = m_play.lastServed == j - 1;
        variant = m_play.variant;
        last = m_play.lastVariant;
        m_play.lastVariant = variant;
    }
    // A first request after the variant playlist (nothing served yet) is not a change
    // of variant: the engine the playlist request started is the right one.
    if (last != variant && last != -1) {
        TraceMessage(kTraceWindow, " - BandWidth changed : %d=>%d", last, variant);
        inSequence = false;
    }
    return inSequence;
}

void ClientInfo::AnnounceSeek(int j)
{
    std::lock_guard lock(m_playLock);
    m_play.lastSeek = j;
    m_play.seekPending = true;
    nSubtitleIndex = 0;
}

bool ClientInfo::TakeSeekTurn(int j, std::chrono::milliseconds limit, Clock& clock)
{
    // The wait is on the session's condition, so a released turn or a released
    // session wakes it at once; the slices only let a test clock's time be seen.
    constexpr auto kLongestSlice = std::chrono::milliseconds(100);
    const Clock::TimePoint deadline = clock.Now() + limit;
    std::unique_lock lock(m_playLock);
    for (;;) {
        if (!m_released && !m_play.seekTurnTaken) {
            m_play.seekTurnTaken = true;
            return true;
        }
        const Clock::TimePoint now = clock.Now();
        if (m_released || now >= deadline)
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        m_playChanged.wait_for(lock, std::min(left + std::chrono::milliseconds(1), kLongestSlice));
    }
    // No newer seek came: the announcement must not stop the next start.
    if (m_play.lastSeek == j)
        m_play.seekPending = false;
    return false;
}

void ClientInfo::ReleaseSeekTurn()
{
    {
        std::lock_guard lock(m_playLock);
        m_play.seekTurnTaken = false;
    }
    m_playChanged.notify_all();
}

bool ClientInfo::MaySeekRestart(int j)
{
    std::lock_guard lock(m_playLock);
    return !(m_play.seekCancelled && j != m_play.lastSeek);
}

void ClientInfo::BeginSeekRestart()
{
    std::lock_guard lock(m_playLock);
    m_play.seekPending = false;
}

bool ClientInfo::IsSeekOvertaken() const
{
    std::lock_guard lock(m_playLock);
    return m_play.seekPending;
}

void ClientInfo::GiveUpSeek()
{
    bool stop = false;
    {
        std::lock_guard lock(m_playLock);
        m_play.seekCancelled = true;
        stop = !m_play.playing || m_released;
    }
    // A run that will not serve: no engine runs for a session that does not play.
    if (stop)
        StopENC();
}

void ClientInfo::Served(int j)
{
    std::lock_guard lock(m_playLock);
    m_play.lastServed = j;
}

void ClientInfo::SentInSequence()
{
    std::lock_guard lock(m_playLock);
    m_play.seekCancelled = false;
}

int ClientInfo::ReviveAt(int j)
{
    std::lock_guard lock(m_playLock);
    return std::exchange(m_play.revivedSegment, j);
}

void ClientInfo::ForgetRevive()
{
    std::lock_guard lock(m_playLock);
    m_play.revivedSegment = 0;
}

int ClientInfo::AddIdleTick()
{
    std::lock_guard lock(m_playLock);
    return ++m_play.idleTicks;
}

void ClientInfo::ResetIdleTicks()
{
    std::lock_guard lock(m_playLock);
    m_play.idleTicks = 0;
}

void ClientInfo::Release()
{
    {
        std::lock_guard lock(m_playLock);
        m_released = true;
    }
    // A seek still waiting for its turn is let go rather than left hanging.
    m_playChanged.notify_all();
    StopENC();
    ReleaseSubtitleEntries();
}

bool ClientInfo::IsReleased() const
{
    std::lock_guard lock(m_playLock);
    return m_released;
}

std::string ClientInfo::Dump() const
{
    PlayState play = Play();
    char numbers[256];
    std::snprintf(numbers, sizeof(numbers),
        "', nMaxTSNum:%d, nLastMadeTSNum:%d, nLastReqTSNum:%d, nIsPlay:%d, nIsPrepareSeeking:%d, "
        "nLastSeeking:%d, bCancelSeeking:%d",
        play.maxSegment, play.lastMade, play.lastServed, play.playing ? 1 : 0,
        play.seekPending ? 1 : 0, play.lastSeek, play.seekCancelled ? 1 : 0);
    return "szClientID:'" + szClientID + numbers;
}
