// The command lines built from real files: media properties read by MediaInfo,
// shares, subtitle scripts and the font, as the engine will be given them.

#include "library/shared_folders.h"
#include "live_server_fixture.h"
#include "platform/places.h"
#include "streaming/client_info.h"
#include "streaming/convert_command.h"
#include "streaming/live_command.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr const char* kId = "0123456789ABCDEF0123456789ABCDEF";

class LiveCommand : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        root = (std::filesystem::temp_directory_path()
            / ("vemba-command-" + std::to_string(getpid())))
                   .string();
        std::filesystem::create_directories(root + "/media");
        ASSERT_TRUE(EnsureSharedMedia(
            "wide2s.mp4", [](const std::string& p) { return MakeTestClip(p, 2, 1280, 720); }));
        ASSERT_TRUE(EnsureSharedMedia(
            "tall2s.mp4", [](const std::string& p) { return MakeTestClip(p, 2, 720, 1280); }));
        std::filesystem::copy_file(SharedMediaFolder() + "/wide2s.mp4", root + "/media/wide.mp4");
        std::filesystem::copy_file(SharedMediaFolder() + "/tall2s.mp4", root + "/media/tall.mp4");
        std::ofstream(root + "/media/notes.avi") << "not a video";
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(root); }

    void SetUp() override
    {
        setenv("VEMBACAST_DATA_DIR", (root + "/data").c_str(), 1);
        std::filesystem::create_directories(GetServicesFolder() + "/" + kId);
        ClearSharedFolders();
        AddSharedFolder(root + "/media", "Movies");
        session.SetWidth("480");
        session.SetHeight("320");
        session.nBandwidth = 1;
    }
    void TearDown() override
    {
        ClearSharedFolders();
        std::filesystem::remove_all(root + "/data");
        std::filesystem::remove(root + "/media/wide.smi");
        std::filesystem::remove(root + "/media/tall.smi");
    }

    std::string Build(const std::string& file, int startIndex = -1, SeekBuild seek = SeekBuild::No)
    {
        session.SetFilePath(file);
        std::string line = "left over";
        if (!MakeLiveCommandLine(line, session, 50001, startIndex, seek)) {
            EXPECT_EQ(line, "");
            return "";
        }
        return line;
    }

    static void WriteSami(const std::string& path)
    {
        std::ofstream(path)
            << "<SAMI><BODY><SYNC Start=0><P Class=KRCC>한국어 자막\n</BODY></SAMI>\n";
    }

    static inline std::string root;
    ClientInfo session { kId };
};

} // namespace

TEST_F(LiveCommand, LandscapeFileFromTheBeginning)
{
    std::string line = Build("/Movies/wide.mp4");
    EXPECT_EQ(line.rfind(" \"" + root + "/media/wide.mp4\"  -fps 24.00  -ofps 24 ", 0), 0u) << line;
    EXPECT_NE(line.find(" -vf scale=480:270 -vf-add harddup "), std::string::npos) << line;
    EXPECT_NE(
        line.find("-o \"" + GetServicesFolder() + "/" + kId + "/vemba-1-1.ts\" -pipename=50001"),
        std::string::npos)
        << line;
    unsigned processors = std::thread::hardware_concurrency();
    EXPECT_NE(line.find(processors >= 1 && processors <= 3 ? ":threads=1:" : ":threads=auto:"),
        std::string::npos);
}

TEST_F(LiveCommand, SeekWithSubtitlesStartsBothAtTheSegment)
{
    WriteSami(root + "/media/wide.smi");
    std::string line = Build("/Movies/wide.mp4", 7, SeekBuild::Yes);
    EXPECT_EQ(line.rfind(" -ss 35  \"", 0), 0u) << line;
    EXPECT_NE(line.find("vemba-1-7.ts"), std::string::npos);
    EXPECT_NE(
        line.find(
            "format=mpegts -vf-add fixpts=fps=24:start=35,ass,fixpts -ass -subcp cp949 -font /"),
        std::string::npos)
        << line;
    std::string script = GetServicesFolder() + "/" + kId + "/vembacast_temp.ass";
    EXPECT_NE(line.find("-sub \"" + script + "\""), std::string::npos) << line;
    EXPECT_TRUE(std::filesystem::exists(script));
}

TEST_F(LiveCommand, PortraitFileIsTurnedWithSubtitlesDrawnFirst)
{
    EXPECT_NE(
        Build("/Movies/tall.mp4").find(" -vf scale=270:480 -vf-add rotate=2 -vf-add harddup "),
        std::string::npos);
    WriteSami(root + "/media/tall.smi");
    EXPECT_NE(Build("/Movies/tall.mp4")
                  .find(" -vf scale=270:480 -vf-add ass -vf-add rotate=2 -vf-add harddup "),
        std::string::npos);
}

TEST_F(LiveCommand, NothingIsBuiltThatCouldNotPlay)
{
    EXPECT_EQ(Build("/Movies/notes.avi"), ""); // not a video: no picture size
    EXPECT_EQ(Build("/Movies/missing.mp4"), "");
    EXPECT_EQ(Build("/Music/wide.mp4"), ""); // no such share
    EXPECT_EQ(Build("/Movies/../media/wide.mp4"), "");
    EXPECT_EQ(Build("/Movies"), "");
    session.nBandwidth = 5; // a playlist without an encoding
    EXPECT_EQ(Build("/Movies/wide.mp4"), "");
    session.nBandwidth = 4; // the audio preset keeps the source picture
    EXPECT_EQ(Build("/Movies/wide.mp4").find("scale="), std::string::npos);
    session.nBandwidth = 2;
    session.nIsPrepareSeeking = 1; // a newer seek waits
    EXPECT_EQ(Build("/Movies/wide.mp4", 3, SeekBuild::Yes), "");
}

TEST_F(LiveCommand, ConversionLineAndItsOwnScript)
{
    WriteSami(root + "/media/wide.smi");
    ConvertCommandJob job;
    job.sourcePath = "/Movies/wide.mp4";
    job.outputPath = root + "/media/wide-vembacast.m4v";
    job.bitrate = 800;
    std::string line = QZ_MakeConvertCmd(job, 50009);
    EXPECT_NEAR(job.durationMs, 2000, 100);
    EXPECT_NE(line.find("global_header:bitrate=800:"), std::string::npos) << line;
    EXPECT_NE(line.find(":threads=" + std::to_string(std::thread::hardware_concurrency()) + " "),
        std::string::npos);
    EXPECT_NE(line.find("format=mp4 -vf scale=480:270 -vf-add fixpts=fps=24,ass,fixpts "),
        std::string::npos)
        << line;
    EXPECT_NE(line.find("-o \"" + job.outputPath + "\" -pipename=50009"), std::string::npos);
    ASSERT_FALSE(job.subtitleScript.empty());
    EXPECT_TRUE(std::filesystem::exists(job.subtitleScript));
    std::filesystem::remove(job.subtitleScript);

    ConvertCommandJob unknown;
    unknown.sourcePath = "/Nowhere/wide.mp4";
    EXPECT_EQ(QZ_MakeConvertCmd(unknown, 50010), "");
}
