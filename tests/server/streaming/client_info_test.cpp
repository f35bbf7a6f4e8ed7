// The session list and the session record without an engine: ids, the dump, edits,
// the live limit, the play state and its steps, the seek turn, the idle watcher's
// arithmetic and engine notices of runs that are not (or no longer) the session's.

#include "config/settings.h"
#include "streaming/session_list.h"
#include "streaming/session_watcher.h"
#include "streaming/streaming_context.h"
#include "support/manual_clock.h"
#include "support/notice_gate.h"
#include "support/test_server.h"

#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vembatest::ManualClock;
using vembatest::NoticeGate;

// A server's streaming layer over a data folder of its own, on a clock the test moves.
class SessionListTest : public ::testing::Test {
protected:
    SessionList& Sessions() { return m_server.Sessions(); }
    std::shared_ptr<ClientInfo> QZ_AddClientInfo(const std::string& id)
    {
        return Sessions().QZ_AddClientInfo(id);
    }
    std::shared_ptr<ClientInfo> QZ_FindClientInfo(const std::string& id)
    {
        return Sessions().QZ_FindClientInfo(id);
    }
    std::vector<std::shared_ptr<ClientInfo>> GetClientInfoList()
    {
        return Sessions().GetClientInfoList();
    }
    ClientIds& Clients() { return m_server.Clients(); }

    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>();
    vembatest::TestDataFolder m_data { "sessions" };
    StreamingContext m_server { m_data.Parts(m_clock) };
};

TEST_F(SessionListTest, ANewSessionIsIdleWithoutAPlaylist)
{
    std::shared_ptr<ClientInfo> session = QZ_AddClientInfo("0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(session->Dump(),
        "szClientID:'0123456789ABCDEF0123456789ABCDEF', nMaxTSNum:-1, nLastMadeTSNum:0, "
        "nLastReqTSNum:0, nIsPlay:0, nIsPrepareSeeking:0, nLastSeeking:0, bCancelSeeking:0");
    const PlayState play = session->Play();
    EXPECT_EQ(play.variant, -1);
    EXPECT_EQ(play.lastVariant, -1);
    EXPECT_FALSE(play.seekTurnTaken);
    EXPECT_EQ(session->Encoder().GetEngineProcessId(), 0);
    EXPECT_EQ(session->Engine().State(), EngineState::Idle);
    EXPECT_FALSE(session->Engine().IsOnList());
    EXPECT_EQ(session->FilePath(), "");
}

TEST_F(SessionListTest, TwoSessionsWithOneIdAreBothKeptAndTheEarlierIsFound)
{
    auto first = QZ_AddClientInfo("AAAA");
    auto second = QZ_AddClientInfo("AAAA");
    EXPECT_NE(first, second);
    EXPECT_EQ(QZ_FindClientInfo("AAAA"), first);
    EXPECT_EQ(Sessions().QZ_IsClientInfo("AAAA"), 1);
    EXPECT_EQ(Sessions().QZ_IsClientInfo("aaaa"), 0);
    EXPECT_EQ(QZ_FindClientInfo("AAAA "), nullptr);
    EXPECT_EQ(GetClientInfoList().size(), 2u);
}

TEST_F(SessionListTest, EditingReplacesOnlyWhatIsGivenAndKeepsLongPathsWhole)
{
    auto session = QZ_AddClientInfo("EDIT");
    std::string longPath = "/Movies/" + std::string(600, 'x') + ".avi";
    Sessions().QZ_EditClientInfo("EDIT", longPath, "480", "320", "iOS", "WIFI");
    Sessions().QZ_EditClientInfo("EDIT", "", "", "", "", "3G");
    EXPECT_EQ(session->FilePath(), longPath);
    EXPECT_EQ(session->Width(), "480");
    EXPECT_EQ(session->Height(), "320");
    EXPECT_EQ(session->OSType(), "iOS");
    EXPECT_EQ(session->ConnType(), "3G");
    // A path the client encoded twice is decoded once more.
    Sessions().QZ_EditClientInfo("EDIT", "%2FMovies%2F%ED%95%9C.avi", "", "", "", "");
    EXPECT_EQ(session->FilePath(), "/Movies/\xED\x95\x9C.avi");
    Sessions().QZ_EditClientInfo("NOBODY", "/x", "1", "1", "x", "x");
    EXPECT_EQ(QZ_FindClientInfo("NOBODY"), nullptr);
}

TEST_F(SessionListTest, ConcurrentConnectionsLoseNoSession)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 50; ++i)
                QZ_AddClientInfo("T" + std::to_string(t) + "-" + std::to_string(i));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::string> ids;
    for (const auto& session : GetClientInfoList())
        ids.insert(session->szClientID);
    EXPECT_EQ(ids.size(), 400u);
}

