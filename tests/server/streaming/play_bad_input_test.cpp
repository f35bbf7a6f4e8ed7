// Hostile and broken requests to the live-stream handlers: each gets its result
// code, a 404 or no answer, no engine outlives its session, and no worker thread
// stays blocked (the server keeps answering and stops promptly).

#include "config/settings.h"
#include "live_server_fixture.h"
#include "streaming/client_info.h"
#include "streaming/segments.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"
#include "streaming/work_folders.h"
#include "support/manual_clock.h"
#include "support/step_log.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <thread>

namespace {

bool MakeClip30(const std::string& path)
{
    return MakeTestClip(path, 30, 320, 240);
}

class LiveBadInput : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(EnsureSharedMedia("clip30.mp4", MakeClip30)); }
    void SetUp() override
    {
        ASSERT_TRUE(server.Running());
        ASSERT_TRUE(PutMedia(server, "clip30.mp4", "clip.mp4"));
        id = server.Connect();
        ASSERT_EQ(id.size(), 32u);
    }

    // The server still answers at once: no worker is stuck.
    void ExpectResponsive()
    {
        HttpReply reply = server.Get("/connect", std::chrono::seconds(5));
        EXPECT_EQ(reply.status, 200);
        EXPECT_LT(reply.seconds, 2.0);
    }

    std::shared_ptr<ClientInfo> Session()
    {
        return server.Server().Sessions().QZ_FindClientInfo(id);
    }
    size_t CountEncSessions() { return server.Server().EncSessions().CountEncSessions(); }

    LoopbackServer server;
    std::string id;
};

} // namespace

TEST_F(LiveBadInput, PlayRefusesMissingAndAbsurdValues)
{
    EXPECT_EQ(server.Play(id, "clip.mp4", "").result, -11);
    EXPECT_EQ(server.Play(id, "clip.mp4", "00:00:30", "480", "320", "").result, -11);
    EXPECT_EQ(server.Play(id, "clip.mp4", "-1:00:00").result, -11);
    EXPECT_EQ(server.Play(id, "clip.mp4", "99999:99:99").result, -11);
    EXPECT_EQ(server.Play(id, "clip.mp4", "00:00:30", "0", "0").result, -11);
    EXPECT_EQ(server.Play(id, "clip.mp4", "00:00:30", "100000", "1").result, -11);
    EXPECT_EQ(server.Play(id, "clip.mp4", "00:00:30", "abc", "320").result, -11);
    EXPECT_EQ(server.Play("0123456789ABCDEF0123456789ABCDEF", "clip.mp4", "00:00:30").result, -14);
    EXPECT_EQ(server.Play(id, "missing.mp4", "00:00:30").result, -12);
    EXPECT_EQ(server.Play(id, "../data/VembaCast.ini", "00:00:30").result, -12);
    // Nothing was written for the refused requests.
    EXPECT_FALSE(std::filesystem::exists(server.WorkFolder(id)));
}

namespace {

int ListedSegments(const std::string& playlistPath)
{
    std::ifstream in(playlistPath);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.find(".ts") != std::string::npos ? 1 : 0;
    return count;
}

} // namespace

TEST_F(LiveBadInput, APlayTimeLongerThanTheFileListsOnlyWhatItsDurationNeeds)
{
    ASSERT_EQ(server.Play(id, "clip.mp4", "24:00:00").result, 0);
    const std::string folder = server.WorkFolder(id);
    EXPECT_EQ(ListedSegments(folder + "/movie1.m3u8"), 6); // 30 s in 5 s segments
    EXPECT_EQ(ListedSegments(folder + "/movie6.m3u8"), 6);
    uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        bytes += entry.file_size();
    EXPECT_LT(bytes, 16u * 1024u);
    // Remembered for clean-up before any engine ran.
    std::vector<std::string> remembered = server.Server().WorkFolders().RememberedWorkFolders();
    EXPECT_NE(std::find(remembered.begin(), remembered.end(), folder), remembered.end());
    EXPECT_EQ(CountChildEngines(), 0);
    // A shorter play time keeps its own count.
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:12").result, 0);
    EXPECT_EQ(ListedSegments(folder + "/movie1.m3u8"), 3);
}

