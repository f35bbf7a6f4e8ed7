// Sessions driving the real encoder engine: one engine per session, the live limit,
// engine notices through the main window, the idle watcher and release.

#include "config/settings.h"
#include "config/trace.h"
#include "core/engine_notices.h"
#include "platform/file_io.h"
#include "platform/places.h"
#include "server/library/media_samples.h"
#include "server/platform/temp_folder.h"
#include "skin/message_loop.h"
#include "streaming/command_line.h"
#include "streaming/session_list.h"
#include "streaming/session_watcher.h"
#include "support/step_log.h"

#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The main window of the test: engine notices posted to frame index 2 are handled
// on its loop, as the daemon does.
class NoticeWindow : public veneta::IMessageTarget {
public:
    NoticeWindow() { veneta::CPXFrameMSG::SetTarget(veneta::kFrameMainWindow, this, &m_loop); }
    ~NoticeWindow() override
    {
        veneta::CPXFrameMSG::ClearTarget(veneta::kFrameMainWindow, this);
        m_loop.Stop();
    }
    veneta::LResult OnMessage(
        veneta::MessageId message, veneta::WParam, veneta::LParam key) override
    {
        ++m_notices;
        HandleEngineNotice(message, key);
        return 0;
    }
    std::atomic<int> m_notices { 0 };

private:
    veneta::CMessageLoopThread m_loop;
};

SessionWatcherTiming Timing(std::chrono::milliseconds tick, int idleLimit)
{
    SessionWatcherTiming timing;
    timing.tick = tick;
    timing.idleLimit = idleLimit;
    return timing;
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = 20s)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class SessionEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_media = new TempFolder;
        ASSERT_TRUE(PlaceClip(*s_media / "long.mp4",
            ClipRecipe().Seconds(60).Size(320, 240).Options("-preset ultrafast")));
        ASSERT_TRUE(PlaceClip(*s_media / "short.mp4", ClipRecipe().Seconds(1)));
        WriteBytes(*s_media / "broken.mp4", "this is not a movie");
    }
    static void TearDownTestSuite()
    {
        delete s_media;
        s_media = nullptr;
    }

    SessionEngineTest()
    {
        CreateFolderPath(GetServicesFolder());
        SetSettingString("", kSettingSection, "SET", "1");
    }
    ~SessionEngineTest() override
    {
        QZ_FreeClientInfoList();
        SetSessionWatcherTiming({});
    }

    // Starts the session's engine on file as the variant playlist request does.
    int Start(ClientInfo& session, const std::string& file)
    {
        std::filesystem::create_directories(GetSessionWorkFolder(session.szClientID));
        session.SetEngineTargets();
        LiveLine line;
        line.localPath = *s_media / file;
        line.frameRate = 24;
        line.size = { 320, 240 };
        line.servicesFolder = GetServicesFolder();
        line.clientId = session.szClientID;
        line.bandwidth = 1;
        line.pipeNumber = session.Encoder().CreateEnginePipe();
        return session.StartENC(MakeLiveCommandLine(line));
    }

    // The line of a run from the beginning of file, for RestartENC.
    SessionEngine::LineBuilder Builder(ClientInfo& session, const std::string& file)
    {
        return [this, &session, file](int pipeNumber, std::vector<std::string>& arguments) {
            std::filesystem::create_directories(GetSessionWorkFolder(session.szClientID));
            LiveLine line;
            line.localPath = *s_media / file;
            line.frameRate = 24;
            line.size = { 320, 240 };
            line.servicesFolder = GetServicesFolder();
            line.clientId = session.szClientID;
            line.bandwidth = 1;
            line.pipeNumber = pipeNumber;
            arguments = MakeLiveCommandLine(line);
            return SessionEngine::Line::Built;
        };
    }

    static TempFolder* s_media;
    TempFolder m_data;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    NoticeWindow m_window;
};
TempFolder* SessionEngineTest::s_media = nullptr;