TEST_F(SessionListTest, TheLiveLimitCountsRunningEngines)
{
    m_server.Settings().WriteText(kKeySet, "1"); // a settings file without MaxLIveClient
    EncSessionList& running = m_server.EncSessions();
    const int engines[5] = {};
    for (int i = 0; i < 3; ++i)
        running.AddEncSession(&engines[i]);
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 1);
    running.AddEncSession(&engines[3]);
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 0); // the default limit is 4
    EXPECT_TRUE(running.RemoveEncSession(&engines[3]));
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 1);
    m_server.Settings().WriteInt(kKeyMaxLiveClient, 3);
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 0);
    EXPECT_FALSE(running.RemoveEncSession(&engines[4]));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(running.RemoveEncSession(&engines[i]));
}

// A session brought to a playing state with everything set that play sets.
void PlayAlong(ClientInfo& session)
{
    session.SetPlaylist(40);
    session.BeginVariant(2);
    session.VariantStarted();
    ASSERT_TRUE(session.IsInSequence(1));
    session.Served(1);
    session.AnnounceSeek(9);
    session.GiveUpSeek();
    session.nSubtitleIndex = 5;
    session.SetSubtitleEntries({ { 0, "a" }, { 1000, "b" } });
}

TEST_F(SessionListTest, PlayEndsOneWayAndFinishedPlayLeavesTheSessionIdle)
{
    auto session = QZ_AddClientInfo("RESET");
    PlayAlong(*session);
    ASSERT_TRUE(session->IsPlaying());
    session->EndPlay(PlayEnd::Finished);
    EXPECT_EQ(session->Dump(),
        "szClientID:'RESET', nMaxTSNum:-1, nLastMadeTSNum:0, nLastReqTSNum:0, nIsPlay:0, "
        "nIsPrepareSeeking:0, nLastSeeking:0, bCancelSeeking:0");
    EXPECT_EQ(session->Play().variant, -1);
    EXPECT_EQ(session->Play().lastVariant, -1);
    EXPECT_EQ(session->nSubtitleIndex, 0);
    EXPECT_EQ(session->SubtitleCount(), 0u);

    // A failed engine stops the stream but keeps its playlists and variant, so the
    // next variant playlist request starts it anew.
    PlayAlong(*session);
    session->EndPlay(PlayEnd::EngineFailed);
    const PlayState failed = session->Play();
    EXPECT_FALSE(failed.playing);
    EXPECT_FALSE(failed.seekPending);
    EXPECT_FALSE(failed.seekCancelled);
    EXPECT_EQ(failed.lastSeek, 0);
    EXPECT_EQ(failed.maxSegment, 40);
    EXPECT_EQ(failed.variant, 2);
    EXPECT_EQ(session->Engine().State(), EngineState::Idle);
}

TEST_F(SessionListTest, PlayEndedWhileItsVariantStartedStaysEnded)
{
    // A variant playlist request prepares its run and starts the engine; "/playEnd"
    // (or a new "/play") ends play before the start reports back.
    auto session = QZ_AddClientInfo("ENDED");
    session->SetPlaylist(6);
    session->BeginVariant(1);
    session->EndPlay(PlayEnd::Finished);
    session->VariantStarted();
    const PlayState play = session->Play();
    EXPECT_FALSE(play.playing) << "playing with no variant: " << session->Dump();
    EXPECT_EQ(play.variant, -1);

    // Without an end in between the start makes the stream play.
    session->SetPlaylist(6);
    session->BeginVariant(1);
    session->VariantStarted();
    EXPECT_TRUE(session->IsPlaying());
}

// The seek turn: the test holds it, so a seek waits in TakeSeekTurn on the test's clock.
class SeekTurnTest : public SessionListTest {
protected:
    void SetUp() override
    {
        m_session = QZ_AddClientInfo("SEEK");
        m_session->SetPlaylist(40);
        ASSERT_TRUE(m_session->TakeSeekTurn(1, 1min, *m_clock));
    }

    // A seek to j on a thread of its own; returns once it waits for the turn (it has
    // looked at the clock inside its wait, with the session's lock held).
    std::future<bool> WaitingSeek(int j, std::chrono::milliseconds limit)
    {
        const size_t looks = m_clock->Looks();
        m_session->AnnounceSeek(j);
        std::future<bool> seek = std::async(std::launch::async,
            [this, j, limit] { return m_session->TakeSeekTurn(j, limit, *m_clock); });
        // One look for the deadline, one in the loop before the wait.
        EXPECT_TRUE(m_clock->WaitForLooks(looks + 2));
        return seek;
    }

    std::shared_ptr<ClientInfo> m_session;
};

