// The session list and the session record without an engine: ids, the dump, edits,
// the live limit, the idle watcher's arithmetic and engine notices that find nothing.

#include "config/settings.h"
#include "core/engine_notices.h"
#include "http/client_ids.h"
#include "server/platform/temp_folder.h"
#include "streaming/session_list.h"
#include "streaming/session_watcher.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

class SessionListTest : public ::testing::Test {
protected:
    SessionListTest() { CreateFolderPath(m_data.path()); }
    ~SessionListTest() override
    {
        QZ_FreeClientInfoList();
        while (RemoveEncSession(m_fakePid)) { }
    }

    TempFolder m_data;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    int m_fakePid = 999999;
};

TEST_F(SessionListTest, ANewSessionIsIdleWithoutAPlaylist)
{
    std::shared_ptr<ClientInfo> session = QZ_AddClientInfo("0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(session->Dump(),
        "szClientID:'0123456789ABCDEF0123456789ABCDEF', nMaxTSNum:-1, nLastMadeTSNum:0, "
        "nLastReqTSNum:0, nIsPlay:0, nIsPrepareSeeking:0, nLastSeeking:0, bCancelSeeking:0");
    EXPECT_EQ(session->nBandwidth, -1);
    EXPECT_EQ(session->nLastBandwidth, -1);
    EXPECT_EQ(session->nEnginePID, 0);
    ASSERT_TRUE(session->hSeekEvent);
    EXPECT_TRUE(session->hSeekEvent->IsSet());
    EXPECT_EQ(session->FilePath(), "");
}

TEST_F(SessionListTest, TwoSessionsWithOneIdAreBothKeptAndTheEarlierIsFound)
{
    auto first = QZ_AddClientInfo("AAAA");
    auto second = QZ_AddClientInfo("AAAA");
    EXPECT_NE(first, second);
    EXPECT_EQ(QZ_FindClientInfo("AAAA"), first);
    EXPECT_EQ(QZ_IsClientInfo("AAAA"), 1);
    EXPECT_EQ(QZ_IsClientInfo("aaaa"), 0);
    EXPECT_EQ(QZ_FindClientInfo("AAAA "), nullptr);
    EXPECT_EQ(GetClientInfoList().size(), 2u);
}

TEST_F(SessionListTest, EditingReplacesOnlyWhatIsGivenAndKeepsLongPathsWhole)
{
    auto session = QZ_AddClientInfo("EDIT");
    std::string longPath = "/Movies/" + std::string(600, 'x') + ".avi";
    QZ_EditClientInfo("EDIT", longPath, "480", "320", "iOS", "WIFI");
    QZ_EditClientInfo("EDIT", "", "", "", "", "3G");
    EXPECT_EQ(session->FilePath(), longPath);
    EXPECT_EQ(session->Width(), "480");
    EXPECT_EQ(session->Height(), "320");
    EXPECT_EQ(session->OSType(), "iOS");
    EXPECT_EQ(session->ConnType(), "3G");
    // A path the client encoded twice is decoded once more.
    QZ_EditClientInfo("EDIT", "%2FMovies%2F%ED%95%9C.avi", "", "", "", "");
    EXPECT_EQ(session->FilePath(), "/Movies/\xED\x95\x9C.avi");
    QZ_EditClientInfo("NOBODY", "/x", "1", "1", "x", "x");
    EXPECT_EQ(QZ_FindClientInfo("NOBODY"), nullptr);
}

TEST_F(SessionListTest, ConcurrentConnectionsLoseNoSession)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
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
    SetSettingString("", kSettingSection, "SET", "1"); // a settings file without MaxLIveClient
    for (int i = 0; i < 3; ++i)
        AddEncSession(m_fakePid);
    EXPECT_EQ(QZ_IsLiveClientRoom(), 1);
    AddEncSession(m_fakePid);
    EXPECT_EQ(QZ_IsLiveClientRoom(), 0); // the default limit is 4
    EXPECT_TRUE(RemoveEncSession(m_fakePid));
    EXPECT_EQ(QZ_IsLiveClientRoom(), 1);
    SetSettingInt("MaxLIveClient", 3);
    EXPECT_EQ(QZ_IsLiveClientRoom(), 0);
    EXPECT_FALSE(RemoveEncSession(12345));
}

TEST_F(SessionListTest, ResetPlayStateReturnsASessionToIdle)
{
    auto session = QZ_AddClientInfo("RESET");
    session->nMaxTSNum = 40;
    session->nLastReqTSNum = 7;
    session->nIsPlay = 1;
    session->nBandwidth = 2;
    session->nLastBandwidth = 2;
    session->bCancelSeeking = 1;
    session->nSubtitleIndex = 5;
    session->SetSubtitleEntries({ { 0, "a" }, { 1000, "b" } });
    session->ResetPlayState();
    EXPECT_EQ(session->Dump(),
        "szClientID:'RESET', nMaxTSNum:-1, nLastMadeTSNum:0, nLastReqTSNum:0, nIsPlay:0, "
        "nIsPrepareSeeking:0, nLastSeeking:0, bCancelSeeking:0");
    EXPECT_EQ(session->nBandwidth, -1);
    EXPECT_EQ(session->nLastBandwidth, -1);
    EXPECT_EQ(session->nSubtitleIndex, 0);
    EXPECT_EQ(session->SubtitleCount(), 0u);
}

