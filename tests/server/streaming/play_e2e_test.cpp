// The live stream end to end: a client connects, plays, seeks, changes variant and
// ends play over real HTTP, with the real engine making the segments.

#include "live_server_fixture.h"
#include "streaming/client_info.h"
#include "streaming/live_engine.h"
#include "streaming/segments.h"
#include "streaming/session_list.h"
#include "streaming/streaming_context.h"
#include "support/step_log.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

bool MakeClip12(const std::string& path)
{
    return MakeTestClip(path, 12, 320, 240);
}
bool MakeClip30(const std::string& path)
{
    return MakeTestClip(path, 30, 320, 240);
}
bool MakePortrait(const std::string& path)
{
    return MakeTestClip(path, 6, 240, 320);
}

// The seek steps reported by the segment handler's hook.
class SeekSteps {
public:
    using Step = SegmentServingLimits::SeekStep;
    void Add(Step step, int segment) { m_log.Add({ step, segment }); }
    bool WaitFor(Step step, int segment) { return m_log.WaitFor({ step, segment }); }

private:
    vembatest::StepLog<std::pair<Step, int>> m_log;
};

// A client in the middle of a stream: connected, played, variant playlist fetched.
struct Stream {
    std::string id;
    std::string master;
    std::string variantPath;
};

class LivePlay : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(EnsureSharedMedia("clip12.mp4", MakeClip12));
        ASSERT_TRUE(EnsureSharedMedia("clip30.mp4", MakeClip30));
    }

    void SetUp() override { StartServer(); }

    void StartServer(const SettingList& settings = SettingList())
    {
        holder.reset();
        holder.emplace(settings);
        ASSERT_TRUE(holder->Running());
    }

    // Connects, plays file and fetches the master and the first variant playlist.
    Stream Open(const std::string& file, const std::string& playTime)
    {
        Stream stream;
        stream.id = server().Connect();
        EXPECT_EQ(stream.id.size(), 32u);
        LoopbackServer::PlayAnswer play = server().Play(stream.id, file, playTime);
        EXPECT_EQ(play.result, 0) << play.message;
        stream.master = play.message;
        HttpReply master = server().Get(LoopbackServer::PathOf(play.message));
        EXPECT_EQ(master.status, 200);
        size_t url = master.body.find("http://");
        EXPECT_NE(url, std::string::npos) << master.body;
        stream.variantPath
            = LoopbackServer::PathOf(master.body.substr(url, master.body.find("\r\n", url) - url));
        HttpReply variant = server().Get(stream.variantPath);
        EXPECT_EQ(variant.status, 200);
        EXPECT_NE(variant.body.find("#EXT-X-ENDLIST"), std::string::npos);
        return stream;
    }

    HttpReply Segment(const Stream& stream, int variant, int n)
    {
        return server().Get("/file/" + stream.id + "/vemba-" + std::to_string(variant) + "-"
            + std::to_string(n) + ".ts");
    }

    std::string Save(const HttpReply& reply, const std::string& name)
    {
        std::string path = server().MediaFolder() + "/../" + name;
        std::ofstream(path, std::ios::binary) << reply.body;
        return path;
    }

    LoopbackServer& server() { return *holder; }
    std::optional<LoopbackServer> holder;
};

} // namespace

TEST_F(LivePlay, WholeFilePlayedInSequenceJoinsIntoTheFile)
{
    ASSERT_TRUE(PutMedia(server(), "clip12.mp4", "clip.mp4"));
    Stream stream = Open("clip.mp4", "00:00:12");
    EXPECT_NE(stream.master.find("/list/" + stream.id + "/files.m3u8"), std::string::npos);
    std::string joined;
    for (int n = 1; n <= 3; ++n) {
        HttpReply segment = Segment(stream, 1, n);
        ASSERT_EQ(segment.status, 200) << n;
        EXPECT_EQ(segment.headers["content-type"], "video/mp2t");
        joined += segment.body;
    }
    HttpReply whole;
    whole.body = joined;
    std::string path = Save(whole, "joined.ts");
    MediaFacts facts = ProbeMedia(path);
    EXPECT_EQ(facts.width, 320);
    EXPECT_EQ(facts.height, 240);
    EXPECT_NEAR(facts.duration, 12.0, 0.3);
    // 24 fps throughout and no hole where the segments meet.
    EXPECT_NEAR(facts.videoFrames, 12 * 24, 3);
    EXPECT_NEAR(facts.lastVideoPts - facts.firstVideoPts, 12.0 - 1.0 / 24, 0.1);
}

