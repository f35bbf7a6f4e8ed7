#include "streaming/command_line.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

// True when words holds run as consecutive words.
bool HoldsRun(const Words& words, const Words& run)
{
    return std::search(words.begin(), words.end(), run.begin(), run.end()) != words.end();
}

// The word after the option name, or "" when the option is missing.
std::string ValueOf(const Words& words, const std::string& name)
{
    auto found = std::find(words.begin(), words.end(), name);
    return found == words.end() || found + 1 == words.end() ? std::string() : *(found + 1);
}

LiveLine MakeLine(int bandwidth, int startSegmentIndex)
{
    LiveLine line;
    line.startSegmentIndex = startSegmentIndex;
    line.localPath = "/media/Movies/clip.avi";
    line.frameRate = 23.976f;
    line.size = { 480, 270 };
    line.processors = 2;
    line.servicesFolder = "/data/Services";
    line.clientId = "0123456789ABCDEF0123456789ABCDEF";
    line.bandwidth = bandwidth;
    line.pipeNumber = 50001;
    return line;
}

} // namespace

TEST(ScaledSize, LandscapeFitsTheScreen)
{
    ScaledSize size = ComputeScaledSize(480, 320, 1280, 720);
    EXPECT_EQ(size.width, 480);
    EXPECT_EQ(size.height, 270);
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::No), (Words { "-vf", "scale=480:270" }));
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::Yes), (Words { "-vf", "scale=480:270" }));
}

TEST(ScaledSize, PortraitUsesTheTurnedBoxAndIsRotated)
{
    ScaledSize size = ComputeScaledSize(480, 320, 720, 1280);
    EXPECT_EQ(size.width, 270);
    EXPECT_EQ(size.height, 480);
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::No),
        (Words { "-vf", "scale=270:480", "-vf-add", "rotate=2" }));
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::Yes),
        (Words { "-vf", "scale=270:480", "-vf-add", "ass", "-vf-add", "rotate=2" }));
}

TEST(ScaledSize, NeverEnlarges)
{
    ScaledSize size = ComputeScaledSize(480, 320, 320, 240);
    EXPECT_EQ(size.width, 320);
    EXPECT_EQ(size.height, 240);
}

TEST(ScaledSize, OddSidesRoundDownToMultiplesOfFour)
{
    // 271 is odd, so 268; 270 stays.
    ScaledSize odd = ComputeScaledSize(271, 1000, 271, 100);
    EXPECT_EQ(odd.width, 268);
    EXPECT_EQ(odd.height, 100);
    ScaledSize even = ComputeScaledSize(270, 1000, 270, 100);
    EXPECT_EQ(even.width, 270);
    // Rounding to nearest: 640 × 333/1000 = 213.1 → 213 (odd → 212); 360 × 0.333 = 119.9 → 120.
    ScaledSize rounded = ComputeScaledSize(213, 1000, 640, 360);
    EXPECT_EQ(rounded.width, 212);
    EXPECT_EQ(rounded.height, 120);
}

TEST(ScaledSize, DegenerateInputsNeverGiveAnEmptyPicture)
{
    EXPECT_EQ(ComputeScaledSize(0, 0, 1280, 720).width, 0); // no box: nothing to fit
    EXPECT_EQ(ComputeScaledSize(480, 320, 0, 0).width, 0); // unknown video size
    ScaledSize thin = ComputeScaledSize(100000, 1, 1280, 720);
    EXPECT_GE(thin.width, 2);
    EXPECT_GE(thin.height, 2);
    ScaledSize sliver = ComputeScaledSize(16, 16, 4000, 100);
    EXPECT_EQ(sliver.width, 16);
    EXPECT_EQ(sliver.height, 2);
}

