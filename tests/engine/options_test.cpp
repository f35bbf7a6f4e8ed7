#include "engine/options.h"

#include <gtest/gtest.h>
#include <set>

namespace {

std::vector<std::string> Words(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

EngineOptions Parse(const std::string& text, std::set<std::string> files = {})
{
    return ParseEngineCommandLine(
        Words(text), [files](const std::string& path) { return files.count(path) > 0; });
}

const char* const kLivePreset1
    = " -ss 35  \"/media/My Movies/film.mkv\"  -fps 23.98  -ofps 24 -cache 8192 "
      "-vf scale=480:270 -vf-add harddup -ovc x264 -x264encopts "
      "bitrate=576:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:"
      "weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=1:keyint=24 -oac faac "
      "-faacopts mpeg=4:object=2:raw:br=48 -of lavf -lavfopts format=mpegts  -avthread "
      "-vembacast 5 -o \"/data/Services/ABCD/vemba-1-7.ts\" -pipename=50007";

} // namespace

TEST(EngineCommandLine, LivePresetLineGivesEveryValue)
{
    EngineOptions options = Parse(kLivePreset1);
    EXPECT_EQ(options.input, "/media/My Movies/film.mkv");
    EXPECT_DOUBLE_EQ(options.startSeconds, 35);
    EXPECT_NEAR(options.inputFpsHint, 23.98, 1e-9);
    EXPECT_EQ(options.outputFpsNum, 24);
    EXPECT_EQ(options.outputFpsDen, 1);
    ASSERT_EQ(options.filters.size(), 1u);
    EXPECT_EQ(options.filters[0].kind, FilterKind::Scale);
    EXPECT_EQ(options.filters[0].width, 480);
    EXPECT_EQ(options.filters[0].height, 270);
    EXPECT_EQ(options.x264Options.rfind("bitrate=576:", 0), 0u);
    EXPECT_EQ(options.audioBitrateKbps, 48);
    EXPECT_EQ(options.container, "mpegts");
    EXPECT_EQ(options.segmentSeconds, 5);
    EXPECT_EQ(options.output, "/data/Services/ABCD/vemba-1-7.ts");
    EXPECT_EQ(options.pipeNumber, 50007);
    EXPECT_FALSE(options.IsThumbnailRun());
    EXPECT_TRUE(options.notes.empty()) << options.notes.front();
}

TEST(EngineCommandLine, PresetFourHasNoX264OptionsAndKeepsTheNextOption)
{
    EngineOptions options
        = Parse(" \"/m/a.mp4\"  -fps 0.00  -ofps 24 -cache 8192 -vf-add harddup -ovc x264 "
                "-x264encopts -oac faac -faacopts mpeg=4:object=2:raw:br=128 -of lavf -lavfopts "
                "format=mpegts -avthread -vembacast 5 -o \"/s/id/vemba-4-1.ts\" -pipename=50002");
    EXPECT_TRUE(options.x264Options.empty());
    EXPECT_EQ(options.audioCodec, "faac");
    EXPECT_EQ(options.audioBitrateKbps, 128);
    EXPECT_DOUBLE_EQ(options.inputFpsHint, 0); // 0.00 is ignored
    EXPECT_TRUE(options.filters.empty());
    EXPECT_EQ(options.pipeNumber, 50002);
    EXPECT_TRUE(options.notes.empty());
}

TEST(EngineCommandLine, ConversionLineWithScaleAfterTheOtherFilters)
{
    EngineOptions options
        = Parse(" \"/m/a.avi\"  -fps 29.97   -sws 2 -mc 0 -ofps 24 -vf-add harddup -ovc x264 "
                "-x264encopts global_header:bitrate=800:threads=2 -oac faac -faacopts "
                "mpeg=4:object=2:raw:br=128 -of lavf -lavfopts format=mp4 -vf scale=270:480 "
                "-vf-add rotate=2  -avthread -o \"/m/a.tmp\" -pipename=50003");
    EXPECT_EQ(options.input, "/m/a.avi");
    EXPECT_EQ(options.container, "mp4");
    EXPECT_EQ(options.segmentSeconds, 0);
    ASSERT_EQ(options.filters.size(), 2u);
    EXPECT_EQ(options.filters[0].kind, FilterKind::Scale);
    EXPECT_EQ(options.filters[1].kind, FilterKind::Rotate);
    EXPECT_EQ(options.filters[1].rotation, 2);
    EXPECT_EQ(options.output, "/m/a.tmp");
    EXPECT_TRUE(options.notes.empty());
}

TEST(EngineCommandLine, SubtitleOptionsKeepTheChainOrderAndJoinAnUnquotedFontPath)
{
    std::string font = "/usr/share/fonts/truetype/Nanum Gothic/NanumGothic.ttf";
    EngineOptions options
        = Parse(" -ss 35  \"/m/a.mkv\"  -fps 25.00  -ofps 24 -vf scale=270:480 -vf-add ass "
                "-vf-add rotate=2 -vf-add harddup -vf-add fixpts=fps=24:start=35,ass,fixpts "
                "-ass -subcp cp949 -font "
                + font
                + " -nosub -sub \"/tmp/vembacast_temp_00000000.ass\"  -avthread -o \"/s/v-1-8.ts\" "
                  "-pipename=9",
            { font });
    ASSERT_EQ(options.filters.size(), 3u);
    EXPECT_EQ(options.filters[0].kind, FilterKind::Scale);
    EXPECT_EQ(options.filters[1].kind, FilterKind::Subtitles);
    EXPECT_EQ(options.filters[2].kind, FilterKind::Rotate);
    EXPECT_EQ(options.fontFile, font);
    EXPECT_EQ(options.subtitleCodepage, "cp949");
    EXPECT_EQ(options.subtitleFile, "/tmp/vembacast_temp_00000000.ass");
    EXPECT_TRUE(options.HasSubtitles());
    EXPECT_EQ(options.output, "/s/v-1-8.ts");
}

TEST(EngineCommandLine, ThumbnailLineIsThePipeAlone)
{
    EngineOptions options = Parse(" -pipename=50011");
    EXPECT_TRUE(options.IsThumbnailRun());
    EXPECT_EQ(options.pipeNumber, 50011);
    EXPECT_EQ(Parse("-pipename 77").pipeNumber, 77);
}

TEST(EngineCommandLine, UnknownOptionsAndMissingValuesAreNotedAndIgnored)
{
    EngineOptions options
        = Parse("\"/m/a.mp4\" -frobnicate -ss -vf scale=abc:-4 -ofps fast -vf-add "
                "mirror -pipename=x -o");
    EXPECT_EQ(options.input, "/m/a.mp4");
    EXPECT_DOUBLE_EQ(options.startSeconds, 0);
    EXPECT_EQ(options.outputFpsNum, 24);
    EXPECT_EQ(options.pipeNumber, 0);
    EXPECT_TRUE(options.output.empty());
    ASSERT_EQ(options.filters.size(), 1u); // scale with both sides unusable: the source size
    EXPECT_EQ(options.filters[0].width, 0);
    EXPECT_EQ(options.filters[0].height, 0);
    EXPECT_GE(options.notes.size(), 6u);
}

TEST(EngineCommandLine, OddRatesAndOutOfRangeValues)
{
    EngineOptions options = Parse("a.mp4 -ofps 30000/1001 -vembacast 0 -faacopts br=100000 -ss -3");
    EXPECT_EQ(options.outputFpsNum, 30000);
    EXPECT_EQ(options.outputFpsDen, 1001);
    EXPECT_EQ(options.segmentSeconds, 0);
    EXPECT_EQ(options.audioBitrateKbps, 128);
    EXPECT_DOUBLE_EQ(options.startSeconds, 0);
    EXPECT_EQ(Parse("a.mp4 -ofps 29.97").outputFpsNum, 29970);
}

TEST(EngineCommandLine, DirectStreamAndHdOptions)
{
    EngineOptions options
        = Parse(" -ss 17.263000 -kf 17.263 \"/m/film.mkv\" -ovc copy -oac copy -aid 1 "
                "-autorotate -cuts \"/data/Services/AB CD/cuts.txt\" -of lavf -lavfopts "
                "format=mpegts -vembacast 5 -o \"/data/Services/AB CD/vemba-5-4.ts\" "
                "-pipename=50012");
    EXPECT_EQ(options.input, "/m/film.mkv");
    EXPECT_DOUBLE_EQ(options.startSeconds, 17.263);
    EXPECT_DOUBLE_EQ(options.keyframeSeconds, 17.263);
    EXPECT_TRUE(options.CopyVideo());
    EXPECT_TRUE(options.CopyAudio());
    EXPECT_EQ(options.audioTrack, 1);
    EXPECT_TRUE(options.autoRotate);
    EXPECT_EQ(options.cutsFile, "/data/Services/AB CD/cuts.txt");
    EXPECT_FALSE(options.outputFpsGiven) << "no -ofps, no harddup: the source's rate";
    EXPECT_FALSE(options.IsThumbnailRun());
    EXPECT_FALSE(options.IsKeyframeIndexRun());
    EXPECT_TRUE(options.notes.empty()) << options.notes.front();

    // The templates' constant rate: harddup alone keeps 24, -ofps sets it.
    EXPECT_TRUE(Parse(kLivePreset1).outputFpsGiven);
    EngineOptions harddup = Parse("a.mp4 -vf-add harddup");
    EXPECT_TRUE(harddup.outputFpsGiven);
    EXPECT_EQ(harddup.outputFpsNum, 24);
    EXPECT_TRUE(Parse("a.mp4 -ofps 25").outputFpsGiven);
    EXPECT_FALSE(Parse("a.mp4").outputFpsGiven);
    EXPECT_FALSE(Parse("a.mp4").CopyVideo());

    // Unusable values are noted and leave the defaults.
    EngineOptions bad = Parse("a.mp4 -aid -1 -aid 1.5 -aid x -kf -4");
    EXPECT_EQ(bad.audioTrack, -1);
    EXPECT_LT(bad.keyframeSeconds, 0);
    EXPECT_GE(bad.notes.size(), 3u);
}

TEST(EngineCommandLine, KeyframeIndexLineNeedsNoPipes)
{
    EngineOptions options = Parse("-keyframes \"/m/My Film.mp4\" -o \"/tmp/index 1.txt\"");
    EXPECT_TRUE(options.IsKeyframeIndexRun());
    EXPECT_FALSE(options.IsThumbnailRun());
    EXPECT_EQ(options.keyframesInput, "/m/My Film.mp4");
    EXPECT_EQ(options.output, "/tmp/index 1.txt");
    EXPECT_EQ(options.pipeNumber, 0);
}