TEST_F(SessionListTest, ReleasingTheListLetsWaitingSeeksGo)
{
    auto session = QZ_AddClientInfo("FREE");
    session->hSeekEvent->Reset();
    std::thread seek([event = session->hSeekEvent] { event->Wait(); });
    QZ_FreeClientInfoList();
    seek.join();
    EXPECT_EQ(QZ_FindClientInfo("FREE"), nullptr);
    EXPECT_TRUE(GetClientInfoList().empty());
}

TEST_F(SessionListTest, StoppingASessionWithoutAnEngineOnlyCounts)
{
    auto session = QZ_AddClientInfo("IDLE");
    EXPECT_EQ(session->StopENC(), 1);
    EXPECT_EQ(session->Engine().StartCount(), -1);
    EXPECT_EQ(session->nEnginePID, 0);
    EXPECT_EQ(CountEncSessions(), 0u);
}

TEST_F(SessionListTest, NoticesThatFindNoSessionChangeNothing)
{
    auto session = QZ_AddClientInfo("NOTICE");
    session->nIsPlay = 1;
    EXPECT_EQ(OnENCError(0), 0);
    EXPECT_EQ(OnENCError(static_cast<veneta::LParam>(session->NoticeKey() + 1000)), 0);
    EXPECT_EQ(session->nIsPlay, 1);
    EXPECT_EQ(OnENCError(static_cast<veneta::LParam>(session->NoticeKey())), 0);
    EXPECT_EQ(session->nIsPlay, 0);
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

} // namespace

namespace {

// A session clock the test moves by hand.
class ManualSessionClock {
public:
    ManualSessionClock()
    {
        SetSessionClock([this] { return std::chrono::steady_clock::time_point(m_now.load()); });
    }
    ~ManualSessionClock() { SetSessionClock(nullptr); }
    void Advance(std::chrono::steady_clock::duration by) { m_now = m_now.load() + by; }

private:
    std::atomic<std::chrono::steady_clock::duration> m_now { std::chrono::hours(1000) };
};

TEST_F(SessionListTest, ASessionLeftAloneForTwelveHoursIsReleasedWithItsHost)
{
    ManualSessionClock clock;
    auto forgotten = QZ_AddClientInfo("FORGOTTEN");
    SetClientHost("FORGOTTEN", "10.0.0.7");
    auto used = QZ_AddClientInfo("USED");
    SetClientHost("USED", "10.0.0.8");

    clock.Advance(std::chrono::hours(11));
    ASSERT_EQ(QZ_FindClientInfo("USED"), used); // a request keeps it
    clock.Advance(std::chrono::hours(1));
    EXPECT_EQ(ReleaseIdleSessions(), 1u);
    EXPECT_TRUE(forgotten->IsReleased());
    EXPECT_EQ(QZ_FindClientInfo("FORGOTTEN"), nullptr);
    EXPECT_FALSE(FindClientHost("FORGOTTEN").has_value());
    EXPECT_EQ(QZ_FindClientInfo("USED"), used);
    EXPECT_EQ(FindClientHost("USED"), "10.0.0.8");
    EXPECT_EQ(GetClientInfoList().size(), 1u);

    // The next connection releases what has been left alone since.
    clock.Advance(std::chrono::hours(12));
    QZ_AddClientInfo("NEWCOMER");
    EXPECT_EQ(QZ_FindClientInfo("USED"), nullptr);
    EXPECT_FALSE(FindClientHost("USED").has_value());
    ASSERT_EQ(GetClientInfoList().size(), 1u);
    EXPECT_EQ(GetClientInfoList().front()->szClientID, "NEWCOMER");
}

TEST_F(SessionListTest, OfTwoSessionsWithOneIdTheReleaseOfOneKeepsTheOther)
{
    ManualSessionClock clock;
    auto first = QZ_AddClientInfo("TWIN");
    SetClientHost("TWIN", "10.0.0.9");
    clock.Advance(std::chrono::hours(6));
    auto second = QZ_AddClientInfo("TWIN");
    clock.Advance(std::chrono::hours(6));
    EXPECT_EQ(ReleaseIdleSessions(), 1u);
    EXPECT_EQ(QZ_FindClientInfo("TWIN"), second);
    EXPECT_EQ(FindClientHost("TWIN"), "10.0.0.9");
    EXPECT_TRUE(first->IsReleased());
}

TEST_F(SessionListTest, AFloodOfConnectionsKeepsTheListBoundedAndDropsTheLeastRecentlyUsed)
{
    ManualSessionClock clock;
    for (size_t i = 0; i < kMaxSessions; ++i) {
        QZ_AddClientInfo("FLOOD" + std::to_string(i));
        clock.Advance(std::chrono::milliseconds(1));
    }
    auto watching = QZ_FindClientInfo("FLOOD0"); // the oldest, but used again just now
    ASSERT_NE(watching, nullptr);
    SetClientHost("FLOOD1", "10.0.0.1");
    for (size_t i = 0; i < 10; ++i)
        QZ_AddClientInfo("LATE" + std::to_string(i));

    EXPECT_EQ(GetClientInfoList().size(), kMaxSessions);
    EXPECT_EQ(QZ_FindClientInfo("FLOOD0"), watching);
    EXPECT_FALSE(watching->IsReleased());
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(QZ_FindClientInfo("FLOOD" + std::to_string(i)), nullptr) << i;
    EXPECT_FALSE(FindClientHost("FLOOD1").has_value());
    EXPECT_NE(QZ_FindClientInfo("FLOOD11"), nullptr);
    EXPECT_NE(QZ_FindClientInfo("LATE9"), nullptr);
}

} // namespace
