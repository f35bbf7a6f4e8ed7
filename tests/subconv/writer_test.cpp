#include "subconv_test_util.h"
#include "subtitle_writer.h"

#include <gtest/gtest.h>

using namespace subvoro;
using namespace subvoro::test;

namespace {

// Three entries: one with tags and a line break, one with a negative start, one plain.
CSimpleTextSubtitle SampleModel()
{
    CSimpleTextSubtitle sts;
    sts.screenWidth = 640;
    sts.screenHeight = 480;
    sts.AddEntry(L"Hi {\\i1}there{\\i0}\nnext", false, 1999, 3723004);
    sts.AddEntry(L"before zero", false, -5, 10);
    sts.AddEntry(L"Last", false, 5000, 6000);
    sts.EnsureDefaultStyle();
    return sts;
}

std::string Written(const CSimpleTextSubtitle& sts, exttype type, double frameRate = -1.0)
{
    CTextFile out;
    out.SaveToMemory(TextEncoding::Ascii);
    WriteSubtitle(sts, out, type, frameRate);
    return out.MemoryOutput();
}

const char kDefaultAssStyle[] = "Style: "
                                "Default,Arial,18,&H00ffffff,&H0000ffff,&H00000000,&H80000000,-1,0,"
                                "0,0,100,100,0,0.00,1,2,3,2,20,20,20,1\r\n";

} // namespace

TEST(SubtitleWriter, SubRipNumbersOnlyWrittenEntriesAndDropsTags)
{
    EXPECT_EQ(Written(SampleModel(), EXTSRT),
        "1\r\n00:00:01,999 --> 01:02:03,004\r\nHi there\r\nnext\r\n\r\n"
        "2\r\n00:00:05,000 --> 00:00:06,000\r\nLast\r\n\r\n");
}

TEST(SubtitleWriter, FrameAndBraceFormatsUseBarsForBreaks)
{
    // Without a frame rate the fallback of 25 frames a second applies.
    EXPECT_EQ(Written(SampleModel(), EXTSUB), "{49}{93075}Hi there|next\r\n{125}{150}Last\r\n");
    EXPECT_EQ(Written(SampleModel(), EXTSUB, 10.0), "{19}{37230}Hi there|next\r\n{50}{60}Last\r\n");
    EXPECT_EQ(Written(SampleModel(), EXTPSB),
        "{0:00:01}{1:02:03}Hi there|next\r\n{0:00:05}{0:00:06}Last\r\n");
}

TEST(SubtitleWriter, SamiHasItsFixedFrameAndBreakTags)
{
    const std::string smi = Written(SampleModel(), EXTSMI);
    EXPECT_EQ(smi.rfind("<SAMI>\r\n<HEAD>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n", 0), 0u);
    EXPECT_NE(smi.find(".UNKNOWNCC {Name:Unknown; lang:en-US; "
                       "SAMIType:CC;}\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n\r\n<BODY>\r\n"
                       "<SYNC Start=1999><P Class=UNKNOWNCC>\r\nHi there<br>next\r\n"
                       "<SYNC Start=3723004><P Class=UNKNOWNCC>&nbsp;\r\n"
                       "<SYNC Start=5000><P Class=UNKNOWNCC>\r\nLast\r\n"
                       "<SYNC Start=6000><P Class=UNKNOWNCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n"),
        std::string::npos);
}

TEST(SubtitleWriter, AssKeepsTagsAndTruncatesHundredths)
{
    const std::string ass = Written(SampleModel(), EXTASS);
    EXPECT_EQ(
        ass.rfind("[Script Info]\r\n; This is an Advanced Sub Station Alpha v4+ script.\r\n", 0),
        0u);
    EXPECT_NE(
        ass.find(
            "; \r\nScriptType: v4.00+\r\nCollisions: Normal\r\nPlayResX: 640\r\nPlayResY: 480\r\n"
            "Timer: 100.0000\r\n\r\n[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, "
            "PrimaryColour, "),
        std::string::npos);
    EXPECT_NE(ass.find(kDefaultAssStyle), std::string::npos);
    EXPECT_NE(
        ass.find(
            "\r\n[Events]\r\nFormat: Layer, Start, End, Style, Actor, MarginL, MarginR, MarginV, "
            "Effect, Text\r\n"
            "Dialogue: 0,0:00:01.99,1:02:03.00,Default,,0000,0000,0000,,Hi "
            "{\\i1}there{\\i0}\\Nnext\r\n"
            "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0000,0000,0000,,Last\r\n"),
        std::string::npos);
    EXPECT_EQ(ass.find("before zero"), std::string::npos);
}

TEST(SubtitleWriter, SsaUsesItsOwnStyleAndDialogueFormat)
{
    CSimpleTextSubtitle sts = SampleModel();
    STSStyle top;
    top.alignment = 8;
    sts.InsertStyle(L"Top", top);
    STSStyle middle;
    middle.alignment = 5;
    sts.InsertStyle(L"Middle", middle);
    sts.entries[2].style = L"Top";
    sts.entries[2].margins = { 5, 7, 6, 10 };
    const std::string ssa = Written(sts, EXTSSA);
    EXPECT_NE(ssa.find("ScriptType: v4.00\r\n"), std::string::npos);
    EXPECT_NE(
        ssa.find(
            "[V4 Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
            "TertiaryColour, BackColour, Bold, Italic, BorderStyle, Outline, Shadow, Alignment, "
            "MarginL, MarginR, MarginV, AlphaLevel, Encoding\r\n"),
        std::string::npos);
    EXPECT_NE(
        ssa.find(
            "Style: "
            "Default,Arial,18,&Hffffff,&H00ffff,&H000000,&H000000,-1,0,1,2,3,2,20,20,20,0,1\r\n"),
        std::string::npos);
    EXPECT_NE(
        ssa.find("Style: "
                 "Top,Arial,18,&Hffffff,&H00ffff,&H000000,&H000000,-1,0,1,2,3,6,20,20,20,0,1\r\n"),
        std::string::npos);
    EXPECT_NE(
        ssa.find(
            "Style: "
            "Middle,Arial,18,&Hffffff,&H00ffff,&H000000,&H000000,-1,0,1,2,3,10,20,20,20,0,1\r\n"),
        std::string::npos);
    EXPECT_NE(
        ssa.find(
            "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
            "Dialogue: Marked=0,0:00:01.99,1:02:03.00,Default,,0000,0000,0000,,Hi "
            "{\\i1}there{\\i0}\\Nnext\r\n"
            "Dialogue: Marked=0,0:00:05.00,0:00:06.00,Top,,0005,0006,0008,,Last\r\n"),
        std::string::npos);
}

