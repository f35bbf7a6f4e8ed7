#include "platform/process.h"
#include "streaming/command_line.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

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
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::No), "-vf scale=480:270");
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::Yes), "-vf scale=480:270");
}

TEST(ScaledSize, PortraitUsesTheTurnedBoxAndIsRotated)
{
    ScaledSize size = ComputeScaledSize(480, 320, 720, 1280);
    EXPECT_EQ(size.width, 270);
    EXPECT_EQ(size.height, 480);
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::No), "-vf scale=270:480 -vf-add rotate=2");
    EXPECT_EQ(MakeScaleOption(size, BurnSubtitles::Yes),
        "-vf scale=270:480 -vf-add ass -vf-add rotate=2");
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
    EXPECT_EQ(MakeFrameRateOption(23.976f), " -fps 23.98 ");
    EXPECT_EQ(MakeFrameRateOption(0), " -fps 0.00 ");
    EXPECT_EQ(MakeLiveThreadsOption(0), "threads=auto");
    EXPECT_EQ(MakeLiveThreadsOption(1), "threads=1");
    EXPECT_EQ(MakeLiveThreadsOption(2), "threads=1");
    EXPECT_EQ(MakeLiveThreadsOption(3), "threads=1");
    EXPECT_EQ(MakeLiveThreadsOption(4), "threads=auto");
}

TEST(CommandLine, LivePresetOneFromTheBeginning)
{
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(1, -1)),
        " \"/media/Movies/clip.avi\"  -fps 23.98  -ofps 24 -cache 8192 -vf scale=480:270 "
        "-vf-add harddup -ovc x264 -x264encopts "
        "bitrate=576:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:weightp=0:"
        "nocabac:no8x8dct:bframes=0:frameref=1:threads=1:keyint=24 -oac faac -faacopts "
        "mpeg=4:object=2:raw:br=48 -of lavf -lavfopts format=mpegts  -avthread -vembacast 5 -o "
        "\"/data/Services/0123456789ABCDEF0123456789ABCDEF/vemba-1-1.ts\" -pipename=50001");
}

TEST(CommandLine, PresetsDifferOnlyInBitrate)
{
    std::string one = MakeLiveCommandLine(MakeLine(1, -1));
    std::string two = MakeLiveCommandLine(MakeLine(2, -1));
    std::string three = MakeLiveCommandLine(MakeLine(3, -1));
    EXPECT_NE(two.find("bitrate=256:"), std::string::npos);
    EXPECT_NE(three.find("bitrate=96:"), std::string::npos);
    EXPECT_NE(two.find("vemba-2-1.ts"), std::string::npos);
    two.replace(two.find("bitrate=256"), 11, "bitrate=576");
    two.replace(two.find("vemba-2-1"), 9, "vemba-1-1");
    EXPECT_EQ(one, two);
}

TEST(CommandLine, PresetFourHasNoScaleAndNoVideoOptions)
{
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(4, -1)),
        " \"/media/Movies/clip.avi\"  -fps 23.98  -ofps 24 -cache 8192 -vf-add harddup -ovc x264 "
        "-x264encopts -oac faac -faacopts mpeg=4:object=2:raw:br=128 -of lavf -lavfopts "
        "format=mpegts -avthread -vembacast 5 -o "
        "\"/data/Services/0123456789ABCDEF0123456789ABCDEF/vemba-4-1.ts\" -pipename=50001");
}

TEST(CommandLine, SeekStartsAtTheSegmentAndNumbersFromIt)
{
    LiveLine line = MakeLine(1, 7);
    line.subtitleOptions = MakeSubtitleOptions("/fonts/gulim.ttc", "/tmp/vembacast_temp", 35);
    std::string text = MakeLiveCommandLine(line);
    EXPECT_EQ(text.rfind(" -ss 35  \"/media/Movies/clip.avi\" ", 0), 0u) << text;
    EXPECT_NE(text.find("vemba-1-7.ts"), std::string::npos);
    EXPECT_NE(text.find("format=mpegts -vf-add fixpts=fps=24:start=35,ass,fixpts -ass -subcp "
                        "cp949 -font /fonts/gulim.ttc -nosub -sub \"/tmp/vembacast_temp.ass\"  "
                        "-avthread"),
        std::string::npos)
        << text;
    // The segment index 0 seeks to 0 s but still numbers from 1.
    EXPECT_NE(MakeLiveCommandLine(MakeLine(1, 0)).find(" -ss 0 "), std::string::npos);
    EXPECT_NE(MakeLiveCommandLine(MakeLine(1, 0)).find("vemba-1-1.ts"), std::string::npos);
}