TEST_F(LivePlay, NamesWithBackslashesQuotesAndNewlinesReachTheEngineWhole)
{
    // Each name once broke the engine's arguments: a backslash before the closing
    // quote swallowed it, a quote ended the word.
    for (const std::string name :
        { "ends in a backslash\\", "say \"hi\\\".mp4", "two\nlines\\\\", "\\\"\\" }) {
        ASSERT_TRUE(PutMedia(server(), "clip12.mp4", name)) << name;
        Stream stream = Open(name, "00:00:12");
        HttpReply segment = Segment(stream, 1, 1);
        ASSERT_EQ(segment.status, 200) << name;
        MediaFacts facts = ProbeMedia(Save(segment, "segment.ts"));
        EXPECT_EQ(facts.width, 320) << name;
        EXPECT_NEAR(facts.duration, 5.0, 0.3) << name;
    }
}

namespace {

// Kills the session's engine (if it has not finished its file already) and waits
// until the server sees it gone; then removes the segments from first on, as if the
// engine had died before making them.
void KillEngineBefore(LoopbackServer& server, ClientInfo& session, int first)
{
    if (const int pid = session.Encoder().GetEngineProcessId(); pid > 0) {
        kill(pid, SIGKILL);
        ASSERT_TRUE(WaitForExit(pid));
    }
    ASSERT_FALSE(IsLiveEngineRunning(session));
    for (int n = first; n <= 6; ++n)
        std::filesystem::remove(
            server.WorkFolder(session.szClientID) + "/vemba-1-" + std::to_string(n) + ".ts");
}

} // namespace

TEST_F(LivePlay, AStreamOutlivesItsEngineOnceAtEachSegment)
{
    ASSERT_TRUE(PutMedia(server(), "clip30.mp4", "clip.mp4"));
    Stream stream = Open("clip.mp4", "00:00:30");
    ASSERT_EQ(Segment(stream, 1, 1).status, 200);
    std::shared_ptr<ClientInfo> session = server().Server().Sessions().QZ_FindClientInfo(stream.id);
    ASSERT_TRUE(session);
    const int firstEngine = session->Encoder().GetEngineProcessId();
    ASSERT_GT(firstEngine, 0);
    KillEngineBefore(server(), *session, 4);
    // What the dead engine made is served; the first segment it never made starts
    // a new engine there.
    EXPECT_EQ(Segment(stream, 1, 2).status, 200);
    EXPECT_EQ(Segment(stream, 1, 3).status, 200);
    HttpReply revived = Segment(stream, 1, 4);
    ASSERT_EQ(revived.status, 200);
    EXPECT_NEAR(ProbeMedia(Save(revived, "revived.ts")).duration, 5.0, 0.3);
    EXPECT_NE(session->Encoder().GetEngineProcessId(), firstEngine);

    // The file turns unplayable and the engine dies again: the restart at segment 5
    // cannot make it, and the second death there ends play as an engine error does.
    // A new file under the name: the clip is a hard link to the shared test media.
    std::filesystem::remove(server().MediaFolder() + "/clip.mp4");
    std::ofstream(server().MediaFolder() + "/clip.mp4") << "not a video";
    KillEngineBefore(server(), *session, 5);
    EXPECT_EQ(Segment(stream, 1, 5).status, 0); // the restart gave up: no answer
    EXPECT_EQ(Segment(stream, 1, 5).status, 404);
    EXPECT_FALSE(session->IsPlaying());
    EXPECT_EQ(Segment(stream, 1, 6).status, 404);
    EXPECT_EQ(CountChildEngines(), 0);
}

