// What the HD variants ask of the engine: the source's own frame rate, a phone's
// upright picture at the upright size, High profile with a bitrate bound, and IDR
// pictures on the server's cuts so seek runs join the timeline.

#include "engine/engine_harness.h"
#include "engine/test_media.h"
#include "enginectl/engine_pipe.h"
#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using vembatest::ShellQuote;

constexpr double kOffset = 10.0;
constexpr double kNtscFrame = 1001.0 / 30000;

class EngineHd : public ::testing::Test {
protected:
    void SetUp() override { m_out = MakeTempFolder("vemba-hd"); }
    void TearDown() override { RemoveTree(m_out); }

    bool RunToEnd(Words line)
    {
        EngineHarness engine;
        line.push_back("-pipename=" + std::to_string(engine.Pipe()));
        EXPECT_TRUE(engine.Launch(line));
        EXPECT_TRUE(engine.SendStart());
        bool complete = engine.WaitFor(EngineMessage::Complete, 60s).has_value();
        EXPECT_TRUE(engine.WaitExit(3s));
        return complete;
    }

    std::string m_out;
};

std::string Field(const std::string& path, const std::string& entries)
{
    std::string text = CaptureShell("ffprobe -v error -select_streams v:0 -show_entries " + entries
        + " -of csv=p=0 " + ShellQuote(path));
    return text.substr(0, text.find('\n'));
}

// Mean luma of the left and the right half of the first picture.
std::pair<int, int> HalvesLuma(const std::string& path)
{
    std::string pixels = CaptureShell("ffmpeg -nostdin -v error -i " + ShellQuote(path)
        + " -frames:v 1 -vf format=gray,scale=2:1:flags=area -f rawvideo -");
    if (pixels.size() != 2)
        return { -1, -1 };
    return { static_cast<unsigned char>(pixels[0]), static_cast<unsigned char>(pixels[1]) };
}

// An HD variant's arguments; -ss and -kf at a cut when start > 0.
Words HdLine(const std::string& input, const std::string& cuts, const std::string& folder,
    double start, const Words& picture)
{
    Words line;
    if (start > 0) {
        char text[32];
        snprintf(text, sizeof text, "%.6f", start);
        line = { "-ss", text, "-kf", text };
    }
    line.push_back(input);
    line.insert(line.end(), picture.begin(), picture.end());
    line.insert(line.end(),
        { "-ovc", "x264", "-x264encopts",
            "profile=high:preset=veryfast:bitrate=300:vbv_maxrate=450:vbv_bufsize=600:keyint=250:"
            "level=4.1:threads=1",
            "-oac", "faac", "-faacopts", "br=128", "-of", "lavf", "-lavfopts", "format=mpegts",
            "-vembacast", "5", "-cuts", cuts, "-o", folder + "/vemba-7-1.ts" });
    return line;
}

} // namespace

TEST_F(EngineHd, KeepsTheRateTurnsUprightAndOpensEachSegmentAtItsCut)
{
    std::string input = TestMedia::Get().RotatedNtsc();
    // Key frames every 60 pictures: the cuts a server would plan.
    const std::vector<double> cuts = { 0, 60 * kNtscFrame, 120 * kNtscFrame };
    std::string cutFile = m_out + "/cuts.txt";
    {
        std::ofstream file(cutFile);
        for (double cut : cuts)
            file << std::fixed << cut << "\n";
    }
    for (double start : { 0.0, cuts[1] }) {
        SCOPED_TRACE("start " + std::to_string(start));
        std::string folder = m_out + "/run";
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(RunToEnd(
            HdLine(input, cutFile, folder, start, { "-autorotate", "-vf", "scale=90:160" })));
        int first = start > 0 ? 2 : 1;
        size_t frames = 0;
        for (int n = first; n <= 3; ++n) {
            std::string segment = folder + "/vemba-7-" + std::to_string(n) + ".ts";
            ASSERT_TRUE(std::filesystem::exists(segment)) << n;
            EXPECT_EQ(Field(segment, "stream=width,height,profile,r_frame_rate"),
                "High,90,160,30000/1001")
                << n;
            std::vector<ProbedFrame> pictures = ProbeVideoFrames(segment);
            ASSERT_FALSE(pictures.empty());
            EXPECT_TRUE(pictures.front().key && pictures.front().type == 'I') << n;
            EXPECT_NEAR(pictures.front().pts - kOffset, cuts[n - 1], kNtscFrame / 2) << n;
            for (size_t i = 1; i < pictures.size(); ++i)
                ASSERT_NEAR(pictures[i].pts - pictures[i - 1].pts, kNtscFrame, 0.0015)
                    << "the source's rate";
            frames += pictures.size();
            auto [left, right] = HalvesLuma(segment);
            EXPECT_LT(left, 60) << "upright: the stored top half is on the right";
            EXPECT_GT(right, 200);
        }
        EXPECT_EQ(frames, start > 0 ? 120u : 180u) << "one picture per source picture";
        RemoveTree(folder);
    }

    // Without -autorotate the picture stays as stored, as the phone's templates expect.
    std::string folder = m_out + "/stored";
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(RunToEnd(HdLine(input, cutFile, folder, 0, { "-vf", "scale=160:90" })));
    EXPECT_EQ(Field(folder + "/vemba-7-1.ts", "stream=width,height"), "160,90");
}
