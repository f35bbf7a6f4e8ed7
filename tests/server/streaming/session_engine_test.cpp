// Sessions driving the real encoder engine: one engine per session, the live limit,
// engine notices through the server's notice queue, the idle watcher and release.

#include "config/settings.h"
#include "config/trace.h"
#include "live_test_support.h"
#include "platform/file_io.h"
#include "server/library/media_samples.h"
#include "server/platform/temp_folder.h"
#include "streaming/command_line.h"
#include "streaming/session_list.h"
#include "streaming/session_watcher.h"
#include "streaming/streaming_context.h"
#include "support/manual_clock.h"
#include "support/notice_gate.h"
#include "support/step_log.h"
#include "support/test_server.h"

#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Step = SessionEngine::Step;

SessionWatcherTiming Timing(std::chrono::milliseconds tick, int idleLimit)
{
    SessionWatcherTiming timing;
    timing.tick = tick;
    timing.idleLimit = idleLimit;
    return timing;
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
        CreateFolderPath(Services());
        m_server.Settings().WriteText(kKeySet, "1");
    }

    std::string Services() const { return m_server.Places().ServicesFolder(); }
    std::string WorkFolder(const ClientInfo& session)
    {
        return m_server.WorkFolders().SessionWorkFolder(session.szClientID);
    }
    std::shared_ptr<ClientInfo> QZ_AddClientInfo(const std::string& id)
    {
        return m_server.Sessions().QZ_AddClientInfo(id);
    }
    size_t CountEncSessions() { return m_server.EncSessions().CountEncSessions(); }
    static int EnginePid(ClientInfo& session) { return session.Encoder().GetEngineProcessId(); }

    LiveLine LineFor(ClientInfo& session, const std::string& file, int pipeNumber)
    {
        std::filesystem::create_directories(WorkFolder(session));
        LiveLine line;
        line.localPath = *s_media / file;
        line.frameRate = 24;
        line.size = { 320, 240 };
        line.servicesFolder = Services();
        line.clientId = session.szClientID;
        line.bandwidth = 1;
        line.pipeNumber = pipeNumber;
        return line;
    }

    // Starts the session's engine on file as the variant playlist request does.
    int Start(ClientInfo& session, const std::string& file)
    {
        const int pipe = session.Encoder().CreateEnginePipe();
        return session.StartENC(MakeLiveCommandLine(LineFor(session, file, pipe)));
    }

    // The line of a run from the beginning of file, for RestartENC.
    SessionEngine::LineBuilder Builder(ClientInfo& session, const std::string& file)
    {
        return [this, &session, file](int pipeNumber, std::vector<std::string>& arguments) {
            arguments = MakeLiveCommandLine(LineFor(session, file, pipeNumber));
            return SessionEngine::Line::Built;
        };
    }

    // The session's engine steps, in order: a stop that a notice or the watcher makes
    // shows up here while it is under way.
    void LogSteps(ClientInfo& session)
    {
        session.Engine().SetStepHook([this](Step step) { m_steps.Add(step); });
    }

    static TempFolder* s_media;
    std::shared_ptr<vembatest::ManualClock> m_clock = std::make_shared<vembatest::ManualClock>();
    vembatest::StepLog<Step> m_steps; // outlives the server, whose sessions report to it
    vembatest::TestDataFolder m_data { "sessionengine" };
    StreamingContext m_server { m_data.Parts(m_clock) };
};
TempFolder* SessionEngineTest::s_media = nullptr;

TEST_F(SessionEngineTest, AnEngineStartsOnceAndStops)
{
    auto session = QZ_AddClientInfo("00000000000000000000000000000001");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    int pid = EnginePid(*session);
    EXPECT_GT(pid, 0);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 1);
    EXPECT_EQ(CountEncSessions(), 1u);
    EXPECT_TRUE(session->Engine().IsOnList());
    EXPECT_EQ(session->Engine().StartCount(), 1);

    EXPECT_EQ(session->StartENC({ "nothing", "-pipename=1" }), 1); // already running: nothing new
    EXPECT_EQ(EnginePid(*session), pid);
    EXPECT_EQ(session->Engine().StartCount(), 1);
    EXPECT_EQ(CountEncSessions(), 1u);

    EXPECT_EQ(session->StopENC(), 1);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
    EXPECT_EQ(EnginePid(*session), 0);
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_FALSE(session->Engine().IsOnList());
    EXPECT_NE(kill(pid, 0), 0); // gone and reaped
}