TEST_F(LivePlay, ANewPlayNeverServesTheSegmentsOfTheFileBefore)
{
    ASSERT_TRUE(EnsureSharedMedia(
        "wide12.mp4", [](const std::string& p) { return MakeTestClip(p, 12, 640, 360); }));
    ASSERT_TRUE(PutMedia(server(), "clip12.mp4", "small.mp4"));
    ASSERT_TRUE(PutMedia(server(), "wide12.mp4", "wide.mp4"));
    Stream stream = Open("small.mp4", "00:00:12");
    for (int n = 1; n <= 3; ++n)
        ASSERT_EQ(Segment(stream, 1, n).status, 200);
    // The same client plays another file of the same length.
    LoopbackServer::PlayAnswer again = server().Play(stream.id, "wide.mp4", "00:00:12");
    ASSERT_EQ(again.result, 0);
    ASSERT_EQ(server().Get(stream.variantPath).status, 200);
    HttpReply first = Segment(stream, 1, 1);
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(ProbeMedia(Save(first, "wide1.ts")).width, 480);
}

TEST_F(LivePlay, SeeksForwardAndBackStayOnOneTimeline)
{
    ASSERT_TRUE(PutMedia(server(), "clip30.mp4", "clip.mp4"));
    Stream stream = Open("clip.mp4", "00:00:30");
    HttpReply first = Segment(stream, 1, 1);
    ASSERT_EQ(first.status, 200);
    HttpReply forward = Segment(stream, 1, 5); // a seek: the engine restarts at 20 s
    ASSERT_EQ(forward.status, 200);
    HttpReply next = Segment(stream, 1, 6); // in sequence after the seek
    ASSERT_EQ(next.status, 200);
    HttpReply back = Segment(stream, 1, 2); // a seek back
    ASSERT_EQ(back.status, 200);

    double start1 = ProbeMedia(Save(first, "s1.ts")).firstVideoPts;
    double start5 = ProbeMedia(Save(forward, "s5.ts")).firstVideoPts;
    double start6 = ProbeMedia(Save(next, "s6.ts")).firstVideoPts;
    double start2 = ProbeMedia(Save(back, "s2.ts")).firstVideoPts;
    EXPECT_NEAR(start5 - start1, 20.0, 0.1);
    EXPECT_NEAR(start6 - start1, 25.0, 0.1);
    EXPECT_NEAR(start2 - start1, 5.0, 0.1);
}

TEST_F(LivePlay, OfTwoQuickSeeksTheFirstGivesUpAndTheSecondIsServed)
{
    using Step = SegmentServingLimits::SeekStep;
    ASSERT_TRUE(PutMedia(server(), "clip30.mp4", "clip.mp4"));
    Stream stream = Open("clip.mp4", "00:00:30");
    ASSERT_EQ(Segment(stream, 1, 1).status, 200);
    SeekSteps steps;
    std::future<HttpReply> newer;
    SegmentServingLimits limits;
    limits.seekHook = [&](Step step, int segment) {
        steps.Add(step, segment);
        // The older seek has its turn and is about to restart the engine: the newer
        // one comes in now.
        if (step == Step::Restarting && segment == 3) {
            newer = std::async(std::launch::async, [&] { return Segment(stream, 1, 5); });
            EXPECT_TRUE(steps.WaitFor(Step::Waiting, 5));
        }
    };
    server().Server().SetSegmentServingLimits(limits);
    HttpReply overtaken = Segment(stream, 1, 3);
    ASSERT_TRUE(steps.WaitFor(Step::Restarting, 3));
    ASSERT_TRUE(newer.valid());
    HttpReply served = newer.get();
    server().Server().SetSegmentServingLimits(SegmentServingLimits()); // the hook's captures go
    EXPECT_EQ(served.status, 200);
    EXPECT_EQ(overtaken.status, 0) << "the overtaken seek ends without an answer";
    EXPECT_EQ(Segment(stream, 1, 6).status, 200); // the stream goes on after the newer seek
}

TEST_F(LivePlay, VariantChangeRestartsTheEngineForTheNewVariant)
{
    StartServer({ { "FixedBandwidth", "0" } });
    LoopbackServer& floating = *holder;
    ASSERT_TRUE(PutMedia(floating, "clip30.mp4", "clip.mp4"));
    std::string id = floating.Connect();
    auto play = floating.Play(id, "clip.mp4", "00:00:30");
    ASSERT_EQ(play.result, 0);
    HttpReply master = floating.Get(LoopbackServer::PathOf(play.message));
    EXPECT_NE(master.body.find("BANDWIDTH=64000"), std::string::npos) << master.body;
    ASSERT_EQ(floating.Get("/list/" + id + "/movie1.m3u8").status, 200);
    ASSERT_EQ(floating.Get("/file/" + id + "/vemba-1-1.ts").status, 200);
    ASSERT_EQ(floating.Get("/list/" + id + "/movie3.m3u8").status, 200);
    HttpReply low = floating.Get("/file/" + id + "/vemba-3-2.ts");
    ASSERT_EQ(low.status, 200);
    EXPECT_TRUE(std::filesystem::exists(floating.WorkFolder(id) + "/vemba-3-2.ts"));
    std::string path = floating.MediaFolder() + "/../low.ts";
    std::ofstream(path, std::ios::binary) << low.body;
    EXPECT_EQ(ProbeMedia(path).width, 320);
}

