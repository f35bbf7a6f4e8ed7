// The command lines built from real files: media properties read by MediaInfo,
// shares, subtitle scripts and the font, as the engine will be given them; and
// file names that no quoting would carry, as the real engine receives them.

#include "config/app_messages.h"
#include "enginectl/encoder.h"
#include "library/shared_folders.h"
#include "live_server_fixture.h"
#include "platform/places.h"
#include "streaming/client_info.h"
#include "streaming/command_line.h"
#include "streaming/convert_command.h"
#include "streaming/live_command.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr const char* kId = "0123456789ABCDEF0123456789ABCDEF";

using Words = std::vector<std::string>;

// True when words holds run as consecutive words.
bool HoldsRun(const Words& words, const Words& run)
{
    return std::search(words.begin(), words.end(), run.begin(), run.end()) != words.end();
}

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

    Words Build(const std::string& file, int startIndex = -1, SeekBuild seek = SeekBuild::No)
    {
        session.SetFilePath(file);
        Words line { "left over" };
        if (!MakeLiveCommandLine(line, session, 50001, startIndex, seek)) {
            EXPECT_TRUE(line.empty());
            return {};
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
    Words line = Build("/Movies/wide.mp4");
    ASSERT_GE(line.size(), 5u);
    EXPECT_EQ(Words(line.begin(), line.begin() + 5),
        (Words { root + "/media/wide.mp4", "-fps", "24.00", "-ofps", "24" }));
    EXPECT_TRUE(HoldsRun(line, { "-vf", "scale=480:270", "-vf-add", "harddup" }))
        << testing::PrintToString(line);
    EXPECT_TRUE(HoldsRun(
        line, { "-o", GetServicesFolder() + "/" + kId + "/vemba-1-1.ts", "-pipename=50001" }))
        << testing::PrintToString(line);
    EXPECT_EQ(line.back(), "-pipename=50001");
    unsigned processors = std::thread::hardware_concurrency();
    auto x264 = std::find(line.begin(), line.end(), "-x264encopts");
    ASSERT_NE(x264, line.end());
    EXPECT_NE(
        (x264 + 1)->find(processors >= 1 && processors <= 3 ? ":threads=1:" : ":threads=auto:"),
        std::string::npos);
}

TEST_F(LiveCommand, SeekWithSubtitlesStartsBothAtTheSegment)
{
    WriteSami(root + "/media/wide.smi");
    Words line = Build("/Movies/wide.mp4", 7, SeekBuild::Yes);
    EXPECT_TRUE(HoldsRun(line, { "-ss", "35", root + "/media/wide.mp4" }));
    EXPECT_EQ(line.front(), "-ss");
    EXPECT_TRUE(HoldsRun(line, { "-o", GetServicesFolder() + "/" + kId + "/vemba-1-7.ts" }));
    EXPECT_TRUE(HoldsRun(line,
        { "format=mpegts", "-vf-add", "fixpts=fps=24:start=35,ass,fixpts", "-ass", "-subcp",
            "cp949", "-font" }))
        << testing::PrintToString(line);
    std::string script = GetServicesFolder() + "/" + kId + "/vembacast_temp.ass";
    EXPECT_TRUE(HoldsRun(line, { "-nosub", "-sub", script, "-avthread" }))
        << testing::PrintToString(line);
    EXPECT_TRUE(std::filesystem::exists(script));
}

TEST_F(LiveCommand, PortraitFileIsTurnedWithSubtitlesDrawnFirst)
{
    EXPECT_TRUE(HoldsRun(Build("/Movies/tall.mp4"),
        { "-vf", "scale=270:480", "-vf-add", "rotate=2", "-vf-add", "harddup" }));
    WriteSami(root + "/media/tall.smi");
    EXPECT_TRUE(HoldsRun(Build("/Movies/tall.mp4"),
        { "-vf", "scale=270:480", "-vf-add", "ass", "-vf-add", "rotate=2", "-vf-add", "harddup" }));
}

TEST_F(LiveCommand, NothingIsBuiltThatCouldNotPlay)
{
    EXPECT_TRUE(Build("/Movies/notes.avi").empty()); // not a video: no picture size
    EXPECT_TRUE(Build("/Movies/missing.mp4").empty());
    EXPECT_TRUE(Build("/Music/wide.mp4").empty()); // no such share
    EXPECT_TRUE(Build("/Movies/../media/wide.mp4").empty());
    EXPECT_TRUE(Build("/Movies").empty());
    session.nBandwidth = 5; // a playlist without an encoding
    EXPECT_TRUE(Build("/Movies/wide.mp4").empty());
    session.nBandwidth = 4; // the audio preset keeps the source picture
    Words audio = Build("/Movies/wide.mp4");
    ASSERT_FALSE(audio.empty());
    EXPECT_TRUE(std::none_of(audio.begin(), audio.end(),
        [](const std::string& word) { return word.starts_with("scale="); }));
    session.nBandwidth = 2;
    session.nIsPrepareSeeking = 1; // a newer seek waits
    EXPECT_TRUE(Build("/Movies/wide.mp4", 3, SeekBuild::Yes).empty());
}

TEST_F(LiveCommand, ConversionLineAndItsOwnScript)
{
    WriteSami(root + "/media/wide.smi");
    ConvertCommandJob job;
    job.sourcePath = "/Movies/wide.mp4";
    job.outputPath = root + "/media/wide-vembacast.m4v";
    job.bitrate = 800;
    Words line = QZ_MakeConvertCmd(job, 50009);
    EXPECT_NEAR(job.durationMs, 2000, 100);
    auto x264 = std::find(line.begin(), line.end(), "-x264encopts");
    ASSERT_NE(x264, line.end());
    EXPECT_EQ((x264 + 1)->rfind("global_header:bitrate=800:", 0), 0u);
    EXPECT_TRUE(
        (x264 + 1)->ends_with(":threads=" + std::to_string(std::thread::hardware_concurrency())));
    EXPECT_TRUE(HoldsRun(
        line, { "format=mp4", "-vf", "scale=480:270", "-vf-add", "fixpts=fps=24,ass,fixpts" }))
        << testing::PrintToString(line);
    EXPECT_TRUE(HoldsRun(line, { "-o", job.outputPath, "-pipename=50009" }));
    ASSERT_FALSE(job.subtitleScript.empty());
    EXPECT_TRUE(std::filesystem::exists(job.subtitleScript));
    std::filesystem::remove(job.subtitleScript);

    ConvertCommandJob unknown;
    unknown.sourcePath = "/Nowhere/wide.mp4";
    EXPECT_TRUE(QZ_MakeConvertCmd(unknown, 50010).empty());
}

namespace {

// The engine's first notice of a run (complete or error) and its parameter.
class FirstNotice {
public:
    EngineNotify Target()
    {
        return [this](uint32_t message, uintptr_t wParam, uintptr_t) {
            std::lock_guard lock(m_lock);
            if (m_message == 0) {
                m_message = message;
                m_wParam = wParam;
            }
            m_changed.notify_all();
        };
    }
    // 0 when none came within the bound.
    uint32_t Wait(uintptr_t& wParam)
    {
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, std::chrono::seconds(90), [this] { return m_message != 0; });
        wParam = m_wParam;
        return m_message;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    uint32_t m_message = 0; // guarded by m_lock
    uintptr_t m_wParam = 0; // guarded by m_lock
};

// The engine runs the conversion arguments to their end; the notice it ends with.
uint32_t RunConversion(ConvertLine line, uintptr_t& wParam)
{
    FirstNotice notice;
    CEncoder encoder;
    encoder.SetNotifyTarget(notice.Target(), 1);
    line.pipeNumber = encoder.CreateEnginePipe();
    if (line.pipeNumber < 0 || encoder.RunQZEncEngine(MakeConvertCommandLine(line)) != 1
        || encoder.StartEncoding() != 1)
        return 0;
    uint32_t message = notice.Wait(wParam);
    encoder.QuitEncoding();
    return message;
}

// The test's working folder for its life (the engine starts in the same one).
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& path)
        : m_before(std::filesystem::current_path())
    {
        std::filesystem::current_path(path);
    }
    ~WorkingFolder() { std::filesystem::current_path(m_before); }

private:
    std::filesystem::path m_before;
};

} // namespace