TEST_F(LiveBadInput, APlayTimeWithFractionalSecondsPlays)
{
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:07.5").result, 0);
    EXPECT_EQ(ListedSegments(server.WorkFolder(id) + "/movie1.m3u8"), 2);
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:12.500").result, 0);
    EXPECT_EQ(ListedSegments(server.WorkFolder(id) + "/movie1.m3u8"), 3);
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:01:02.500").result, 0);
    EXPECT_EQ(ListedSegments(server.WorkFolder(id) + "/movie1.m3u8"), 6);
    EXPECT_EQ(server.Play(id, "clip.mp4", "0:0:7.x").result, -11);
}

TEST_F(LiveBadInput, ALinkOutOfTheShareIsNotPlayed)
{
    namespace fs = std::filesystem;
    const std::string outside = server.MediaFolder() + "/../outside.mp4";
    fs::copy_file(
        server.MediaFolder() + "/clip.mp4", outside, fs::copy_options::overwrite_existing);
    fs::create_symlink(outside, server.MediaFolder() + "/leaving.mp4");
    EXPECT_EQ(server.Play(id, "leaving.mp4", "00:00:30").result, -12);
    EXPECT_FALSE(fs::exists(server.WorkFolder(id)));
    // A link inside the share plays.
    fs::create_symlink(server.MediaFolder() + "/clip.mp4", server.MediaFolder() + "/staying.mp4");
    EXPECT_EQ(server.Play(id, "staying.mp4", "00:00:30").result, 0);

    // A file swapped for a link after "/play" never reaches an engine.
    fs::copy_file(server.MediaFolder() + "/clip.mp4", server.MediaFolder() + "/swapped.mp4");
    ASSERT_EQ(server.Play(id, "swapped.mp4", "00:00:30").result, 0);
    fs::remove(server.MediaFolder() + "/swapped.mp4");
    fs::create_symlink(outside, server.MediaFolder() + "/swapped.mp4");
    EXPECT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    EXPECT_EQ(CountChildEngines(), 0);
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-1.ts", std::chrono::seconds(20)).status, 404);
    ExpectResponsive();
}

TEST_F(LiveBadInput, SegmentRequestsThatCanNeverBeServed)
{
    // Before any playlist: not playing.
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-1.ts").status, 404);
    EXPECT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 404);
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    for (const char* name : { "vemba-1-x.ts", "vemba-1-0.ts", "vemba-1--5.ts",
             "vemba-1-99999999999.ts", "vemba-1-999999999.ts", "vemba-1-7.ts.part",
             "../../data/VembaCast.ini", "movie1.m3u8" }) {
        EXPECT_EQ(server.Get("/file/" + id + "/" + name).status, 404) << name;
    }
    // An id that no session has: closed without an answer.
    EXPECT_EQ(server.Get("/file/FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF/vemba-1-1.ts").status, 0);
    // "/list/" serves playlists only, and only from a work folder.
    EXPECT_EQ(server.Get("/list/" + id + "/vembacast_temp.ass").status, 404);
    EXPECT_EQ(server.Get("/list/" + id).status, 404);
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-1.ts").status, 200);
    // "/pid" only traces; it answers nothing, whatever it is given.
    EXPECT_EQ(server.Get("/pid?path=99999999999999999999&id=" + id).status, 0);
    EXPECT_EQ(server.Get("/pid").status, 0);
    ExpectResponsive();
}

TEST_F(LiveBadInput, AFileThatIsNotMediaNeverStartsAnEngine)
{
    std::ofstream(server.MediaFolder() + "/notes.avi") << "this is not a video\n";
    ASSERT_EQ(server.Play(id, "notes.avi", "00:01:00").result, 0);
    EXPECT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    EXPECT_EQ(CountChildEngines(), 0);
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-1.ts", std::chrono::seconds(20)).status, 404);
    ExpectResponsive();
}

TEST_F(LiveBadInput, TwoClientsHammeringSeeksOnOneSession)
{
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    std::atomic<int> served = 0;
    std::atomic<int> other = 0;
    auto hammer = [&](unsigned seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < 6; ++i) {
            int n = static_cast<int>(random() % 6) + 1;
            HttpReply reply = server.Get("/file/" + id + "/vemba-1-" + std::to_string(n) + ".ts");
            if (reply.status == 200)
                ++served;
            else if (reply.status != 0)
                ++other;
        }
    };
    std::thread a(hammer, 1);
    std::thread b(hammer, 2);
    a.join();
    b.join();
    EXPECT_GT(served.load(), 0);
    EXPECT_EQ(other.load(), 0);
    EXPECT_LE(CountChildEngines(), 1);
    // The session is left consistent: the stream plays on in sequence after a seek.
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-4.ts").status, 200);
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-5.ts").status, 200);
    ExpectResponsive();
    EXPECT_EQ(server.Get("/playEnd?id=" + id).status, 200);
    EXPECT_EQ(CountChildEngines(), 0);
}