TEST(CommandLine, FrameRateAndThreadsOptions)
{
    EXPECT_EQ(MakeFrameRateOption(23.976f), (Words { "-fps", "23.98" }));
    EXPECT_EQ(MakeFrameRateOption(0), (Words { "-fps", "0.00" }));
    EXPECT_EQ(MakeLiveThreadsOption(0), "threads=auto");
    EXPECT_EQ(MakeLiveThreadsOption(1), "threads=1");
    EXPECT_EQ(MakeLiveThreadsOption(2), "threads=1");
    EXPECT_EQ(MakeLiveThreadsOption(3), "threads=1");
    EXPECT_EQ(MakeLiveThreadsOption(4), "threads=auto");
}

TEST(CommandLine, LivePresetOneFromTheBeginning)
{
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(1, -1)),
        (Words { "/media/Movies/clip.avi", "-fps", "23.98", "-ofps", "24", "-cache", "8192", "-vf",
            "scale=480:270", "-vf-add", "harddup", "-ovc", "x264", "-x264encopts",
            "bitrate=576:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:"
            "weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=1:keyint=24",
            "-oac", "faac", "-faacopts", "mpeg=4:object=2:raw:br=48", "-of", "lavf", "-lavfopts",
            "format=mpegts", "-avthread", "-vembacast", "5", "-o",
            "/data/Services/0123456789ABCDEF0123456789ABCDEF/vemba-1-1.ts", "-pipename=50001" }));
}

TEST(CommandLine, PresetsDifferOnlyInBitrate)
{
    Words one = MakeLiveCommandLine(MakeLine(1, -1));
    Words two = MakeLiveCommandLine(MakeLine(2, -1));
    Words three = MakeLiveCommandLine(MakeLine(3, -1));
    EXPECT_EQ(ValueOf(two, "-x264encopts").rfind("bitrate=256:", 0), 0u);
    EXPECT_EQ(ValueOf(three, "-x264encopts").rfind("bitrate=96:", 0), 0u);
    EXPECT_TRUE(ValueOf(two, "-o").ends_with("/vemba-2-1.ts"));
    ASSERT_EQ(one.size(), two.size());
    std::replace(
        two.begin(), two.end(), ValueOf(two, "-x264encopts"), ValueOf(one, "-x264encopts"));
    std::replace(two.begin(), two.end(), ValueOf(two, "-o"), ValueOf(one, "-o"));
    EXPECT_EQ(one, two);
}

TEST(CommandLine, PresetFourHasNoScaleAndNoVideoOptions)
{
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(4, -1)),
        (Words { "/media/Movies/clip.avi", "-fps", "23.98", "-ofps", "24", "-cache", "8192",
            "-vf-add", "harddup", "-ovc", "x264", "-x264encopts", "-oac", "faac", "-faacopts",
            "mpeg=4:object=2:raw:br=128", "-of", "lavf", "-lavfopts", "format=mpegts", "-avthread",
            "-vembacast", "5", "-o", "/data/Services/0123456789ABCDEF0123456789ABCDEF/vemba-4-1.ts",
            "-pipename=50001" }));
}

TEST(CommandLine, SeekStartsAtTheSegmentAndNumbersFromIt)
{
    LiveLine line = MakeLine(1, 7);
    line.subtitleOptions = MakeSubtitleOptions("/fonts/gulim.ttc", "/tmp/vembacast_temp", 35);
    Words words = MakeLiveCommandLine(line);
    EXPECT_TRUE(HoldsRun(words, { "-ss", "35", "/media/Movies/clip.avi", "-fps" }))
        << testing::PrintToString(words);
    EXPECT_EQ(words.front(), "-ss");
    EXPECT_TRUE(ValueOf(words, "-o").ends_with("/vemba-1-7.ts"));
    EXPECT_TRUE(HoldsRun(words,
        { "format=mpegts", "-vf-add", "fixpts=fps=24:start=35,ass,fixpts", "-ass", "-subcp",
            "cp949", "-font", "/fonts/gulim.ttc", "-nosub", "-sub", "/tmp/vembacast_temp.ass",
            "-avthread" }))
        << testing::PrintToString(words);
    // The segment index 0 seeks to 0 s but still numbers from 1.
    EXPECT_TRUE(HoldsRun(MakeLiveCommandLine(MakeLine(1, 0)), { "-ss", "0" }));
    EXPECT_TRUE(ValueOf(MakeLiveCommandLine(MakeLine(1, 0)), "-o").ends_with("/vemba-1-1.ts"));
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(1, 0)).back(), "-pipename=50001") << "always last";
}