TEST_F(SessionEngineTest, AnEngineStartsOnceAndStops)
{
    auto session = QZ_AddClientInfo("00000000000000000000000000000001");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    int pid = session->nEnginePID;
    EXPECT_GT(pid, 0);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 1);
    EXPECT_EQ(CountEncSessions(), 1u);
    EXPECT_EQ(session->Engine().StartCount(), 1);

    EXPECT_EQ(session->StartENC({ "nothing", "-pipename=1" }), 1); // already running: nothing new
    EXPECT_EQ(session->nEnginePID, pid);
    EXPECT_EQ(session->Engine().StartCount(), 1);
    EXPECT_EQ(CountEncSessions(), 1u);

    EXPECT_EQ(session->StopENC(), 1);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
    EXPECT_EQ(session->nEnginePID, 0);
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_NE(kill(pid, 0), 0); // gone and reaped
}

TEST_F(SessionEngineTest, TheLiveLimitRefusesUntilAnEngineStops)
{
    SetSettingInt("MaxLIveClient", 1);
    auto session = QZ_AddClientInfo("00000000000000000000000000000002");
    EXPECT_EQ(QZ_IsLiveClientRoom(), 1);
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    EXPECT_EQ(QZ_IsLiveClientRoom(), 0);
    session->StopENC();
    EXPECT_EQ(QZ_IsLiveClientRoom(), 1);
}

TEST_F(SessionEngineTest, AnEngineErrorReachesTheSessionThroughTheMainWindow)
{
    auto session = QZ_AddClientInfo("00000000000000000000000000000003");
    session->nIsPlay = 1;
    session->nLastSeeking = 4;
    // The engine opens its input once told to encode, and reports the failure then.
    ASSERT_EQ(Start(*session, "broken.mp4"), 1);
    EXPECT_TRUE(WaitFor([&] { return session->nIsPlay == 0; }));
    EXPECT_EQ(session->nLastSeeking, 0);
    EXPECT_GT(m_window.m_notices, 0);
    EXPECT_TRUE(WaitFor([&] { return CountEncSessions() == 0 && session->nEnginePID == 0; }));
}

TEST_F(SessionEngineTest, AFinishedEngineIsTakenOffTheList)
{
    auto session = QZ_AddClientInfo("00000000000000000000000000000004");
    session->nIsPlay = 1;
    ASSERT_EQ(Start(*session, "short.mp4"), 1);
    EXPECT_TRUE(WaitFor([&] { return CountEncSessions() == 0 && m_window.m_notices > 0; }));
    EXPECT_EQ(session->nEnginePID, 0);
    EXPECT_EQ(session->nIsPlay, 1); // completion keeps the play state
    EXPECT_TRUE(
        std::filesystem::exists(GetSessionWorkFolder(session->szClientID) + "/vemba-1-1.ts"));
}

TEST_F(SessionEngineTest, AnEngineThatDiesWithoutAWordIsTakenOffTheList)
{
    auto session = QZ_AddClientInfo("0000000000000000000000000000000A");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    ASSERT_EQ(kill(session->nEnginePID, SIGKILL), 0);
    EXPECT_TRUE(WaitFor([&] { return CountEncSessions() == 0 && session->nEnginePID == 0; }, 10s));
    EXPECT_EQ(QZ_IsLiveClientRoom(), 1);
}

TEST_F(SessionEngineTest, AnIdleClientsEngineIsStoppedByTheWatcher)
{
    SetSessionWatcherTiming(Timing(20ms, 10));
    auto session = QZ_AddClientInfo("00000000000000000000000000000005");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    EXPECT_TRUE(WaitFor(
        [&] { return session->Encoder().IsENCRunning() == 0 && CountEncSessions() == 0; }, 10s));
    EXPECT_EQ(session->nIdleSeconds, 0);
}

TEST_F(SessionEngineTest, SegmentRequestsKeepTheWatcherAway)
{
    // A segment request every tenth idle tick, made on the watcher's own thread
    // between its ticks, so the order does not depend on how busy the machine is.
    constexpr int kLimit = 25;
    std::atomic<int> ticks = 0;
    std::promise<void> twiceTheLimit;
    SessionWatcherTiming timing = Timing(5ms, kLimit);
    timing.afterTick = [&](WatchedSession& watched) {
        int tick = ++ticks;
        if (tick % 10 == 0)
            watched.IdleSeconds().exchange(0);
        if (tick == 2 * kLimit + 10)
            twiceTheLimit.set_value();
    };
    SetSessionWatcherTiming(timing);
    auto session = QZ_AddClientInfo("00000000000000000000000000000006");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    ASSERT_EQ(twiceTheLimit.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 1);
    EXPECT_EQ(WatchedEngineCount(), 1u);
    session->StopENC();
    StopSessionWatcher(); // no tick hook runs once the test's counters are gone
    SetSessionWatcherTiming({});
}

