// The engine's seek preview mode on media made at test time: the sheets it writes and
// what each picture shows, an upright phone video, and files it cannot use, which
// leave nothing behind.

#include "engine/engine_harness.h"
#include "engine/test_media.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;
using vembatest::ShellQuote;

namespace {

int RunPreviews(const std::string& input, const std::string& output)
{
    const int status = system((ShellQuote(EnginePath()) + " -previews " + ShellQuote(input) + " -o "
        + ShellQuote(output) + " 2>/dev/null")
                                  .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> ReadIndex(const std::string& folder)
{
    std::map<std::string, std::string> fields;
    std::ifstream file(folder + "/previews.txt");
    std::string line;
    while (std::getline(file, line)) {
        const size_t blank = line.find(' ');
        fields[line.substr(0, blank)] = blank == std::string::npos ? "" : line.substr(blank + 1);
    }
    return fields;
}

std::string SizeOf(const std::string& picture)
{
    std::string size = CaptureShell("ffprobe -v error -select_streams v:0 -show_entries "
                                    "stream=width,height -of csv=s=x:p=0 "
        + ShellQuote(picture));
    while (!size.empty() && (size.back() == '\n' || size.back() == '\r'))
        size.pop_back();
    return size;
}

// The mean brightness (0-255) of one tile of a sheet.
double TileLuma(const std::string& sheet, int x, int y, int w, int h)
{
    const std::string text = CaptureShell("ffmpeg -v error -i " + ShellQuote(sheet)
        + " -vf crop=" + std::to_string(w) + ":" + std::to_string(h) + ":" + std::to_string(x) + ":"
        + std::to_string(y) + ",scale=1:1,format=gray -f rawvideo -");
    return text.empty() ? -1 : double(static_cast<unsigned char>(text[0]));
}

class EnginePreviews : public ::testing::Test {
protected:
    void SetUp() override { m_out = MakeTempFolder("vemba-previews"); }
    void TearDown() override { RemoveTree(m_out); }

    // Only OUT itself, never OUT.part, once a run is over.
    std::vector<std::string> Left() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_out))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string m_out;
};

TEST_F(EnginePreviews, OnePassFillsTwoSheetsWithThePictureOfEachMark)
{
    // 1010 s at 2 frames a second, a key frame every 10 s; dark until 500 s, then bright.
    const std::string video = m_out + "/long film.mp4";
    ASSERT_EQ(RunShell("ffmpeg -v error -y -f lavfi -i \"color=c=black:s=320x180:r=2:d=1010,"
                       "geq=lum='if(lt(T,500),30,220)':cb=128:cr=128\" -c:v libx264 -preset "
                       "ultrafast -g 20 -pix_fmt yuv420p "
                  + ShellQuote(video)),
        0);
    const std::string out = m_out + "/p";
    ASSERT_EQ(RunPreviews(video, out), 0);
    std::map<std::string, std::string> index = ReadIndex(out);
    EXPECT_EQ(index["tile"], "160 90");
    EXPECT_EQ(index["grid"], "10 10");
    EXPECT_EQ(index["pictures"], "101"); // 0 s to 1000 s
    EXPECT_EQ(index["sheets"], "2");
    EXPECT_EQ(index["duration"].substr(0, 4), "1010");
    EXPECT_EQ(SizeOf(out + "/0.jpg"), "1600x900");
    EXPECT_EQ(SizeOf(out + "/1.jpg"), "160x90"); // the last picture alone
    EXPECT_FALSE(fs::exists(out + "/2.jpg"));
    // Picture 49 shows 490 s (dark), picture 51 shows 510 s (bright).
    EXPECT_LT(TileLuma(out + "/0.jpg", 9 * 160, 4 * 90, 160, 90), 60);
    EXPECT_GT(TileLuma(out + "/0.jpg", 1 * 160, 5 * 90, 160, 90), 190);
    EXPECT_GT(TileLuma(out + "/1.jpg", 0, 0, 160, 90), 190);
    EXPECT_EQ(Left(), std::vector<std::string>({ "long film.mp4", "p" }));
}

TEST_F(EnginePreviews, AnUprightPhoneVideoGivesUprightTiles)
{
    const std::string out = m_out + "/p";
    ASSERT_EQ(RunPreviews(TestMedia::Get().RotatedNtsc(), out), 0);
    std::map<std::string, std::string> index = ReadIndex(out);
    EXPECT_EQ(index["tile"], "160 284");
    EXPECT_EQ(index["pictures"], "1");
    ASSERT_EQ(SizeOf(out + "/0.jpg"), "160x284");
    // Upright, the white half is on the right.
    EXPECT_GT(TileLuma(out + "/0.jpg", 100, 100, 40, 80), 190);
    EXPECT_LT(TileLuma(out + "/0.jpg", 20, 100, 40, 80), 60);
}

TEST_F(EnginePreviews, FilesWithoutPicturesFailAndLeaveNothing)
{
    const TestMedia& media = TestMedia::Get();
    const std::string broken = m_out + "/broken.mp4";
    {
        std::ofstream file(broken, std::ios::binary);
        std::ifstream main(media.Main(), std::ios::binary);
        std::string head(4096, '\0');
        main.read(head.data(), head.size());
        file << head; // the header of a real file, and then nothing
    }
    EXPECT_EQ(RunPreviews(media.NotMedia(), m_out + "/a"), 2);
    EXPECT_EQ(RunPreviews(media.AudioOnly(), m_out + "/b"), 3);
    EXPECT_NE(RunPreviews(broken, m_out + "/c"), 0);
    EXPECT_EQ(RunPreviews(m_out + "/missing.mp4", m_out + "/d"), 2);
    EXPECT_EQ(Left(), std::vector<std::string>({ "broken.mp4" }));

    // A folder that is there already is not written into.
    fs::create_directory(m_out + "/taken");
    EXPECT_EQ(RunPreviews(media.Main(), m_out + "/taken"), 6);
    EXPECT_TRUE(fs::is_empty(m_out + "/taken"));
    // And no -o at all.
    const int status = system(
        (ShellQuote(EnginePath()) + " -previews " + ShellQuote(media.Main()) + " 2>/dev/null")
            .c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
}

TEST_F(EnginePreviews, ACutOffFileGivesThePicturesItHas)
{
    const std::string out = m_out + "/p";
    ASSERT_EQ(RunPreviews(TestMedia::Get().Truncated(), out), 0);
    std::map<std::string, std::string> index = ReadIndex(out);
    EXPECT_GE(std::atoi(index["pictures"].c_str()), 1);
    EXPECT_TRUE(fs::exists(out + "/0.jpg"));
}

} // namespace