TEST(CommandLine, VariantsWithoutEncodingGiveNoLine)
{
    EXPECT_TRUE(MakeLiveCommandLine(MakeLine(0, -1)).empty());
    EXPECT_TRUE(MakeLiveCommandLine(MakeLine(5, -1)).empty());
    EXPECT_TRUE(MakeLiveCommandLine(MakeLine(6, -1)).empty());
}

namespace {

// The words the engine receives for a live and a conversion line built around
// these names.
Words EngineWords(const std::string& input, const std::string& services, const std::string& font,
    const std::string& output)
{
    LiveLine line = MakeLine(2, 3);
    line.localPath = input;
    line.servicesFolder = services;
    line.subtitleOptions = MakeSubtitleOptions(font, services + "/script", 15);
    Words words = MakeLiveCommandLine(line);
    ConvertLine convert;
    convert.localPath = input;
    convert.outputPath = output;
    convert.processors = 2;
    convert.size = { 320, 240 };
    for (std::string& word : MakeConvertCommandLine(convert))
        words.push_back(std::move(word));
    return words;
}

bool Holds(const Words& words, const std::string& word)
{
    return std::find(words.begin(), words.end(), word) != words.end();
}

} // namespace

TEST(CommandLine, EveryByteANameMayHoldReachesTheEngineAsItIs)
{
    const std::string hostile[] = { "/m/ends in a backslash\\", "/m/two at the end\\\\",
        "/m/quote\"inside", "/m/back\\\"slash quote", "/m/\\\\\"\\\"\\", "/m/new\nline\r.mp4",
        "/m/tab\there", "/m/%n%s%x.mp4", "/m/'single' $HOME `x` ;&|", "/m/\"\"", "/m/ lead",
        "/m/trail ", "/m/한국어 영화.mkv", "/m/-dash first.mp4", "/m/-ss" };
    for (const std::string& name : hostile) {
        Words words = EngineWords(name, name + "/S", name + ".ttf", name + ".mp4");
        EXPECT_EQ(std::count(words.begin(), words.end(), name), 2) << name;
        EXPECT_TRUE(Holds(words, name + ".mp4")) << name;
        EXPECT_TRUE(Holds(words, name + ".ttf")) << name;
        EXPECT_TRUE(Holds(words, name + "/S/script.ass")) << name;
        EXPECT_TRUE(Holds(words, name + "/S/0123456789ABCDEF0123456789ABCDEF/vemba-2-3.ts"))
            << name;
    }
    EXPECT_EQ(MakeSubtitleOptions("/fonts/my font.ttf", "/t/s \"x\"", 0),
        (Words { "-vf-add", "fixpts=fps=24,ass,fixpts", "-ass", "-subcp", "cp949", "-font",
            "/fonts/my font.ttf", "-nosub", "-sub", "/t/s \"x\".ass" }));
    // Every byte but NUL and '/', one name each.
    for (int byte = 1; byte < 256; ++byte) {
        if (byte == '/')
            continue;
        std::string name = "/m/a" + std::string(1, char(byte)) + "b" + std::string(1, char(byte));
        Words words = EngineWords(name, "/s", "/f.ttf", name);
        EXPECT_EQ(std::count(words.begin(), words.end(), name), 3) << byte;
    }
}