TEST_F(SeekTurnTest, AReleasedSessionFreesAWaitingSeekBeforeItsDeadline)
{
    // The clock never reaches the deadline: only the release can end the wait.
    std::future<bool> seek = WaitingSeek(5, std::chrono::hours(24));
    Sessions().QZ_FreeClientInfoList();
    ASSERT_EQ(seek.wait_for(60s), std::future_status::ready);
    EXPECT_FALSE(seek.get());
    EXPECT_TRUE(m_session->IsReleased());
    EXPECT_EQ(QZ_FindClientInfo("SEEK"), nullptr);
    EXPECT_TRUE(GetClientInfoList().empty());
    // Nobody takes the turn of a released session.
    m_session->ReleaseSeekTurn();
    EXPECT_FALSE(m_session->TakeSeekTurn(6, 1min, *m_clock));
}

TEST_F(SeekTurnTest, AReleasedTurnGoesToTheWaitingSeek)
{
    std::future<bool> seek = WaitingSeek(5, std::chrono::hours(24));
    m_session->ReleaseSeekTurn();
    ASSERT_EQ(seek.wait_for(60s), std::future_status::ready);
    EXPECT_TRUE(seek.get());
    EXPECT_TRUE(m_session->Play().seekTurnTaken);
    EXPECT_TRUE(m_session->MaySeekRestart(5));
}

TEST_F(SeekTurnTest, ASeekWhoseTimeRunsOutWithdrawsItsAnnouncement)
{
    std::future<bool> seek = WaitingSeek(5, 3min);
    m_clock->Advance(3min);
    ASSERT_EQ(seek.wait_for(60s), std::future_status::ready);
    EXPECT_FALSE(seek.get());
    const PlayState play = m_session->Play();
    EXPECT_FALSE(play.seekPending) << "the next start must not find a seek that left";
    EXPECT_TRUE(play.seekTurnTaken) << "the turn stays with its holder";
    EXPECT_FALSE(m_session->IsSeekOvertaken());
}

TEST_F(SeekTurnTest, ATimedOutSeekLeavesTheAnnouncementOfANewerOne)
{
    std::future<bool> older = WaitingSeek(5, 3min);
    m_session->AnnounceSeek(9); // a newer seek came while the older one waited
    m_clock->Advance(3min);
    ASSERT_EQ(older.wait_for(60s), std::future_status::ready);
    EXPECT_FALSE(older.get());
    EXPECT_TRUE(m_session->Play().seekPending);
    EXPECT_EQ(m_session->Play().lastSeek, 9);
}

TEST_F(SessionListTest, StoppingASessionWithoutAnEngineOnlyCounts)
{
    auto session = QZ_AddClientInfo("IDLE");
    EXPECT_EQ(session->StopENC(), 1);
    EXPECT_EQ(session->Engine().StartCount(), -1);
    EXPECT_EQ(session->Encoder().GetEngineProcessId(), 0);
    EXPECT_EQ(m_server.EncSessions().CountEncSessions(), 0u);
}

// Begins a run of the session's engine that starts no process (the line builder
// finds nothing to start): the engine's notices are bound to the new run.
void BeginRunWithoutProcess(ClientInfo& session)
{
    std::vector<std::string> arguments;
    EXPECT_EQ(
        session.RestartENC(
            [](int, std::vector<std::string>&) { return SessionEngine::Line::Nothing; }, arguments),
        LiveStart::NoLine);
}

// The engine's error message (16) as its pipe reader hands it over.
void FeedEngineError(ClientInfo& session)
{
    const uint8_t code[4] = { 0, 0, 0, 7 };
    session.Encoder().HandleEngineMessage(EngineMessage::Error, code, sizeof code);
}

TEST_F(SessionListTest, AnEngineNoticeOfAnOlderRunChangesNothing)
{
    auto session = QZ_AddClientInfo("NOTICE");
    PlayAlong(*session);
    BeginRunWithoutProcess(*session);
    {
        NoticeGate gate(m_server.Notices());
        FeedEngineError(*session); // of the first run; it waits behind the gate
        BeginRunWithoutProcess(*session);
        ASSERT_TRUE(gate.OpenAndDrain());
    }
    EXPECT_TRUE(session->IsPlaying());
    EXPECT_EQ(session->Play().lastSeek, 9);

    // The same notice of the current run ends play the way a failed engine does.
    FeedEngineError(*session);
    ASSERT_TRUE(m_server.Notices().Drain());
    const PlayState play = session->Play();
    EXPECT_FALSE(play.playing);
    EXPECT_EQ(play.lastSeek, 0);
    EXPECT_EQ(play.maxSegment, 40);
    EXPECT_EQ(play.variant, 2);
}