TEST_F(LiveCommand, NamesWithBlanksQuotesBackslashesAndALeadingDashReachTheEngineIntact)
{
    // Relative names that start with '-', so only the "./" the builder puts before
    // them keeps the engine from reading them as options.
    const std::string input = "-my \"odd\" film \\ back\\\\\"slash.mp4";
    const std::string output = "-out \"x\" \\ y\\.m4v";
    std::filesystem::copy_file(SharedMediaFolder() + "/wide2s.mp4", root + "/media/" + input,
        std::filesystem::copy_options::overwrite_existing);
    WorkingFolder here(root + "/media");

    ConvertLine line;
    line.localPath = input;
    line.outputPath = output;
    line.frameRate = 24;
    line.size = ComputeScaledSize(kConvertBoxWidth, kConvertBoxHeight, 1280, 720);
    line.bitrate = 300;
    line.processors = 2;
    uintptr_t code = 0;
    EXPECT_EQ(RunConversion(line, code), WM_APP_ENC_COMPLETE) << "error " << code;
    std::error_code error;
    EXPECT_GT(std::filesystem::file_size(root + "/media/" + output, error), 0u) << error.message();

    // A name that is no file is the engine's input all the same: it cannot open it
    // (error 2), rather than taking it for an option and waiting as a thumbnail run.
    line.localPath = "-no \"such\" \\ file\\.mp4";
    line.outputPath = "-never.m4v";
    EXPECT_EQ(RunConversion(line, code), WM_APP_ENC_ERROR);
    EXPECT_EQ(code, 2u);
    EXPECT_FALSE(std::filesystem::exists(root + "/media/-never.m4v"));
    line.localPath = root + "/media/" + line.localPath; // and the same absolute
    EXPECT_EQ(RunConversion(line, code), WM_APP_ENC_ERROR);
    EXPECT_EQ(code, 2u);
}