TEST_F(SessionEngineTest, ANoticeOfAnEarlierRunStopsNothing)
{
    auto session = QZ_AddClientInfo("00000000000000000000000000000007");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    uint64_t earlierRun = session->NoticeKey();
    session->StopENC();
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    EXPECT_NE(session->NoticeKey(), earlierRun);
    OnENCComplete(static_cast<veneta::LParam>(earlierRun));
    EXPECT_EQ(session->Encoder().IsENCRunning(), 1);
    OnENCComplete(static_cast<veneta::LParam>(session->NoticeKey()));
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
}

TEST_F(SessionEngineTest, ReleasingTheListStopsEveryEngine)
{
    auto first = QZ_AddClientInfo("00000000000000000000000000000008");
    auto second = QZ_AddClientInfo("00000000000000000000000000000009");
    ASSERT_EQ(Start(*first, "long.mp4"), 1);
    ASSERT_EQ(Start(*second, "long.mp4"), 1);
    EXPECT_EQ(CountEncSessions(), 2u);
    QZ_FreeClientInfoList();
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_EQ(first->Encoder().IsENCRunning(), 0);
    EXPECT_EQ(second->Encoder().IsENCRunning(), 0);
    EXPECT_TRUE(GetClientInfoList().empty());
}

// Which test thread a hook call comes from.
thread_local char t_who = '?';

// Step records of the engine hook, in order, with the thread that made them.
class StepLog {
public:
    void Add(char who, SessionEngine::Step step) { m_log.Add({ who, step }); }
    bool WaitFor(char who, SessionEngine::Step step) { return m_log.WaitFor({ who, step }); }
    // The steps of the test's own threads (the watcher may look in as well).
    std::vector<std::pair<char, SessionEngine::Step>> Steps()
    {
        std::vector<std::pair<char, SessionEngine::Step>> own = m_log.Events();
        std::erase_if(own, [](const auto& step) { return step.first == '?'; });
        return own;
    }

private:
    vembatest::StepLog<std::pair<char, SessionEngine::Step>> m_log;
};

TEST_F(SessionEngineTest, ASecondStartOfOneSessionFollowsTheFirstInsteadOfCuttingIt)
{
    using Step = SessionEngine::Step;
    auto session = QZ_AddClientInfo("0000000000000000000000000000000B");
    StepLog log;
    std::thread second;
    std::atomic<bool> secondLaunched = false;
    LiveStart secondResult = LiveStart::NoPipe;
    session->Engine().SetStepHook([&](Step step) {
        log.Add(t_who, step);
        // The first start is under way: a retry of the same client comes in now and
        // must wait for it rather than stop its half-started engine.
        if (t_who == 'A' && step == Step::Starting && !secondLaunched.exchange(true)) {
            second = std::thread([&] {
                t_who = 'B';
                std::vector<std::string> line;
                secondResult = session->RestartENC(Builder(*session, "long.mp4"), line);
            });
            EXPECT_TRUE(log.WaitFor('B', Step::Waiting));
        }
    });
    t_who = 'A';
    std::vector<std::string> line;
    EXPECT_EQ(session->RestartENC(Builder(*session, "long.mp4"), line), LiveStart::Started);
    int firstPid = session->nEnginePID;
    ASSERT_TRUE(secondLaunched);
    second.join();
    session->Engine().SetStepHook(nullptr);
    EXPECT_EQ(secondResult, LiveStart::Started);

    std::vector<std::pair<char, Step>> expected { { 'A', Step::Stopping }, { 'A', Step::Starting },
        { 'B', Step::Waiting }, { 'B', Step::Stopping }, { 'B', Step::Starting } };
    EXPECT_EQ(log.Steps(), expected);
    EXPECT_GT(firstPid, 0);
    EXPECT_NE(session->nEnginePID, firstPid);
    EXPECT_EQ(CountEncSessions(), 1u);
    EXPECT_EQ(session->Engine().State(), EngineState::Running);
    EXPECT_NE(kill(firstPid, 0), 0); // the first engine was stopped, not left behind
    // The first run's quit is no error of the file: no notice stops the second run.
    EXPECT_EQ(m_window.m_notices, 0);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 1);
}