namespace {

// What no session's play state may ever be, seen at every step of the seeks and of the
// session's engine: a stream that plays without a variant or a playlist, or a seek
// announced for no segment.
class PlayStateWatch {
public:
    void Look(const ClientInfo& session)
    {
        const PlayState play = session.Play();
        const bool whole = !(play.playing && (play.variant < 1 || play.maxSegment < 0))
            && !(play.seekPending && play.lastSeek < 1);
        std::lock_guard lock(m_lock);
        ++m_looks;
        if (!whole && m_broken.empty())
            m_broken = session.Dump();
    }
    std::string Broken()
    {
        std::lock_guard lock(m_lock);
        return m_broken;
    }
    int Looks()
    {
        std::lock_guard lock(m_lock);
        return m_looks;
    }

private:
    std::mutex m_lock;
    std::string m_broken; // guarded by m_lock: the first broken state seen
    int m_looks = 0; // guarded by m_lock
};

} // namespace

TEST_F(LiveBadInput, SeeksSegmentsAndPlayEndsAtOnceLeaveAWholePlayState)
{
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    std::shared_ptr<ClientInfo> session = Session();
    ASSERT_TRUE(session);
    PlayStateWatch watch;
    session->Engine().SetStepHook([&](SessionEngine::Step) { watch.Look(*session); });
    SegmentServingLimits limits;
    limits.seekHook = [&](SegmentServingLimits::SeekStep, int) { watch.Look(*session); };
    server.Server().SetSegmentServingLimits(limits);
    // The hooks go before the watch does, whichever way the test ends.
    struct Unhook {
        LoopbackServer& server;
        ClientInfo& session;
        ~Unhook()
        {
            session.Engine().SetStepHook(nullptr);
            server.Server().SetSegmentServingLimits(SegmentServingLimits());
        }
    } unhook { server, *session };

    auto segment
        = [&](int n) { server.Get("/file/" + id + "/vemba-1-" + std::to_string(n) + ".ts"); };
    std::thread inSequence([&] {
        for (int n = 1; n <= 6; ++n)
            segment(n);
    });
    std::thread seeks([&] {
        std::mt19937 random(7);
        for (int i = 0; i < 6; ++i)
            segment(static_cast<int>(random() % 6) + 1);
    });
    std::thread playEnds([&] {
        for (int i = 0; i < 3; ++i) {
            server.Get("/playEnd?id=" + id);
            server.Play(id, "clip.mp4", "00:00:30");
            server.Get("/list/" + id + "/movie1.m3u8");
        }
    });
    inSequence.join();
    seeks.join();
    playEnds.join();
    watch.Look(*session);
    EXPECT_EQ(watch.Broken(), "");
    EXPECT_GT(watch.Looks(), 1);

    // However the requests met, "/playEnd" leaves the session idle with no engine.
    EXPECT_EQ(server.Get("/playEnd?id=" + id).status, 200);
    const PlayState idle = session->Play();
    EXPECT_FALSE(idle.playing);
    EXPECT_EQ(idle.variant, -1);
    EXPECT_EQ(idle.maxSegment, -1);
    EXPECT_FALSE(idle.seekTurnTaken);
    EXPECT_EQ(CountChildEngines(), 0);
    EXPECT_EQ(CountEncSessions(), 0u);
    ExpectResponsive();
}

