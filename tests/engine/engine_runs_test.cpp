// Conversion and thumbnail runs of the real engine, bad inputs, and how it ends:
// quit within 1500 ms, a vanished server, status while it works.

#include "engine/engine_harness.h"
#include "engine/test_media.h"
#include "enginectl/engine_pipe.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class EngineRuns : public ::testing::Test {
protected:
    void SetUp() override { m_out = MakeTempFolder("vemba-runs"); }
    void TearDown() override { RemoveTree(m_out); }

    bool AnyPartFile() const
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_out)) {
            if (entry.path().extension() == ".part")
                return true;
        }
        return false;
    }

    uint32_t ErrorCodeFor(const std::string& input)
    {
        return ErrorCodeForLine(
            LiveCommandLine(input, { "-vf", "scale=240:180" }, m_out, 1, -1, 0));
    }

    // The line's last word, "-pipename=0", is replaced by the harness's pipe.
    uint32_t ErrorCodeForLine(Words line)
    {
        EngineHarness engine;
        line.back() = "-pipename=" + std::to_string(engine.Pipe());
        EXPECT_TRUE(engine.Launch(line));
        EXPECT_TRUE(engine.SendStart());
        std::optional<RecordedMessage> error = engine.WaitFor(EngineMessage::Error, 20s);
        EXPECT_TRUE(engine.WaitExit(3s));
        EXPECT_FALSE(engine.WaitFor(EngineMessage::Complete, 0ms).has_value());
        return error && error->payload.size() == 4 ? error->Word(0) : 0;
    }

    std::string m_out;
};

std::vector<uint8_t> Bytes(const std::string& text)
{
    return { text.begin(), text.end() };
}

} // namespace

TEST_F(EngineRuns, ConversionWritesAnMp4WithItsIndexFirst)
{
    std::string output = m_out + "/film.m4v.tmp";
    EngineHarness engine;
    ASSERT_TRUE(engine.Launch(ConversionCommandLine(
        TestMedia::Get().Main(), { "-vf", "scale=320:240" }, output, engine.Pipe())));
    ASSERT_TRUE(engine.SendStart());
    auto complete = engine.WaitFor(EngineMessage::Complete, 60s);
    ASSERT_TRUE(complete.has_value());
    EXPECT_TRUE(engine.WaitExit(3s));

    std::ifstream file(output, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t moov = bytes.find("moov");
    size_t mdat = bytes.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    EXPECT_LT(moov, mdat) << "the index must come first for playing while downloading";
    EXPECT_EQ(ProbeStreamTypes(output), (std::vector<std::string> { "video", "audio" }));
    std::vector<ProbedFrame> frames = ProbeVideoFrames(output);
    EXPECT_EQ(frames.size(), 288u);
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(frames.front().pts, 0, 0.001);
    std::string format = CaptureShell(
        "ffprobe -v error -show_entries format=format_name -of csv=p=0 '" + output + "'");
    EXPECT_NE(format.find("mp4"), std::string::npos);
}

TEST_F(EngineRuns, ThumbnailRequestsAreAnsweredOneByOne)
{
    EngineHarness engine;
    ASSERT_TRUE(engine.Launch({ "-pipename=" + std::to_string(engine.Pipe()) }));
    ASSERT_TRUE(engine.Send(EngineMessage::Request, Bytes(TestMedia::Get().Long())));
    ASSERT_TRUE(engine.WaitFor(EngineMessage::RequestDone, 20s).has_value());
    std::vector<RecordedMessage> messages = engine.Messages();
    ASSERT_EQ(messages.size(), 2u);
    ASSERT_EQ(messages[0].type, EngineMessage::Image);
    const RecordedMessage& image = messages[0];
    EXPECT_EQ(image.Word(0), 40u);
    EXPECT_EQ(image.Word(1), 640u);
    EXPECT_EQ(static_cast<int32_t>(image.Word(2)), -360);
    EXPECT_EQ(image.Word(3), 1u | 24u << 16); // planes, bit count
    EXPECT_EQ(image.Word(4), 0u);
    EXPECT_EQ(image.Word(5), 640u * 3 * 360);
    EXPECT_EQ(image.payload.size(), 48u + 640 * 3 * 360);
    uint64_t sum = 0;
    for (size_t i = 48; i < image.payload.size(); ++i)
        sum += image.payload[i];
    EXPECT_GT(sum, 0u) << "a picture, not an empty buffer";

    // A file that is not there: the answer is 5 alone.
    ASSERT_TRUE(engine.Send(EngineMessage::Request, Bytes(m_out + "/missing.mp4")));
    for (auto deadline = Clock::now() + 20s;
         engine.Messages().size() < 3 && Clock::now() < deadline;)
        std::this_thread::sleep_for(10ms);
    messages = engine.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].type, EngineMessage::RequestDone);

    // An odd-sized file keeps its odd size: rows are padded to four bytes.
    ASSERT_TRUE(engine.Send(EngineMessage::Request, Bytes(TestMedia::Get().OddSize())));
    for (auto deadline = Clock::now() + 20s;
         engine.Messages().size() < 5 && Clock::now() < deadline;)
        std::this_thread::sleep_for(10ms);
    messages = engine.Messages();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[3].Word(1), 321u);
    EXPECT_EQ(messages[3].Word(5), 964u * 241);

    auto quitAt = Clock::now();
    ASSERT_TRUE(engine.Send(EngineMessage::Quit));
    EXPECT_TRUE(engine.WaitExit(1500ms));
    EXPECT_LT(Clock::now() - quitAt, 1500ms);
}