TEST_F(SessionListTest, ANoticeForASessionThatHasGoneFindsNothing)
{
    auto session = QZ_AddClientInfo("GONE");
    auto other = QZ_AddClientInfo("STAYS");
    PlayAlong(*other);
    BeginRunWithoutProcess(*session);
    {
        NoticeGate gate(m_server.Notices());
        FeedEngineError(*session);
        Sessions().QZ_FreeClientInfoList();
        session.reset(); // the session is freed while its notice waits
        ASSERT_TRUE(gate.OpenAndDrain());
    }
    EXPECT_TRUE(other->IsPlaying());
}

TEST(EngineProgress, PercentOfTheFileMadeNeverDividesByZero)
{
    EXPECT_EQ(EngineProgressPercent(30.0, 60000), 50);
    EXPECT_EQ(EngineProgressPercent(29.69, 60000), 49);
    EXPECT_EQ(EngineProgressPercent(29.7, 60000), 50); // rounded to the nearest
    EXPECT_EQ(EngineProgressPercent(0.0, 60000), 0);
    EXPECT_EQ(EngineProgressPercent(12.0, 0), 0); // unknown length
    EXPECT_EQ(EngineProgressPercent(-3.0, 60000), 0);
    EXPECT_EQ(EngineProgressPercent(1e300, 1000), 100); // a broken status word
    EXPECT_EQ(EngineProgressPercent(std::nan(""), 1000), 0);
    EXPECT_EQ(EngineProgressPercent(7200.0, 7200000), 100);
}

TEST_F(SessionListTest, ASessionLeftAloneForTwelveHoursIsReleasedAndItsIdOutlivesIt)
{
    auto forgotten = QZ_AddClientInfo("FORGOTTEN");
    Clients().SetClientHost("FORGOTTEN", "10.0.0.7");
    auto used = QZ_AddClientInfo("USED");
    Clients().SetClientHost("USED", "10.0.0.8");

    m_clock->Advance(std::chrono::hours(11));
    ASSERT_EQ(QZ_FindClientInfo("USED"), used); // a request keeps it
    m_clock->Advance(std::chrono::hours(1));
    EXPECT_EQ(Sessions().ReleaseIdleSessions(), 1u);
    EXPECT_TRUE(forgotten->IsReleased());
    EXPECT_EQ(QZ_FindClientInfo("FORGOTTEN"), nullptr);
    EXPECT_EQ(Clients().FindClientHost("FORGOTTEN"), "10.0.0.7"); // ids live 30 days unused
    EXPECT_EQ(QZ_FindClientInfo("USED"), used);
    EXPECT_EQ(Clients().FindClientHost("USED"), "10.0.0.8");
    EXPECT_EQ(GetClientInfoList().size(), 1u);

    // The next connection releases what has been left alone since.
    m_clock->Advance(std::chrono::hours(12));
    QZ_AddClientInfo("NEWCOMER");
    EXPECT_EQ(QZ_FindClientInfo("USED"), nullptr);
    ASSERT_EQ(GetClientInfoList().size(), 1u);
    EXPECT_EQ(GetClientInfoList().front()->szClientID, "NEWCOMER");
}

TEST_F(SessionListTest, OfTwoSessionsWithOneIdTheReleaseOfOneKeepsTheOther)
{
    auto first = QZ_AddClientInfo("TWIN");
    Clients().SetClientHost("TWIN", "10.0.0.9");
    m_clock->Advance(std::chrono::hours(6));
    auto second = QZ_AddClientInfo("TWIN");
    m_clock->Advance(std::chrono::hours(6));
    EXPECT_EQ(Sessions().ReleaseIdleSessions(), 1u);
    EXPECT_EQ(QZ_FindClientInfo("TWIN"), second);
    EXPECT_EQ(Clients().FindClientHost("TWIN"), "10.0.0.9");
    EXPECT_TRUE(first->IsReleased());
}

TEST_F(SessionListTest, AFloodOfConnectionsKeepsTheListBoundedAndDropsTheLeastRecentlyUsed)
{
    for (size_t i = 0; i < kMaxSessions; ++i) {
        QZ_AddClientInfo("FLOOD" + std::to_string(i));
        m_clock->Advance(std::chrono::milliseconds(1));
    }
    auto watching = QZ_FindClientInfo("FLOOD0"); // the oldest, but used again just now
    ASSERT_NE(watching, nullptr);
    for (size_t i = 0; i < 10; ++i)
        QZ_AddClientInfo("LATE" + std::to_string(i));

    EXPECT_EQ(GetClientInfoList().size(), kMaxSessions);
    EXPECT_EQ(QZ_FindClientInfo("FLOOD0"), watching);
    EXPECT_FALSE(watching->IsReleased());
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(QZ_FindClientInfo("FLOOD" + std::to_string(i)), nullptr) << i;
    EXPECT_NE(QZ_FindClientInfo("FLOOD11"), nullptr);
    EXPECT_NE(QZ_FindClientInfo("LATE9"), nullptr);
}

} // namespace
