// The engine's track modes alone: the options that choose them, the text of subtitle
// events as FFmpeg's decoders give it, the SubRip it writes, and picture subtitles laid
// over a frame of another size.

#include "engine/options.h"
#include "engine/stream_subtitles.h"
#include "engine/text_subtitles.h"

#include <gtest/gtest.h>

namespace {

EngineOptions Parse(const std::vector<std::string>& words)
{
    return ParseEngineCommandLine(words, [](const std::string&) { return false; });
}

TEST(TrackModes, OptionsChooseTheModeAndTheStreams)
{
    EngineOptions tracks = Parse({ "-tracks", "/m/a.mkv", "-o", "/tmp/t.txt" });
    EXPECT_TRUE(tracks.IsTrackListRun());
    EXPECT_FALSE(tracks.IsThumbnailRun());
    EXPECT_EQ(tracks.tracksInput, "/m/a.mkv");

    EngineOptions text = Parse({ "-textsub", "2", "/m/a.mkv", "-o", "/tmp/s.srt" });
    EXPECT_TRUE(text.IsTextSubtitleRun());
    EXPECT_EQ(text.textSubtitleTrack, 2);
    EXPECT_EQ(text.input, "/m/a.mkv");

    EngineOptions live = Parse({ "/m/a.mkv", "-aid", "1", "-sid", "0", "-o", "/tmp/x.ts" });
    EXPECT_EQ(live.audioTrack, 1);
    EXPECT_EQ(live.burntSubtitleTrack, 0);
    EXPECT_FALSE(live.IsTextSubtitleRun());
    for (const char* bad : { "-1", "1.5", "x" }) {
        EngineOptions ignored = Parse({ "/m/a.mkv", "-sid", bad, "-textsub", bad });
        EXPECT_EQ(ignored.burntSubtitleTrack, -1) << bad;
        EXPECT_EQ(ignored.textSubtitleTrack, -1) << bad;
    }
}

TEST(TrackModes, AssEventsGiveTheirTextWithoutStyling)
{
    EXPECT_EQ(AssEventText("0,0,Default,,0,0,0,,{\\i1}안녕{\\i0}\\N하세요"), "안녕\n하세요");
    EXPECT_EQ(AssEventText("3,0,Top,Name,10,10,10,Fx,a, b\\hc\\nd"), "a, b c\nd");
    // A brace that never closes is text.
    EXPECT_EQ(AssEventText("0,0,Default,,0,0,0,,1 { 2"), "1 { 2");
    EXPECT_EQ(AssEventText("too,few,fields"), "");
}

TEST(TrackModes, SubRipHasNoEmptyLineInsideAnEntry)
{
    const std::string srt = FormatSubRip(
        { { 1000, 2500, "첫 줄\n\n둘째 줄" }, { 3000, 2000, "x" }, { 3600000, 3600001, "  \n" } });
    EXPECT_EQ(srt,
        "1\n00:00:01,000 --> 00:00:02,500\n첫 줄\n둘째 줄\n\n"
        "2\n00:00:03,000 --> 00:00:03,000\nx\n\n");
}

TEST(TrackModes, PictureSubtitlesAreScaledToTheFrameColourByColour)
{
    StreamSubtitles::Event event;
    StreamSubtitles::Bitmap bitmap;
    bitmap.x = 100;
    bitmap.y = 200;
    bitmap.w = 4;
    bitmap.h = 2;
    bitmap.indices = { 2, 1, 1, 1, 0, 0, 0, 0 };
    bitmap.palette = { 0x00000000, 0xFFFFFFFF, 0x80FF0000 };
    event.bitmaps.push_back(bitmap);
    std::vector<std::vector<uint8_t>> masks;
    std::vector<ASS_Image> images;
    // A 400x400 canvas drawn on a 200x200 frame: half the size, half the place.
    StreamSubtitles::MakeImages(event, 400, 400, 200, 200, masks, images);
    ASSERT_EQ(images.size(), 2u); // the transparent colour gives none
    EXPECT_EQ(images[0].dst_x, 50);
    EXPECT_EQ(images[0].dst_y, 100);
    EXPECT_EQ(images[0].w, 2);
    EXPECT_EQ(images[0].h, 1);
    EXPECT_EQ(images[0].color, 0xFFFFFF00u); // opaque white
    EXPECT_EQ(images[0].next, &images[1]);
    EXPECT_EQ(images[1].color, 0xFF00007Fu); // half-transparent red
    EXPECT_EQ(images[1].next, nullptr);
    // Nearest pixels: columns 0 and 2 of the bitmap.
    EXPECT_EQ(std::vector<uint8_t>(images[0].bitmap, images[0].bitmap + 2),
        (std::vector<uint8_t> { 0, 255 }));
}

} // namespace