TEST(CommandLine, VariantsWithoutEncodingGiveNoLine)
{
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(0, -1)), "");
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(5, -1)), "");
    EXPECT_EQ(MakeLiveCommandLine(MakeLine(6, -1)), "");
}

TEST(CommandLine, PathsWithQuotesAndBlanksStayOneWord)
{
    LiveLine line = MakeLine(3, -1);
    line.localPath = "/media/My \"best\" clip.mkv";
    line.servicesFolder = "/home/u/Vemba Family/Vemba Cast/Services";
    std::string text = MakeLiveCommandLine(line);
    EXPECT_NE(text.find("\"/media/My \\\"best\\\" clip.mkv\""), std::string::npos) << text;
    EXPECT_NE(text.find("-o \"/home/u/Vemba Family/Vemba Cast/Services/"), std::string::npos);
    EXPECT_EQ(MakeSubtitleOptions("/fonts/my font.ttf", "/t/s", 0),
        "-vf-add fixpts=fps=24,ass,fixpts -ass -subcp cp949 -font \"/fonts/my font.ttf\" -nosub "
        "-sub \"/t/s.ass\" ");
}

namespace {

// The words the engine receives for a line built around these names.
std::vector<std::string> EngineWords(const std::string& input, const std::string& services,
    const std::string& font, const std::string& output)
{
    LiveLine line = MakeLine(2, 3);
    line.localPath = input;
    line.servicesFolder = services;
    line.subtitleOptions = MakeSubtitleOptions(font, services + "/script", 15);
    std::vector<std::string> words = SplitCommandLine(MakeLiveCommandLine(line));
    ConvertLine convert;
    convert.localPath = input;
    convert.outputPath = output;
    convert.processors = 2;
    convert.size = { 320, 240 };
    for (std::string& word : SplitCommandLine(MakeConvertCommandLine(convert)))
        words.push_back(std::move(word));
    return words;
}

bool Holds(const std::vector<std::string>& words, const std::string& word)
{
    return std::find(words.begin(), words.end(), word) != words.end();
}

} // namespace

TEST(CommandLine, EveryByteANameMayHoldSurvivesTheEnginesSplitter)
{
    const std::string hostile[] = { "/m/ends in a backslash\\", "/m/two at the end\\\\",
        "/m/quote\"inside", "/m/back\\\"slash quote", "/m/\\\\\"\\\"\\", "/m/new\nline\r.mp4",
        "/m/tab\there", "/m/%n%s%x.mp4", "/m/'single' $HOME `x` ;&|", "/m/\"\"", "/m/ lead",
        "/m/trail ", "/m/한국어 영화.mkv" };
    for (const std::string& name : hostile) {
        std::vector<std::string> words
            = EngineWords(name, name + "/S", name + ".ttf", name + ".mp4");
        EXPECT_EQ(std::count(words.begin(), words.end(), name), 2) << name;
        EXPECT_TRUE(Holds(words, name + ".mp4")) << name;
        EXPECT_TRUE(Holds(words, name + ".ttf")) << name;
        EXPECT_TRUE(Holds(words, name + "/S/script.ass")) << name;
        EXPECT_TRUE(Holds(words, name + "/S/0123456789ABCDEF0123456789ABCDEF/vemba-2-3.ts"))
            << name;
    }
    // Every byte but NUL and '/', one name each.
    for (int byte = 1; byte < 256; ++byte) {
        if (byte == '/')
            continue;
        std::string name = "/m/a" + std::string(1, char(byte)) + "b" + std::string(1, char(byte));
        std::vector<std::string> words = EngineWords(name, "/s", "/f.ttf", name);
        EXPECT_EQ(std::count(words.begin(), words.end(), name), 3) << byte;
    }
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
        " \"/media/clip.avi\"  -fps 25.00   -sws 2 -mc 0 -ofps 24 -vf-add harddup -ovc x264 "
        "-x264encopts global_header:bitrate=800:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:"
        "subq=0:trellis=0:weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=2 -oac faac "
        "-faacopts mpeg=4:object=2:raw:br=128 -of lavf -lavfopts format=mp4 -vf scale=270:480 "
        "-vf-add rotate=2 -vf-add fixpts=fps=24,ass,fixpts -ass -subcp cp949 -font /fonts/k.ttf "
        "-nosub -sub \"/tmp/vembacast_conv_temp_1.ass\"  -avthread -o "
        "\"/media/clip-vembacast.m4v\" -pipename=50007");
}
