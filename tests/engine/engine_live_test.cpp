// Live runs of the real engine: segment numbers and timeline, key frames, the
// constant rate, sound or none, and subtitles timed by media time after a seek.

#include "engine/engine_harness.h"
#include "engine/test_media.h"
#include "enginectl/engine_pipe.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class EngineLive : public ::testing::Test {
protected:
    void SetUp() override { m_out = MakeTempFolder("vemba-live"); }
    void TearDown() override { RemoveTree(m_out); }

    // Runs the line to its end and returns the completion message.
    std::optional<RecordedMessage> RunToEnd(EngineHarness& engine, const Words& line)
    {
        EXPECT_TRUE(engine.Launch(line));
        EXPECT_TRUE(engine.SendStart());
        std::optional<RecordedMessage> complete = engine.WaitFor(EngineMessage::Complete, 60s);
        EXPECT_FALSE(engine.WaitFor(EngineMessage::Error, 0ms).has_value());
        EXPECT_TRUE(engine.WaitExit(3s)) << "the engine must end after message 15";
        return complete;
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_out))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Segment(int variant, int number) const
    {
        return m_out + "/vemba-" + std::to_string(variant) + "-" + std::to_string(number) + ".ts";
    }

    std::string m_out;
};

// The transport packets before the first one of a media stream include the PAT
// (PID 0) and the PMT (PID 0x1000): the segment can be played on its own.
bool TablesBeforeMedia(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    bool pat = false;
    bool pmt = false;
    unsigned char packet[188];
    while (file.read(reinterpret_cast<char*>(packet), sizeof packet) && packet[0] == 0x47) {
        int pid = (packet[1] & 0x1F) << 8 | packet[2];
        if (pid >= 0x100 && pid != 0x1000)
            break;
        pat = pat || pid == 0;
        pmt = pmt || pid == 0x1000;
    }
    return pat && pmt;
}

// Media time + 10 s on every run.
constexpr double kOffset = 10.0;

} // namespace

TEST_F(EngineLive, FromTheStartWritesFiveSecondSegmentsOnOneTimeline)
{
    EngineHarness engine;
    auto complete = RunToEnd(engine,
        LiveCommandLine(
            TestMedia::Get().Main(), { "-vf", "scale=240:180" }, m_out, 1, -1, engine.Pipe()));
    ASSERT_TRUE(complete.has_value());
    ASSERT_EQ(complete->payload.size(), 24u);
    EXPECT_NEAR(complete->Word(4), 12000, 100); // the total length in ms

    EXPECT_EQ(
        Files(), (std::vector<std::string> { "vemba-1-1.ts", "vemba-1-2.ts", "vemba-1-3.ts" }));
    const int expectedFrames[] = { 120, 120, 48 }; // 12 s at 24 fps
    double previousEnd = kOffset;
    for (int n = 1; n <= 3; ++n) {
        std::vector<ProbedFrame> frames = ProbeVideoFrames(Segment(1, n));
        ASSERT_EQ(static_cast<int>(frames.size()), expectedFrames[n - 1]) << "segment " << n;
        EXPECT_NEAR(frames.front().pts, kOffset + (n - 1) * 5, 0.001) << "segment " << n;
        EXPECT_NEAR(frames.front().pts, previousEnd, 0.001) << "segments must join";
        EXPECT_TRUE(frames.front().key) << "segment " << n << " must start with an IDR picture";
        for (size_t i = 1; i < frames.size(); ++i)
            ASSERT_NEAR(frames[i].pts - frames[i - 1].pts, 1.0 / 24, 0.0015) << "constant 24 fps";
        previousEnd = frames.back().pts + 1.0 / 24;
        EXPECT_EQ(ProbeStreamTypes(Segment(1, n)), (std::vector<std::string> { "video", "audio" }));
        EXPECT_TRUE(TablesBeforeMedia(Segment(1, n)))
            << "segment " << n << " must start with PAT/PMT";
    }
    std::vector<RecordedMessage> messages = engine.Messages();
    auto status = std::find_if(messages.rbegin(), messages.rend(),
        [](const RecordedMessage& m) { return m.type == EngineMessage::Status; });
    ASSERT_NE(status, messages.rend());
    EXPECT_NEAR(status->Position(), 12.0, 0.1);
    EXPECT_EQ(messages.back().type, EngineMessage::Complete);
}