TEST_F(SessionEngineTest, TheLiveLimitRefusesUntilAnEngineStops)
{
    m_server.Settings().WriteInt(kKeyMaxLiveClient, 1);
    auto session = QZ_AddClientInfo("00000000000000000000000000000002");
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 1);
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 0);
    EXPECT_EQ(QZ_IsLiveClientRoomFor(m_server, *session), 1); // its own engine does not count
    session->StopENC();
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 1);
}

TEST_F(SessionEngineTest, AnEngineErrorEndsPlayThroughTheNoticeQueue)
{
    // The watcher looks only after a long while here: the notice alone acts.
    m_server.Watcher().SetTiming(Timing(std::chrono::hours(1), 600));
    auto session = QZ_AddClientInfo("00000000000000000000000000000003");
    session->SetPlaylist(10);
    session->BeginVariant(1);
    session->VariantStarted();
    session->AnnounceSeek(4);
    LogSteps(*session);
    // The engine opens its input once told to encode, and reports the failure then.
    ASSERT_EQ(Start(*session, "broken.mp4"), 1);
    ASSERT_TRUE(m_steps.WaitFor(Step::Stopping));
    ASSERT_TRUE(m_server.Notices().Drain());
    const PlayState play = session->Play();
    EXPECT_FALSE(play.playing);
    EXPECT_EQ(play.lastSeek, 0);
    EXPECT_EQ(play.maxSegment, 10); // the playlists stay for a new start
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_EQ(EnginePid(*session), 0);
}

TEST_F(SessionEngineTest, AFinishedEngineIsTakenOffTheList)
{
    m_server.Watcher().SetTiming(Timing(std::chrono::hours(1), 600));
    auto session = QZ_AddClientInfo("00000000000000000000000000000004");
    session->SetPlaylist(1);
    session->BeginVariant(1);
    session->VariantStarted();
    LogSteps(*session);
    ASSERT_EQ(Start(*session, "short.mp4"), 1);
    ASSERT_TRUE(m_steps.WaitFor(Step::Stopping));
    ASSERT_TRUE(m_server.Notices().Drain());
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_EQ(EnginePid(*session), 0);
    EXPECT_TRUE(session->IsPlaying()); // completion keeps the play state
    EXPECT_TRUE(std::filesystem::exists(WorkFolder(*session) + "/vemba-1-1.ts"));
}

TEST_F(SessionEngineTest, AnEngineThatDiesWithoutAWordIsTakenOffTheListByTheWatcher)
{
    auto session = QZ_AddClientInfo("0000000000000000000000000000000A");
    LogSteps(*session);
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    ASSERT_EQ(kill(EnginePid(*session), SIGKILL), 0);
    ASSERT_TRUE(m_steps.WaitFor(Step::Stopping));
    // Joining the watcher lets the stop it is making finish.
    m_server.Watcher().Stop();
    ASSERT_TRUE(m_server.Notices().Drain());
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_FALSE(session->Engine().IsOnList());
    EXPECT_EQ(EnginePid(*session), 0);
    EXPECT_EQ(QZ_IsLiveClientRoom(m_server), 1);
}

TEST_F(SessionEngineTest, AnIdleClientsEngineIsStoppedByTheWatcher)
{
    m_server.Watcher().SetTiming(Timing(20ms, 10));
    auto session = QZ_AddClientInfo("00000000000000000000000000000005");
    LogSteps(*session);
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    ASSERT_TRUE(m_steps.WaitFor(Step::Stopping));
    m_server.Watcher().Stop();
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_EQ(session->Play().idleTicks, 0);
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
            watched.ResetIdleTicks();
        if (tick == 2 * kLimit + 10)
            twiceTheLimit.set_value();
    };
    m_server.Watcher().SetTiming(timing);
    auto session = QZ_AddClientInfo("00000000000000000000000000000006");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    ASSERT_EQ(twiceTheLimit.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 1);
    EXPECT_EQ(m_server.Watcher().WatchedEngineCount(), 1u);
    session->StopENC();
    m_server.Watcher().Stop(); // no tick hook runs once the test's counters are gone
}

TEST_F(SessionEngineTest, ANoticeOfAnEarlierRunStopsNothing)
{
    auto session = QZ_AddClientInfo("00000000000000000000000000000007");
    session->SetPlaylist(12);
    session->BeginVariant(1);
    session->VariantStarted();
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    const uint8_t done[24] = {};
    {
        // The first run's completion waits in the queue while a second run starts.
        vembatest::NoticeGate gate(m_server.Notices());
        session->Encoder().HandleEngineMessage(EngineMessage::Complete, done, sizeof done);
        session->StopENC();
        ASSERT_EQ(Start(*session, "long.mp4"), 1);
        ASSERT_TRUE(gate.OpenAndDrain());
    }
    EXPECT_EQ(session->Encoder().IsENCRunning(), 1);
    EXPECT_EQ(CountEncSessions(), 1u);
    EXPECT_TRUE(session->IsPlaying());
    // The same notice of the run that runs now stops it.
    session->Encoder().HandleEngineMessage(EngineMessage::Complete, done, sizeof done);
    ASSERT_TRUE(m_server.Notices().Drain());
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
    EXPECT_EQ(CountEncSessions(), 0u);
}