TEST_F(SessionEngineTest, AStopWaitsForAStartUnderWayAndThenStopsItsEngine)
{
    using Step = SessionEngine::Step;
    auto session = QZ_AddClientInfo("0000000000000000000000000000000C");
    StepLog log;
    std::thread stopper;
    std::atomic<bool> launched = false;
    session->Engine().SetStepHook([&](Step step) {
        log.Add(t_who, step);
        if (t_who == 'A' && step == Step::Starting && !launched.exchange(true)) {
            stopper = std::thread([&] {
                t_who = 'S';
                session->StopENC();
            });
            EXPECT_TRUE(log.WaitFor('S', Step::Waiting));
        }
    });
    t_who = 'A';
    std::vector<std::string> line;
    EXPECT_EQ(session->RestartENC(Builder(*session, "long.mp4"), line), LiveStart::Started);
    ASSERT_TRUE(launched);
    stopper.join();
    session->Engine().SetStepHook(nullptr);
    EXPECT_EQ(session->Engine().State(), EngineState::Idle);
    EXPECT_EQ(session->nEnginePID, 0);
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
}

TEST_F(SessionEngineTest, ASessionWhoseEngineRunsIsNeverReleasedAsIdle)
{
    std::atomic<std::chrono::steady_clock::duration> now { std::chrono::hours(100) };
    SetSessionClock([&] { return std::chrono::steady_clock::time_point(now.load()); });
    auto session = QZ_AddClientInfo("0000000000000000000000000000000D");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    now = now.load() + kSessionIdleLife * 2;
    EXPECT_EQ(ReleaseIdleSessions(), 0u);
    EXPECT_EQ(QZ_FindClientInfo(session->szClientID), session);
    session->StopENC();
    now = now.load() + kSessionIdleLife;
    EXPECT_EQ(ReleaseIdleSessions(), 1u);
    EXPECT_EQ(QZ_FindClientInfo(session->szClientID), nullptr);
    SetSessionClock(nullptr);
}

TEST_F(SessionEngineTest, TheTraceNamesTheEngineThatWasStopped)
{
    TempFolder traces;
    ScopedEnv traceEnv { "VEMBACAST_TRACE_DIR", traces.path() };
    WriteFileText(traces / "Veneta.ini", "[DEBUG]\nPXTRACE=2\nPXTRACE_MASK=0x3FFFFF\n");
    ResetTraceStateForTesting();
    auto session = QZ_AddClientInfo("0000000000000000000000000000000E");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    int pid = session->nEnginePID;
    session->StopENC();
    ResetTraceStateForTesting();

    std::string log;
    for (const std::string& name : ListFolder(traces.path(), FolderEntries::Files)) {
        if (name.starts_with("LogFile["))
            log += ReadFileText(traces / name);
    }
    std::string id = session->szClientID;
    EXPECT_NE(
        log.find(" - engine is Start( segPID:" + std::to_string(pid) + ")"), std::string::npos)
        << log;
    EXPECT_NE(log.find(" - TeminatePorcess (ID:'" + id + "', PID:" + std::to_string(pid) + ","),
        std::string::npos)
        << log;
}

TEST_F(SessionEngineTest, AStartAfterAnEngineDiedUnnoticedLeavesOneEntryOnTheList)
{
    // The watcher looks only after a long while here: nobody else tidies up.
    SetSessionWatcherTiming(Timing(std::chrono::hours(1), 600));
    auto session = QZ_AddClientInfo("0000000000000000000000000000000F");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    int dead = session->nEnginePID;
    ASSERT_EQ(kill(dead, SIGKILL), 0);
    ASSERT_TRUE(WaitFor([&] { return session->Encoder().IsENCRunning() == 0; }));
    EXPECT_EQ(CountEncSessions(), 1u); // still counted: nothing has noticed yet
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    EXPECT_NE(session->nEnginePID, dead);
    EXPECT_EQ(CountEncSessions(), 1u) << "the dead engine still counts against the limit";
    EXPECT_FALSE(RemoveEncSession(dead));
    session->StopENC();
    EXPECT_EQ(CountEncSessions(), 0u);
}

} // namespace
