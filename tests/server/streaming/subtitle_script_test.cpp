#include "streaming/subtitle_script.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace {

class SubtitleScript : public testing::Test {
protected:
    void SetUp() override
    {
        folder = std::filesystem::path(testing::TempDir())
            / ("subtitle_script_" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    void WriteSami(const std::string& name)
    {
        std::ofstream(Path(name)) << "<SAMI><BODY>\n<SYNC Start=1500><P Class=KRCC>안녕하세요\n"
                                     "<SYNC Start=4000><P Class=KRCC>&nbsp;\n</BODY></SAMI>\n";
    }

    std::filesystem::path folder;
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST_F(SubtitleScript, FindsTheSamiFileBesideTheVideo)
{
    std::ofstream(Path("movie.avi")) << "x";
    EXPECT_EQ(FindSamiFileFor(Path("movie.avi")), "");
    WriteSami("movie.smi");
    EXPECT_EQ(FindSamiFileFor(Path("movie.avi")), Path("movie.smi"));
    // The dot of a folder name is not the file's extension.
    std::filesystem::create_directories(folder / "a.b");
    std::ofstream(Path("a.b/noext")) << "x";
    WriteSami("a.b/noext.smi");
    EXPECT_EQ(FindSamiFileFor(Path("a.b/noext")), Path("a.b/noext.smi"));
}

TEST_F(SubtitleScript, WritesAScriptForTheScreenAndBurnsItWithAKoreanFont)
{
    WriteSami("movie.smi");
    SubtitleScriptJob job { Path("movie.mp4"), 480, 320, LiveSubtitleScriptBase(folder.string()),
        35 };
    std::vector<std::string> options = MakeSubtitleScript(job);
    ASSERT_EQ(options.size(), 10u) << testing::PrintToString(options);
    EXPECT_EQ(std::vector<std::string>(options.begin(), options.begin() + 6),
        (std::vector<std::string> {
            "-vf-add", "fixpts=fps=24:start=35,ass,fixpts", "-ass", "-subcp", "cp949", "-font" }));
    EXPECT_TRUE(std::filesystem::exists(options[6])) << "the font file: " << options[6];
    EXPECT_EQ(std::vector<std::string>(options.begin() + 7, options.end()),
        (std::vector<std::string> { "-nosub", "-sub", Path("vembacast_temp.ass") }));
    std::string script = ReadAll(Path("vembacast_temp.ass"));
    EXPECT_NE(script.find("PlayResX: 480"), std::string::npos) << script;
    EXPECT_NE(script.find("PlayResY: 320"), std::string::npos);
    EXPECT_NE(script.find("Style: Default,Arial,24,"), std::string::npos); // 320 / 50 × 4
    EXPECT_NE(script.find("0:00:01.50,0:00:04.00,Default,,0000,0000,0000,,안녕하세요"),
        std::string::npos);
}

TEST_F(SubtitleScript, AnEmptyOrBrokenSamiFileDropsOnlyTheSubtitles)
{
    std::ofstream(Path("empty.smi")) << "<SAMI><BODY></BODY></SAMI>";
    EXPECT_TRUE(MakeSubtitleScript({ Path("empty.avi"), 480, 320, Path("s1"), 0 }).empty());
    std::ofstream(Path("binary.smi"), std::ios::binary)
        << std::string("\x00\xff\xfe<SYNC Start=", 15);
    EXPECT_TRUE(MakeSubtitleScript({ Path("binary.avi"), 480, 320, Path("s2"), 0 }).empty());
    WriteSami("ok.smi");
    EXPECT_TRUE(
        MakeSubtitleScript({ Path("ok.avi"), 480, 320, Path("missing/folder/s3"), 0 }).empty());
}

TEST_F(SubtitleScript, ConversionScriptNamesAreNeverShared)
{
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string base = TakeConvertSubtitleScriptBase();
        ASSERT_FALSE(base.empty());
        EXPECT_TRUE(std::filesystem::exists(base + ".ass"));
        EXPECT_NE(base.find("vembacast_conv_temp_"), std::string::npos);
        names.insert(base);
    }
    EXPECT_EQ(names.size(), 20u);
    for (const std::string& base : names)
        std::filesystem::remove(base + ".ass");
}