TEST_F(SessionEngineTest, ReleasingTheListStopsEveryEngine)
{
    auto first = QZ_AddClientInfo("00000000000000000000000000000008");
    auto second = QZ_AddClientInfo("00000000000000000000000000000009");
    ASSERT_EQ(Start(*first, "long.mp4"), 1);
    ASSERT_EQ(Start(*second, "long.mp4"), 1);
    EXPECT_EQ(CountEncSessions(), 2u);
    m_server.Sessions().QZ_FreeClientInfoList();
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_EQ(first->Encoder().IsENCRunning(), 0);
    EXPECT_EQ(second->Encoder().IsENCRunning(), 0);
    EXPECT_TRUE(m_server.Sessions().GetClientInfoList().empty());
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
    int firstPid = EnginePid(*session);
    ASSERT_TRUE(secondLaunched);
    second.join();
    session->Engine().SetStepHook(nullptr);
    EXPECT_EQ(secondResult, LiveStart::Started);

    std::vector<std::pair<char, Step>> expected { { 'A', Step::Stopping }, { 'A', Step::Starting },
        { 'B', Step::Waiting }, { 'B', Step::Stopping }, { 'B', Step::Starting } };
    EXPECT_EQ(log.Steps(), expected);
    EXPECT_GT(firstPid, 0);
    EXPECT_NE(EnginePid(*session), firstPid);
    EXPECT_EQ(CountEncSessions(), 1u);
    EXPECT_EQ(session->Engine().State(), EngineState::Running);
    EXPECT_NE(kill(firstPid, 0), 0); // the first engine was stopped, not left behind
    // The first run's quit is no error of the file: no notice stops the second run.
    ASSERT_TRUE(m_server.Notices().Drain());
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
    EXPECT_EQ(EnginePid(*session), 0);
    EXPECT_EQ(CountEncSessions(), 0u);
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
}

TEST_F(SessionEngineTest, ASessionWhoseEngineRunsIsNeverReleasedAsIdle)
{
    SessionList& sessions = m_server.Sessions();
    auto session = QZ_AddClientInfo("0000000000000000000000000000000D");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    m_clock->Advance(kSessionIdleLife * 2);
    EXPECT_EQ(sessions.ReleaseIdleSessions(), 0u);
    EXPECT_EQ(sessions.QZ_FindClientInfo(session->szClientID), session);
    session->StopENC();
    m_clock->Advance(kSessionIdleLife);
    EXPECT_EQ(sessions.ReleaseIdleSessions(), 1u);
    EXPECT_EQ(sessions.QZ_FindClientInfo(session->szClientID), nullptr);
}

TEST_F(SessionEngineTest, TheTraceNamesTheEngineThatWasStopped)
{
    TempFolder traces;
    ScopedEnv traceEnv { "VEMBACAST_TRACE_DIR", traces.path() };
    WriteFileText(traces / "Veneta.ini", "[DEBUG]\nPXTRACE=2\nPXTRACE_MASK=0x3FFFFF\n");
    ResetTraceStateForTesting();
    auto session = QZ_AddClientInfo("0000000000000000000000000000000E");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    int pid = EnginePid(*session);
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
    m_server.Watcher().SetTiming(Timing(std::chrono::hours(1), 600));
    auto session = QZ_AddClientInfo("0000000000000000000000000000000F");
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    int dead = EnginePid(*session);
    ASSERT_EQ(kill(dead, SIGKILL), 0);
    ASSERT_TRUE(WaitForExit(dead));
    EXPECT_EQ(session->Encoder().IsENCRunning(), 0);
    EXPECT_EQ(CountEncSessions(), 1u); // still counted: nothing has noticed yet
    ASSERT_EQ(Start(*session, "long.mp4"), 1);
    EXPECT_NE(EnginePid(*session), dead);
    EXPECT_EQ(CountEncSessions(), 1u) << "the dead engine no longer counts beside the new one";
    session->StopENC();
    EXPECT_EQ(CountEncSessions(), 0u);
}

} // namespace