TEST_F(LiveBadInput, ASeekThatNeverGetsItsTurnEndsWithoutAnAnswerAndLeavesTheSessionUsable)
{
    vembatest::ManualClock clock;
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    ASSERT_EQ(server.Get("/file/" + id + "/vemba-1-1.ts").status, 200);
    std::shared_ptr<ClientInfo> session = Session();
    ASSERT_TRUE(session);
    // Another seek holds the turn and does not give it back.
    ASSERT_TRUE(session->TakeSeekTurn(0, std::chrono::minutes(1), clock));
    vembatest::StepLog<SegmentServingLimits::SeekStep> steps;
    SegmentServingLimits limits;
    limits.seekTurnLimit = std::chrono::minutes(3);
    limits.clock = &clock;
    limits.seekHook = [&](SegmentServingLimits::SeekStep step, int) { steps.Add(step); };
    server.Server().SetSegmentServingLimits(limits);

    const size_t looks = clock.Looks();
    std::future<HttpReply> seek = std::async(
        std::launch::async, [&] { return server.Get("/file/" + id + "/vemba-1-5.ts"); });
    // Should a step below fail, the waiting seek is let go before the future waits for it.
    struct LetGo {
        vembatest::ManualClock& clock;
        ClientInfo& session;
        ~LetGo()
        {
            clock.Advance(std::chrono::hours(1));
            session.ReleaseSeekTurn();
        }
    } letGo { clock, *session };
    // The seek has set its deadline and waits for the turn: its time runs out now.
    ASSERT_TRUE(steps.WaitFor(SegmentServingLimits::SeekStep::Waiting));
    ASSERT_TRUE(clock.WaitForLooks(looks + 2));
    clock.Advance(std::chrono::minutes(3));
    HttpReply stuck = seek.get();
    EXPECT_EQ(stuck.status, 0);
    EXPECT_FALSE(session->Play().seekPending); // no waiting seek is left behind
    ExpectResponsive();

    session->ReleaseSeekTurn();
    server.Server().SetSegmentServingLimits(SegmentServingLimits());
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-5.ts").status, 200);
}

TEST_F(LiveBadInput, AVariantPlaylistFetchedTwiceLeavesOneWorkingEngine)
{
    using Step = SessionEngine::Step;
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    std::shared_ptr<ClientInfo> session = Session();
    ASSERT_TRUE(session);
    vembatest::StepLog<Step> steps;
    std::future<HttpReply> retry;
    std::atomic<bool> retried = false;
    session->Engine().SetStepHook([&](Step step) {
        steps.Add(step);
        // The first request's engine is starting: the client asks again now.
        if (step == Step::Starting && !retried.exchange(true)) {
            retry = std::async(
                std::launch::async, [&] { return server.Get("/list/" + id + "/movie1.m3u8"); });
            EXPECT_TRUE(steps.WaitFor(Step::Waiting));
        }
    });
    EXPECT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    ASSERT_TRUE(retried);
    EXPECT_EQ(retry.get().status, 200);
    session->Engine().SetStepHook(nullptr);
    // The retry restarted the engine after the first start, not in the middle of it:
    // the stream plays and no engine error ended it.
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-1.ts").status, 200);
    EXPECT_TRUE(session->IsPlaying());
    EXPECT_LE(CountChildEngines(), 1);
    EXPECT_EQ(CountEncSessions(), session->Encoder().GetEngineProcessId() != 0 ? 1u : 0u);
}

TEST_F(LiveBadInput, PlayEndAnswersWithACompleteEmptyAnswer)
{
    for (const std::string& target :
        { "/playEnd?id=" + id, std::string("/playEnd?id=FFFF"), std::string("/playEnd") }) {
        HttpReply reply = server.Get(target);
        EXPECT_EQ(reply.status, 200) << target;
        EXPECT_EQ(reply.headers["content-length"], "0") << target;
        EXPECT_EQ(reply.body, "") << target;
    }
}

TEST_F(LiveBadInput, AClientAtTheLiveLimitMaySwitchFiles)
{
    server.Server().Settings().WriteInt(kKeyMaxLiveClient, 1);
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    ASSERT_EQ(CountEncSessions(), 1u);
    // Its own engine ends with the new play, so it does not stand in the way.
    EXPECT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    // Another client is still refused while this one streams.
    std::string other = server.Connect();
    EXPECT_EQ(server.Play(other, "clip.mp4", "00:00:30").result, -16);
}

TEST_F(LiveBadInput, ASegmentOfAVariantWithoutAnEncodingIsRefusedAndNotCounted)
{
    ASSERT_EQ(server.Play(id, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(server.Get("/list/" + id + "/movie1.m3u8").status, 200);
    std::shared_ptr<ClientInfo> session = Session();
    ASSERT_TRUE(session);
    // 5 and 6 have playlists but no encoding; 7 and up are a browser's.
    for (int variant : { 5, 6, 7, 10, 99 }) {
        EXPECT_EQ(
            server.Get("/file/" + id + "/vemba-" + std::to_string(variant) + "-1.ts").status, 404)
            << variant;
    }
    // Nothing was served, so the stream has not moved on.
    EXPECT_EQ(session->Play().lastServed, 0);
    EXPECT_EQ(session->Play().lastVariant, -1);
    EXPECT_EQ(session->Play().variant, 1);
    EXPECT_EQ(server.Get("/file/" + id + "/vemba-1-1.ts").status, 200);
    EXPECT_EQ(session->Play().lastServed, 1);
}