TEST_F(EngineRuns, InputsThatCannotBeEncodedGiveError16)
{
    EXPECT_EQ(ErrorCodeFor(m_out + "/no such file.mp4"), 2u);
    EXPECT_EQ(ErrorCodeFor(TestMedia::Get().NotMedia()), 2u);
    EXPECT_EQ(ErrorCodeFor(TestMedia::Get().AudioOnly()), 3u);
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
    // An output folder that is not there: the segments cannot be written.
    EXPECT_EQ(ErrorCodeForLine(LiveCommandLine(
                  TestMedia::Get().Main(), { "-vf", "scale=240:180" }, m_out + "/gone", 1, -1, 0)),
        6u);
    // A variant the builders have no template for: the line ends after the path.
    EXPECT_EQ(ErrorCodeForLine({ TestMedia::Get().Main(), "-fps", "25.00", "-pipename=0" }), 1u);
}

TEST_F(EngineRuns, TruncatedFileIsEncodedAsFarAsItGoes)
{
    EngineHarness engine;
    ASSERT_TRUE(engine.Launch(LiveCommandLine(
        TestMedia::Get().Truncated(), { "-vf", "scale=240:180" }, m_out, 1, -1, engine.Pipe())));
    ASSERT_TRUE(engine.SendStart());
    EXPECT_TRUE(engine.WaitFor(EngineMessage::Complete, 30s).has_value());
    EXPECT_TRUE(std::filesystem::exists(m_out + "/vemba-1-1.ts"));
    EXPECT_FALSE(AnyPartFile());
}

TEST_F(EngineRuns, QuitEndsAWorkingEngineWithin1500msAndReportsStatusMeanwhile)
{
    EngineHarness engine;
    ASSERT_TRUE(
        engine.Launch(LivePreset4CommandLine(TestMedia::Get().Long(), m_out, engine.Pipe())));
    ASSERT_TRUE(engine.SendStart());
    ASSERT_TRUE(engine.WaitFor(EngineMessage::Status, 10s).has_value());
    std::this_thread::sleep_for(900ms);
    auto quitAt = Clock::now();
    ASSERT_TRUE(engine.Send(EngineMessage::Quit));
    EXPECT_TRUE(engine.WaitExit(1500ms));
    EXPECT_LT(Clock::now() - quitAt, 1500ms);
    EXPECT_FALSE(engine.WaitFor(EngineMessage::Complete, 0ms).has_value())
        << "the run did not finish";
    EXPECT_FALSE(AnyPartFile()) << "no half segment is left behind";

    std::vector<RecordedMessage> statuses;
    for (const RecordedMessage& message : engine.Messages()) {
        if (message.type == EngineMessage::Status)
            statuses.push_back(message);
    }
    ASSERT_GE(statuses.size(), 2u);
    for (size_t i = 1; i < statuses.size(); ++i) {
        EXPECT_LT(statuses[i].at - statuses[i - 1].at, 750ms) << "status at least every 500 ms";
        EXPECT_GE(statuses[i].Position(), statuses[i - 1].Position());
        EXPECT_EQ(statuses[i].Word(4), 20000u);
    }
}

TEST_F(EngineRuns, EngineEndsWhenTheServerVanishes)
{
    EngineHarness engine;
    ASSERT_TRUE(
        engine.Launch(LivePreset4CommandLine(TestMedia::Get().Long(), m_out, engine.Pipe())));
    ASSERT_TRUE(engine.SendStart());
    ASSERT_TRUE(engine.WaitFor(EngineMessage::Status, 10s).has_value());
    auto goneAt = Clock::now();
    engine.DropServer();
    EXPECT_TRUE(engine.WaitExit(1500ms));
    EXPECT_LT(Clock::now() - goneAt, 1500ms);
    EXPECT_FALSE(AnyPartFile());
}

TEST_F(EngineRuns, QuitBeforeStartWritesNothing)
{
    EngineHarness engine;
    ASSERT_TRUE(engine.Launch(LiveCommandLine(
        TestMedia::Get().Main(), { "-vf", "scale=240:180" }, m_out, 1, -1, engine.Pipe())));
    ASSERT_TRUE(engine.Send(EngineMessage::StartParameters, std::vector<uint8_t>(8, 0)));
    ASSERT_TRUE(engine.Send(EngineMessage::Quit));
    EXPECT_TRUE(engine.WaitExit(1500ms));
    EXPECT_TRUE(engine.Messages().empty());
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
}