TEST(CommandLine, APathThatLooksLikeAnOptionIsGivenAsTheSameFile)
{
    // The engine takes a word that starts with '-' for an option: a relative path
    // that does is given from "./", every other path as it is.
    EXPECT_EQ(EnginePathWord("-ss"), "./-ss");
    EXPECT_EQ(EnginePathWord("-5"), "./-5");
    EXPECT_EQ(EnginePathWord("-my film.mp4"), "./-my film.mp4");
    EXPECT_EQ(EnginePathWord("/m/-film.mp4"), "/m/-film.mp4");
    EXPECT_EQ(EnginePathWord("film.mp4"), "film.mp4");
    Words words = EngineWords("-in.mp4", "-services", "-font.ttf", "-out.m4v");
    EXPECT_EQ(std::count(words.begin(), words.end(), "./-in.mp4"), 2);
    EXPECT_TRUE(Holds(words, "./-out.m4v"));
    EXPECT_TRUE(Holds(words, "./-font.ttf"));
    EXPECT_TRUE(Holds(words, "./-services/script.ass"));
    EXPECT_TRUE(Holds(words, "./-services/0123456789ABCDEF0123456789ABCDEF/vemba-2-3.ts"));
    for (const std::string& word : words)
        EXPECT_FALSE(word == "-in.mp4" || word == "-out.m4v" || word == "-font.ttf"
            || word.starts_with("-services"))
            << word;
}

TEST(CommandLine, Conversion)
{
    ConvertLine line;
    line.localPath = "/media/clip.avi";
    line.frameRate = 25;
    line.size = ComputeScaledSize(kConvertBoxWidth, kConvertBoxHeight, 720, 1280);
    line.subtitleOptions = MakeSubtitleOptions("/fonts/k.ttf", "/tmp/vembacast_conv_temp_1", 0);
    line.bitrate = 800;
    line.processors = 2;
    line.outputPath = "/media/clip-vembacast.m4v";
    line.pipeNumber = 50007;
    EXPECT_EQ(MakeConvertCommandLine(line),
        (Words { "/media/clip.avi", "-fps", "25.00", "-sws", "2", "-mc", "0", "-ofps", "24",
            "-vf-add", "harddup", "-ovc", "x264", "-x264encopts",
            "global_header:bitrate=800:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:"
            "trellis=0:weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=2",
            "-oac", "faac", "-faacopts", "mpeg=4:object=2:raw:br=128", "-of", "lavf", "-lavfopts",
            "format=mp4", "-vf", "scale=270:480", "-vf-add", "rotate=2", "-vf-add",
            "fixpts=fps=24,ass,fixpts", "-ass", "-subcp", "cp949", "-font", "/fonts/k.ttf",
            "-nosub", "-sub", "/tmp/vembacast_conv_temp_1.ass", "-avthread", "-o",
            "/media/clip-vembacast.m4v", "-pipename=50007" }));
}

TEST(CommandLine, ABrowsersTrackChoicesReachTheEngineAndThePhonesLineHasNone)
{
    for (int bandwidth : { 1, 4 }) {
        LiveLine line = MakeLine(bandwidth, -1);
        const Words phone = MakeLiveCommandLine(line);
        EXPECT_EQ(std::count(phone.begin(), phone.end(), "-aid"), 0);
        EXPECT_EQ(std::count(phone.begin(), phone.end(), "-sid"), 0);
        line.audioTrack = 1;
        line.burntSubtitle = 2;
        const Words chosen = MakeLiveCommandLine(line);
        EXPECT_EQ(ValueOf(chosen, "-aid"), "1") << bandwidth;
        EXPECT_EQ(ValueOf(chosen, "-sid"), "2") << bandwidth;
        // A SAMI file burnt in already takes the place of a stream.
        line.subtitleOptions = MakeSubtitleOptions("/fonts/gulim.ttc", "/tmp/script", 0);
        const Words sami = MakeLiveCommandLine(line);
        EXPECT_EQ(std::count(sami.begin(), sami.end(), "-sid"), 0);
    }
}