TEST(SubtitleWriter, EmptyModelHasHeaderAndStylesButNoEvents)
{
    CSimpleTextSubtitle sts;
    sts.EnsureDefaultStyle();
    const std::string ass = Written(sts, EXTASS);
    EXPECT_NE(ass.find(kDefaultAssStyle), std::string::npos);
    EXPECT_EQ(ass.find("[Events]"), std::string::npos);
    EXPECT_EQ(Written(SampleModel(), EXTTXT), "");
}

TEST(SubtitleWriter, OutputNameGetsTheExtensionUnlessItHasIt)
{
    EXPECT_EQ(CompleteOutputName("/tmp/fil1a2.tmp", EXTASS), "/tmp/fil1a2.tmp.ass");
    EXPECT_EQ(CompleteOutputName("/tmp/sub", EXTASS), "/tmp/sub.ass");
    EXPECT_EQ(CompleteOutputName("/tmp/sub.", EXTASS), "/tmp/sub.ass");
    EXPECT_EQ(CompleteOutputName("/tmp/sub.ASS", EXTASS), "/tmp/sub.ASS");
    EXPECT_EQ(CompleteOutputName("/tmp/sub.Srt", EXTSRT), "/tmp/sub.Srt");
    EXPECT_EQ(CompleteOutputName("/tmp/v1.0/sub", EXTRT), "/tmp/v1.0/sub.rt");
}

TEST(SubtitleWriter, PlainFormatsCarryAReadDefaultStyleInACompanion)
{
    CTempFolder folder;
    CSimpleTextSubtitle generated = SampleModel();
    ASSERT_TRUE(SaveSubtitleFile(generated, folder.Path("gen"), EXTSRT, -1.0, TextEncoding::Ascii));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("gen.srt.style")));

    CSimpleTextSubtitle read = SampleModel();
    read.styles.clear();
    STSStyle style;
    style.fontName = L"Gulim";
    read.InsertStyle(L"Default", style);
    read.EnsureDefaultStyle();
    ASSERT_TRUE(SaveSubtitleFile(read, folder.Path("read"), EXTSMI, -1.0, TextEncoding::Ascii));
    EXPECT_EQ(ReadFile(folder.Path("read.smi.style")),
        "ScriptType: v4.00+\r\nPlayResX: 640\r\nPlayResY: 480\r\n\r\n[V4+ Styles]\r\nFormat: Name, "
        "Fontname, "
        "Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
        "Underline, StrikeOut, "
        "ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
        "MarginR, MarginV, "
        "Encoding\r\nStyle: "
        "Default,Gulim,18,&H00ffffff,&H0000ffff,&H00000000,&H80000000,-1,0,0,0,100,100,0,"
        "0.00,1,2,3,2,20,20,20,1\r\n");
    // ASS carries its styles itself.
    ASSERT_TRUE(SaveSubtitleFile(read, folder.Path("read"), EXTASS, -1.0, TextEncoding::Ascii));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("read.ass.style")));
}

TEST(SubtitleWriter, UnicodeEntriesAreWrittenInTheStylesCodePage)
{
    CSimpleTextSubtitle sts;
    sts.AddEntry(L"\uD55C\u00E9", true, 0, 1000);
    STSStyle korean;
    korean.charSet = 129;
    sts.InsertStyle(L"Korean", korean);
    sts.AddEntry(L"\uD55C\u00E9", true, 0, 1000, L"Korean");
    sts.EnsureDefaultStyle();
    const std::string srt = Written(sts, EXTSRT);
    EXPECT_NE(
        srt.find("\r\n\xED\x95\x9C\xC3\xA9\r\n"), std::string::npos); // character set 1: UTF-8
    EXPECT_NE(srt.find("\r\n" + Recode("\xED\x95\x9C", "CP949") + "?\r\n"), std::string::npos);
}

TEST(SubtitleWriter, TimedListHoldsStartAndEndItemsPerEntry)
{
    SubtitleList_t list;
    ASSERT_TRUE(FillTimedList(SampleModel(), &list, EXTSRT, -1.0));
    ASSERT_EQ(list.nCount, 6);
    EXPECT_EQ(list.pItems[0].nTime, 1999);
    EXPECT_STREQ(list.pItems[0].pszText, "Hi there\nnext");
    EXPECT_EQ(list.pItems[1].nTime, 3723004);
    EXPECT_STREQ(list.pItems[1].pszText, " ");
    EXPECT_EQ(list.pItems[2].pszText, nullptr); // the entry before zero keeps its place, empty
    EXPECT_EQ(list.pItems[4].nTime, 5000);
    ASSERT_TRUE(FillTimedList(SampleModel(), &list, EXTASS, -1.0)); // refilling frees the old items
    EXPECT_STREQ(list.pItems[0].pszText, "Hi {\\i1}there{\\i0}\nnext");
}