TEST_F(EngineLive, SeekRunContinuesTheTimelineFromItsSegment)
{
    EngineHarness engine;
    ASSERT_TRUE(RunToEnd(engine,
        LiveCommandLine(
            TestMedia::Get().Main(), { "-vf", "scale=240:180" }, m_out, 1, 1, engine.Pipe())));
    // -ss 5: the first file is number 2, whatever else happens.
    EXPECT_EQ(Files(), (std::vector<std::string> { "vemba-1-2.ts", "vemba-1-3.ts" }));
    std::vector<ProbedFrame> frames = ProbeVideoFrames(Segment(1, 2));
    ASSERT_EQ(frames.size(), 120u);
    EXPECT_NEAR(frames.front().pts, kOffset + 5, 0.001);
    EXPECT_TRUE(frames.front().key);
    std::string audio = CaptureShell(
        "ffprobe -v error -select_streams a:0 -show_entries packet=pts_time -of csv=p=0 "
        "-read_intervals %+#1 '"
        + Segment(1, 2) + "'");
    EXPECT_NEAR(atof(audio.c_str()), kOffset + 5, 0.05) << "sound starts with the picture";

    // A start that is not on a segment boundary still lands on the shared grid.
    EngineHarness offGrid;
    RemoveTree(Segment(1, 2));
    Words offGridLine = LiveCommandLine(
        TestMedia::Get().Main(), { "-vf", "scale=240:180" }, m_out, 1, -1, offGrid.Pipe());
    offGridLine.insert(offGridLine.begin(), { "-ss", "7" });
    ASSERT_TRUE(RunToEnd(offGrid, offGridLine));
    frames = ProbeVideoFrames(Segment(1, 2));
    ASSERT_EQ(frames.size(), 72u); // media time 7 s to 10 s
    EXPECT_NEAR(frames.front().pts, kOffset + 7, 0.001);
    EXPECT_TRUE(frames.front().key);
}

TEST_F(EngineLive, PresetFourKeepsTheSizeAndHasNoSoundWithoutSource)
{
    EngineHarness engine;
    ASSERT_TRUE(
        RunToEnd(engine, LivePreset4CommandLine(TestMedia::Get().Silent(), m_out, engine.Pipe())));
    EXPECT_EQ(Files(), (std::vector<std::string> { "vemba-4-1.ts", "vemba-4-2.ts" }));
    EXPECT_EQ(ProbeStreamTypes(Segment(4, 1)), (std::vector<std::string> { "video" }));
    std::string size = CaptureShell(
        "ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + Segment(4, 1) + "'");
    EXPECT_EQ(size.substr(0, 7), "320,240");
    std::vector<ProbedFrame> frames = ProbeVideoFrames(Segment(4, 2));
    ASSERT_EQ(frames.size(), 24u); // 6 s: one second in the second segment
    EXPECT_TRUE(frames.front().key);
}

TEST_F(EngineLive, OddSizedSourceBecomesEven)
{
    EngineHarness engine;
    ASSERT_TRUE(
        RunToEnd(engine, LivePreset4CommandLine(TestMedia::Get().OddSize(), m_out, engine.Pipe())));
    std::string size = CaptureShell(
        "ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + Segment(4, 1) + "'");
    EXPECT_EQ(size.substr(0, 7), "320,240");
    EXPECT_EQ(ProbeVideoFrames(Segment(4, 1)).size(), 48u);
}

TEST_F(EngineLive, SubtitlesFollowMediaTimeAfterASeek)
{
    // A white box over the whole picture from 5.0 s to 7.0 s of media time.
    std::string script = m_out + "/box.ass";
    std::ofstream(script)
        << "[Script Info]\nScriptType: v4.00+\nPlayResX: 320\nPlayResY: 240\n\n"
           "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
           "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, "
           "Spacing, "
           "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
           "Style: "
           "Default,Arial,20,&H00FFFFFF,&H00FFFFFF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,"
           "1,0,0,7,0,0,0,1\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, "
           "MarginV, Effect, Text\nDialogue: 0,0:00:05.00,0:00:07.00,Default,,0,0,0,,"
           "{\\pos(0,0)\\p1}m 0 0 l 320 0 320 240 0 240{\\p0}\n";
    Words options { "-vf-add", "fixpts=fps=24:start=5,ass,fixpts", "-ass", "-subcp", "cp949",
        "-font", "/usr/share/fonts/truetype/nanum/NanumGothic.ttf", "-nosub", "-sub", script };
    EngineHarness engine;
    ASSERT_TRUE(RunToEnd(engine,
        LiveCommandLine(TestMedia::Get().Black(), { "-vf", "scale=320:240" }, m_out, 1, 1,
            engine.Pipe(), options)));
    std::string segment = Segment(1, 2);
    EXPECT_GT(MeanLumaAt(segment, kOffset + 5.5), 200) << "the box shows at media time 5.5 s";
    EXPECT_LT(MeanLumaAt(segment, kOffset + 8.0), 30) << "and is gone at 8 s";
}