TEST_F(LivePlay, PortraitVideoIsTurnedToLandscape)
{
    ASSERT_TRUE(EnsureSharedMedia("portrait.mp4", MakePortrait));
    ASSERT_TRUE(PutMedia(server(), "portrait.mp4", "portrait.mp4"));
    Stream stream = Open("portrait.mp4", "00:00:06");
    HttpReply segment = Segment(stream, 1, 1);
    ASSERT_EQ(segment.status, 200);
    MediaFacts facts = ProbeMedia(Save(segment, "portrait.ts"));
    EXPECT_EQ(facts.width, 320);
    EXPECT_EQ(facts.height, 240);
}

TEST_F(LivePlay, SamiBesideTheVideoIsBurntIntoThePicture)
{
    ASSERT_TRUE(EnsureSharedMedia(
        "flat.mp4", [](const std::string& p) { return MakeFlatClip(p, 6, 320, 240); }));
    ASSERT_TRUE(PutMedia(server(), "flat.mp4", "plain.mp4"));
    ASSERT_TRUE(PutMedia(server(), "flat.mp4", "titled.mp4"));
    WriteSamiFile(server().MediaFolder() + "/titled.smi", 0, 6000, "자막 SUBTITLE 자막");

    Stream plain = Open("plain.mp4", "00:00:06");
    HttpReply plainSegment = Segment(plain, 1, 1);
    Stream titled = Open("titled.mp4", "00:00:06");
    HttpReply titledSegment = Segment(titled, 1, 1);
    ASSERT_EQ(plainSegment.status, 200);
    ASSERT_EQ(titledSegment.status, 200);
    auto without = GreyFrameAt(Save(plainSegment, "plain.ts"), 2.0, 160, 120);
    auto with = GreyFrameAt(Save(titledSegment, "titled.ts"), 2.0, 160, 120);
    ASSERT_FALSE(without.empty());
    // The flat picture is the same grey everywhere; burnt-in text changes the bottom
    // band, where subtitles sit.
    auto bottom = [](const std::vector<unsigned char>& grey) {
        return std::vector<unsigned char>(grey.begin() + 160 * 72, grey.end());
    };
    ASSERT_EQ(with.size(), without.size());
    EXPECT_GT(MeanDifference(bottom(without), bottom(with)), 2.0);
    // Two plain encodes of one source hardly differ: the difference is the text.
    Stream again = Open("plain.mp4", "00:00:06");
    auto repeat = GreyFrameAt(Save(Segment(again, 1, 1), "again.ts"), 2.0, 160, 120);
    ASSERT_EQ(repeat.size(), without.size());
    EXPECT_LT(MeanDifference(bottom(without), bottom(repeat)), 0.5);
}

TEST_F(LivePlay, TheLiveStreamLimitRefusesAndReadmits)
{
    StartServer({ { "MaxLIveClient", "1" } });
    LoopbackServer& limited = *holder;
    ASSERT_TRUE(PutMedia(limited, "clip30.mp4", "clip.mp4"));
    std::string first = limited.Connect();
    std::string second = limited.Connect();
    ASSERT_EQ(limited.Play(first, "clip.mp4", "00:00:30").result, 0);
    ASSERT_EQ(limited.Get("/list/" + first + "/movie1.m3u8").status, 200);
    EXPECT_EQ(limited.Play(second, "clip.mp4", "00:00:30").result, -16);
    EXPECT_EQ(limited.Get("/playEnd?id=" + first).status, 200);
    EXPECT_EQ(limited.Play(second, "clip.mp4", "00:00:30").result, 0);
}

