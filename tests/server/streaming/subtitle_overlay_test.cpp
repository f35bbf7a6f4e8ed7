// The subtitle overlay: cursor rules, line breaking, placement, the answer bytes,
// real drawing with the installed Korean font, and entries read from SAMI files.

#include "config/settings_store.h"
#include "streaming/font_file.h"
#include "streaming/subtitle_entries.h"
#include "streaming/subtitle_overlay.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

std::vector<SubtitleEntry> Entries()
{
    return { { 1000, "one" }, { 3000, "" }, { 5000, "two" }, { 7000, "three" } };
}

uint32_t WordAt(const std::string& answer, size_t index)
{
    const auto* b = reinterpret_cast<const unsigned char*>(answer.data()) + index * 4;
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

// An overlayer with the settings and fonts of a server of its own.
struct OwnOverlayer {
    vembatest::TempFolder data { "overlay" };
    SettingsStore settings { data.Path() };
    FontFiles fonts;
    CSubtitleOverlayer overlayer { settings, fonts };
};

// Ten pixels per byte: widths that are easy to reason about.
int TenPerByte(const std::string& text)
{
    return static_cast<int>(text.size()) * 10;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(OverlayCursor, WaitsBeforeAnEntryThenDrawsItAndMovesOn)
{
    std::vector<SubtitleEntry> entries = Entries();
    int cursor = 0;
    OverlayStep step = StepSubtitleCursor(entries, cursor, 500);
    EXPECT_EQ(step.form, OverlayForm::Waiting);
    EXPECT_EQ(step.startWord, 1000u);
    step = StepSubtitleCursor(entries, cursor, 1200);
    ASSERT_EQ(step.form, OverlayForm::Bitmap);
    EXPECT_EQ(step.entry, 0u);
    EXPECT_EQ(step.startWord, 3000u) << "the first word is the next entry's start";
    EXPECT_EQ(cursor, 1);
    step = StepSubtitleCursor(entries, cursor, 1300);
    EXPECT_EQ(step.form, OverlayForm::Waiting);
    EXPECT_EQ(step.startWord, 3000u);
    step = StepSubtitleCursor(entries, cursor, 3100);
    EXPECT_EQ(step.form, OverlayForm::Empty) << "an entry without text clears the line";
}

TEST(OverlayCursor, JumpsForwardToTheLastStartedEntryAndBackOnASeek)
{
    std::vector<SubtitleEntry> entries = Entries();
    int cursor = 0;
    OverlayStep step = StepSubtitleCursor(entries, cursor, 6000);
    ASSERT_EQ(step.form, OverlayForm::Bitmap);
    EXPECT_EQ(entries[step.entry].text, "two");
    EXPECT_EQ(step.startWord, 7000u);
    step = StepSubtitleCursor(entries, cursor, 2000); // a seek back
    EXPECT_EQ(step.form, OverlayForm::Waiting);
    EXPECT_EQ(cursor, 0);
    EXPECT_EQ(step.startWord, 1000u);
    step = StepSubtitleCursor(entries, cursor, 500); // before every entry: the first comes again
    EXPECT_EQ(step.form, OverlayForm::Waiting);
    EXPECT_EQ(step.startWord, 1000u);
}

TEST(OverlayCursor, PastTheLastEntryAndWithoutEntriesTheAnswerIsEmpty)
{
    std::vector<SubtitleEntry> entries = Entries();
    int cursor = 0;
    EXPECT_EQ(StepSubtitleCursor(entries, cursor, 9000).form, OverlayForm::Empty);
    cursor = 3;
    OverlayStep step = StepSubtitleCursor(entries, cursor, 7500);
    ASSERT_EQ(step.form, OverlayForm::Bitmap);
    EXPECT_EQ(step.startWord, kNoNextSubtitle);
    EXPECT_EQ(StepSubtitleCursor(entries, cursor, 7600).form, OverlayForm::Empty);
    std::vector<SubtitleEntry> none;
    cursor = 0;
    EXPECT_EQ(StepSubtitleCursor(none, cursor, 0).form, OverlayForm::Empty);
    cursor = -5;
    EXPECT_EQ(StepSubtitleCursor(entries, cursor, 1500).form, OverlayForm::Bitmap);
}

TEST(OverlayLines, AWideLineBreaksAtTheLastFittingBlankAndMarksSplitLines)
{
    // 40 bytes: 400 pixels on a 320-pixel screen.
    const std::string line = "aaaa bbbb cccc dddd eeee ffff gggg hhhhh";
    std::vector<std::string> lines = BreakSubtitleLines(line, 320, TenPerByte);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "aaaa bbbb cccc dddd eeee ffff");
    EXPECT_EQ(lines[1], "gggg hhhhh");
    lines = BreakSubtitleLines("first\\Nsecond line", 320, TenPerByte);
    EXPECT_EQ(lines, (std::vector<std::string> { "first", "second line" }));
    lines = BreakSubtitleLines(std::string(50, 'x'), 320, TenPerByte);
    EXPECT_EQ(lines, (std::vector<std::string> { std::string(50, 'x') })) << "no blank: kept whole";
    lines = BreakSubtitleLines("aa bb", 0, TenPerByte);
    EXPECT_EQ(lines.size(), 1u) << "a zero-width screen breaks nothing and ends";
}

TEST(OverlayAnswer, PlacementAndWordsInNetworkOrder)
{
    EXPECT_EQ(OverlayY(480, 40), 430);
    EXPECT_EQ(OverlayY(30, 40), 0);
    EXPECT_EQ(OverlayY(50, 40), 0) << "zero is not positive";
    EXPECT_EQ(OverlayX(480, 100), 190);
    EXPECT_EQ(OverlayX(100, 300), 0);
    EXPECT_EQ(EmptyOverlayAnswer(), std::string(8, '\0'));
    EXPECT_EQ(WordAt(WaitingOverlayAnswer(0x01020304), 0), 0x01020304u);
    OverlayBitmap bitmap { 2, 1, { 255, 1, 2, 3, 0, 0, 0, 0 } };
    const std::string answer = BitmapOverlayAnswer(7000, 480, 320, bitmap);
    ASSERT_EQ(answer.size(), 24u + 8u);
    EXPECT_EQ(WordAt(answer, 0), 7000u);
    EXPECT_EQ(WordAt(answer, 1), 1u);
    EXPECT_EQ(WordAt(answer, 2), 239u);
    EXPECT_EQ(WordAt(answer, 3), 309u);
    EXPECT_EQ(WordAt(answer, 4), 2u);
    EXPECT_EQ(WordAt(answer, 5), 1u);
    EXPECT_EQ(answer.substr(24), std::string("\xff\x01\x02\x03\0\0\0\0", 8));
}

TEST(OverlayDrawing, KoreanTextRendersOutlinedWhiteOnTransparent)
{
    OwnOverlayer own;
    std::string font;
    ASSERT_EQ(own.fonts.GetFontFile("arial", font), 1) << "a Hangul font must be installed";
    CSubtitleOverlayer& overlayer = own.overlayer;
    ASSERT_TRUE(overlayer.SetFont(font, 24));
    OverlayBitmap bitmap;
    ASSERT_TRUE(overlayer.Render("안녕하세요 세계", 480, bitmap));
    ASSERT_GT(bitmap.width, 40);
    ASSERT_GT(bitmap.height, 10);
    ASSERT_EQ(bitmap.argb.size(), size_t(bitmap.width) * bitmap.height * 4);
    size_t white = 0, black = 0, clear = 0, other = 0;
    for (size_t i = 0; i < bitmap.argb.size(); i += 4) {
        const uint8_t* p = &bitmap.argb[i];
        if (p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0)
            ++clear;
        else if (p[0] == 255 && p[1] == 255 && p[2] == 255 && p[3] == 255)
            ++white;
        else if (p[0] == 255 && p[1] == 0 && p[2] == 0 && p[3] == 0)
            ++black;
        else
            ++other;
    }
    EXPECT_GT(white, 100u);
    EXPECT_GT(black, 100u) << "the outline";
    EXPECT_GT(clear, white) << "around the text the bitmap is transparent";
    EXPECT_EQ(other, 0u);

    // A screen narrower than the line: two lines, so the bitmap grows in height.
    OverlayBitmap narrow;
    ASSERT_TRUE(
        overlayer.Render("안녕하세요 세계", overlayer.MeasureLine("안녕하세요") + 5, narrow));
    EXPECT_GE(narrow.height, bitmap.height * 2 - 2);
    EXPECT_LT(narrow.width, bitmap.width);
}

TEST(OverlayDrawing, WithoutAFontNothingIsDrawn)
{
    OwnOverlayer own;
    CSubtitleOverlayer& overlayer = own.overlayer;
    OverlayBitmap bitmap;
    EXPECT_FALSE(overlayer.Render("text", 480, bitmap));
    EXPECT_FALSE(overlayer.SetFont("/nonexistent/font.ttf", 18));
}

TEST(OverlayEntries, ReadFromTheSamiFileBesideTheVideoInMilliseconds)
{
    vembatest::TempFolder folder("overlay");
    const std::string video = folder.Path() + "/movie.avi";
    WriteBytes(video, "not a video");
    WriteBytes(folder.Path() + "/movie.smi",
        "<SAMI><BODY>\n<SYNC Start=1500><P Class=KRCC>첫 줄<br>둘째 줄\n"
        "<SYNC Start=2500><P Class=KRCC>&nbsp;\n<SYNC Start=4000><P Class=KRCC>다음\n"
        "<SYNC Start=5000><P Class=KRCC>&nbsp;\n</BODY></SAMI>\n");
    std::vector<SubtitleEntry> entries = ReadSubtitleEntries(video);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0].startMs, 1500);
    EXPECT_EQ(entries[0].text, "첫 줄\\N둘째 줄");
    EXPECT_EQ(entries[1].startMs, 2500);
    EXPECT_TRUE(entries[1].text.empty());
    EXPECT_EQ(entries[2].startMs, 4000);
    EXPECT_EQ(entries[2].text, "다음");
    for (size_t i = 1; i < entries.size(); ++i)
        EXPECT_LE(entries[i - 1].startMs, entries[i].startMs);
    EXPECT_TRUE(ReadSubtitleEntries(folder.Path() + "/other.avi").empty());
}

TEST(OverlayEntries, AHostileSamiFileGivesNoEntriesOrReadableOnes)
{
    vembatest::TempFolder folder("overlay");
    WriteBytes(
        folder.Path() + "/a.smi", std::string("<SAMI><SYNC Start=-5><P>\xff\xfe\x80 x\0y", 30));
    for (const SubtitleEntry& entry : ReadSubtitleEntries(folder.Path() + "/a.avi"))
        EXPECT_GE(entry.startMs, 0);
    WriteBytes(folder.Path() + "/b.smi", "");
    EXPECT_TRUE(ReadSubtitleEntries(folder.Path() + "/b.avi").empty());
}