TEST_F(LivePlay, PlayEndStopsTheEngineAndRemovesTheWorkFolder)
{
    ASSERT_TRUE(PutMedia(server(), "clip30.mp4", "clip.mp4"));
    Stream stream = Open("clip.mp4", "00:00:30");
    ASSERT_EQ(Segment(stream, 1, 1).status, 200);
    EXPECT_EQ(CountChildEngines(), 1);
    HttpReply end = server().Get("/playEnd?id=" + stream.id);
    EXPECT_EQ(end.status, 200);
    EXPECT_EQ(end.body, "");
    EXPECT_EQ(CountChildEngines(), 0);
    EXPECT_FALSE(std::filesystem::exists(server().WorkFolder(stream.id)));
    EXPECT_EQ(Segment(stream, 1, 2).status, 404); // no longer playing
    EXPECT_EQ(server().Get("/playEnd?id=00000000000000000000000000000000").status, 200);
}

TEST_F(LivePlay, ServerStopEndsEveryEngineAndRemovesTheWorkFolders)
{
    ASSERT_TRUE(PutMedia(server(), "clip30.mp4", "clip.mp4"));
    Stream one = Open("clip.mp4", "00:00:30");
    Stream two = Open("clip.mp4", "00:00:30");
    ASSERT_EQ(Segment(one, 1, 1).status, 200);
    // A request still waiting when the server stops must not hold the stop up.
    SeekSteps steps;
    SegmentServingLimits limits;
    limits.seekHook
        = [&](SegmentServingLimits::SeekStep step, int segment) { steps.Add(step, segment); };
    server().Server().SetSegmentServingLimits(limits);
    auto waiting = std::async(std::launch::async, [&] { return Segment(two, 1, 5); });
    ASSERT_TRUE(steps.WaitFor(SegmentServingLimits::SeekStep::Waiting, 5));
    EXPECT_GE(CountChildEngines(), 1); // the seek may be between its stop and its start
    EXPECT_TRUE(server().Stop());
    waiting.get();
    server().Server().SetSegmentServingLimits(SegmentServingLimits()); // the hook's captures go
    EXPECT_EQ(CountChildEngines(), 0);
    EXPECT_FALSE(std::filesystem::exists(server().WorkFolder(one.id)));
    EXPECT_FALSE(std::filesystem::exists(server().WorkFolder(two.id)));
}

TEST_F(LivePlay, FfmpegPlaysTheMasterPlaylistToTheEnd)
{
    ASSERT_TRUE(PutMedia(server(), "clip12.mp4", "clip.mp4"));
    std::string id = server().Connect();
    auto play = server().Play(id, "clip.mp4", "00:00:12");
    ASSERT_EQ(play.result, 0);
    std::string output = server().MediaFolder() + "/../played.ts";
    ASSERT_TRUE(RunTool("ffmpeg -nostdin -y -loglevel error -i " + ShellQuote(play.message)
        + " -c copy " + ShellQuote(output)));
    MediaFacts facts = ProbeMedia(output);
    EXPECT_NEAR(facts.duration, 12.0, 0.3);
    EXPECT_EQ(facts.width, 320);
    EXPECT_NEAR(facts.videoFrames, 12 * 24, 3);
}

TEST_F(LivePlay, FfmpegGetsItsSegmentsFromAMasterOfEveryVariant)
{
    // The tool fetches every variant playlist, then reads the first segments of
    // each: a segment of another variant moves the stream there rather than 404.
    StartServer({ { "FixedBandwidth", "0" } });
    ASSERT_TRUE(PutMedia(server(), "clip12.mp4", "clip.mp4"));
    std::string id = server().Connect();
    auto play = server().Play(id, "clip.mp4", "00:00:12");
    ASSERT_EQ(play.result, 0);
    HttpReply master = server().Get(LoopbackServer::PathOf(play.message));
    ASSERT_NE(master.body.find("movie4.m3u8"), std::string::npos) << master.body;
    std::string output = server().MediaFolder() + "/../all variants.ts";
    ASSERT_TRUE(RunTool("ffmpeg -nostdin -y -loglevel error -i " + ShellQuote(play.message)
        + " -c copy " + ShellQuote(output)));
    MediaFacts facts = ProbeMedia(output);
    EXPECT_NEAR(facts.duration, 12.0, 0.3);
    EXPECT_NEAR(facts.videoFrames, 12 * 24, 3);
}
