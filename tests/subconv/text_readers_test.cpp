#include "subconv_test_util.h"

#include <gtest/gtest.h>

using namespace subvoro;
using namespace subvoro::test;

TEST(SubRipReader, ReadsCountersTimesTagsAndMultiLineTexts)
{
    const CSimpleTextSubtitle sts
        = ReadBytes("1\r\n00:00:01,500 --> 00:00:04,000\r\n<i>Hello</i>\r\n<B>World</b>\r\n\r\n"
                    "2\r\n00:00:05,000 --> 00:00:06,250\r\nPara one\r\n\r\nstill <u>two</u>\r\n");
    EXPECT_EQ(sts.mode, TimeMode::Milliseconds);
    ASSERT_EQ(sts.entries.size(), 2u);
    EXPECT_EQ(sts.entries[0].text, L"{\\i1}Hello{\\i}\n{\\b1}World{\\b}");
    EXPECT_EQ(sts.entries[0].start, 1500);
    EXPECT_EQ(sts.entries[0].end, 4000);
    // An empty line that no counter follows belongs to the text.
    EXPECT_EQ(sts.entries[1].text, L"Para one\n\nstill {\\u1}two{\\u}");
    EXPECT_EQ(sts.entries[1].end, 6250);
}

TEST(OldSubRipReader, ReadsBraceTimesAndBarBreaks)
{
    const CSimpleTextSubtitle sts
        = ReadBytes("{0:00:01}{0:00:03}One|Two\n{1:00:00}{1:00:02}Three\n");
    ASSERT_EQ(sts.entries.size(), 2u);
    EXPECT_EQ(sts.entries[0].text, L"One\nTwo");
    EXPECT_EQ(sts.entries[0].start, 1000);
    EXPECT_EQ(sts.entries[1].start, 3600000);
    EXPECT_EQ(sts.entries[1].end, 3602000);
}

TEST(SubViewerReader, HeaderTagsBecomeOverridesThatDifferFromTheDefault)
{
    const CSimpleTextSubtitle sts
        = ReadBytes("[INFORMATION]\n[TITLE]Film, the\n[END INFORMATION]\n[SUBTITLE]\n"
                    "[COLF]&HFF0000,[STYLE]no,[SIZE]24,[FONT]Tahoma\n"
                    "00:00:01.50,00:00:03.25\nLine one[br]line two\n\n"
                    "[COLF]&HFFFFFF,[SIZE]18,[FONT]Arial\n"
                    "00:00:04.00,00:00:05.00\nPlain\n");
    ASSERT_EQ(sts.entries.size(), 2u);
    EXPECT_EQ(sts.entries[0].text, L"{\\fnTahoma\\c&Hff0000&\\fs24}Line one\nline two");
    EXPECT_EQ(sts.entries[0].start, 1500);
    EXPECT_EQ(sts.entries[0].end, 3250);
    EXPECT_EQ(sts.entries[1].text, L"Plain");
}

TEST(MicroDvdReader, ReadsFramesStylesCodesAndOpenEnds)
{
    const CSimpleTextSubtitle sts = ReadBytes("{DEFAULT}{}{c:$0000FF}{s:24}\n"
                                              "{10}{50}Hi|there{y:i}\n"
                                              "{60}{}Open\n"
                                              "{80}{90}{o:10,20}{c:$ff00}End{f:Courier}\n");
    EXPECT_EQ(sts.mode, TimeMode::Frames);
    ASSERT_EQ(sts.entries.size(), 3u);
    EXPECT_EQ(sts.entries[0].text, L"Hi\nthere{\\i1}");
    EXPECT_EQ(sts.entries[0].start, 10);
    EXPECT_EQ(sts.entries[0].end, 50);
    EXPECT_EQ(sts.entries[1].text, L"Open");
    EXPECT_EQ(sts.entries[1].end, 80); // runs until the next entry starts
    EXPECT_EQ(sts.entries[2].text, L"{\\move(10,20,0,0,0,0)}{\\c&Hff00&}End{\\fnCourier}");

    const STSStyle* style = sts.FindStyle(L"Default");
    ASSERT_NE(style, nullptr);
    EXPECT_FALSE(sts.defaultStyleGenerated);
    EXPECT_EQ(style->colors[0], 0x0000FFu);
    EXPECT_EQ(style->fontSize, 24.0);
}

TEST(ReaderDriver, ReaderThatFailsPartWayReportsTheLineAndEmptiesTheModel)
{
    int reported = 0;
    OpenNotices notices;
    notices.syntaxError = [&](int line) { reported = line; };
    CTextFile file;
    file.OpenMemory("1\n00:00:01,000 --> 00:00:02,000\nHi\n\n2\nthis is no time line\n");
    CSimpleTextSubtitle sts;
    EXPECT_FALSE(ReadSubtitleFile(file, sts, notices));
    EXPECT_EQ(reported, 6);
    EXPECT_TRUE(sts.entries.empty());
    EXPECT_TRUE(sts.styles.empty());
}

TEST(ReaderDriver, PlainTextFallsToSamiAndOpensWithNoEntries)
{
    const CSimpleTextSubtitle sts = ReadBytes("just some notes\nnothing timed here\n");
    EXPECT_TRUE(sts.entries.empty());
    EXPECT_TRUE(sts.defaultStyleGenerated);
    EXPECT_EQ(sts.screenWidth, 384);
    EXPECT_EQ(sts.screenHeight, 288);
}

TEST(ReaderDriver, HostileBytesNeverFailTheOpen)
{
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk += char((i * 7919) % 251);
    EXPECT_NO_FATAL_FAILURE(ReadBytes(junk));
    EXPECT_NO_FATAL_FAILURE(ReadBytes(std::string("\xFF\xFE<\0S\0Y\0N\0C", 11))); // odd size
    EXPECT_NO_FATAL_FAILURE(
        ReadBytes(std::string(200000, 'x') + "<SYNC Start=" + std::string(5000, '9')));
}

TEST(SubStationAlphaReader, ReadsScriptInfoStylesAndEvents)
{
    CTextFile file;
    file.OpenMemory(
        "[Script Info]\nScriptType: v4.00+\nPlayResY: 1024\nCollisions: Reverse\n"
        "ScaledBorderAndShadow: yes\n\n[V4+ Styles]\nFormat: Name, Fontname, ...\n"
        "Style: *Title,Gulim,28,&H0000FF00,&H000000FF,&H00101010,&H40000000,0,-1,0,0,90,110,"
        "2,5.5,3,1.5,0,8,10,11,12,129\n"
        "Style: Short,Courier\n\n"
        "[Events]\nFormat: Layer, Start, ...\n"
        "Dialogue: 1,0:00:01.00,0:00:02.50,Title,Bob,0001,0002,0003,Fx,A, b, c\n"
        "Dialogue: 0,0:00:03.00,0:00:04.00,DEFAULT,,0,0,0,,Plain\n"
        "Dialogue: 0,0:00:03.00\n");
    CSimpleTextSubtitle sts;
    EXPECT_TRUE(ReadSubStationAlpha(file, sts, ReadContext()));
    EXPECT_EQ(sts.screenWidth, 1280);
    EXPECT_EQ(sts.screenHeight, 1024);
    EXPECT_TRUE(sts.reverseCollisions);
    EXPECT_TRUE(sts.scaledBorderAndShadow);

    const STSStyle* title = sts.FindStyle(L"Title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->fontName, L"Gulim");
    EXPECT_EQ(title->colors[0], 0x00FF00u);
    EXPECT_EQ(title->alpha[3], 0x40);
    EXPECT_EQ(title->fontWeight, 400);
    EXPECT_TRUE(title->italic);
    EXPECT_EQ(title->angleZ, 5.5);
    EXPECT_EQ(title->borderStyle, 1);
    EXPECT_EQ(title->outlineWidthX, 1.5);
    EXPECT_EQ(title->outlineWidthY, 1.5);
    EXPECT_EQ(title->alignment, 8);
    EXPECT_EQ(title->margins, (CRectMargins { 10, 12, 11, 12 }));
    EXPECT_EQ(title->charSet, 129);
    // Missing fields keep their defaults.
    ASSERT_NE(sts.FindStyle(L"Short"), nullptr);
    EXPECT_EQ(sts.FindStyle(L"Short")->fontSize, 18.0);

    ASSERT_EQ(sts.entries.size(), 2u);
    EXPECT_EQ(sts.entries[0].text, L"A, b, c");
    EXPECT_EQ(sts.entries[0].layer, 1);
    EXPECT_EQ(sts.entries[0].actor, L"Bob");
    EXPECT_EQ(sts.entries[0].effect, L"Fx");
    EXPECT_EQ(sts.entries[0].margins, (CRectMargins { 1, 3, 2, 3 }));
    EXPECT_EQ(sts.entries[0].end, 2500);
    EXPECT_EQ(sts.entries[1].style, L"Default");
}

TEST(SubStationAlphaReader, V4StylesUseTheOldAlignmentNumbers)
{
    CTextFile file;
    file.OpenMemory(
        "[V4 Styles]\nStyle: Old,Arial,20,16777215,65535,0,0,-1,0,1,2,3,6,15,15,15,0,1\n"
        "Style: Mid,Arial,20,16777215,65535,0,0,-1,0,1,2,3,10,15,15,15,0,1\n");
    CSimpleTextSubtitle sts;
    ReadSubStationAlpha(file, sts, ReadContext());
    ASSERT_NE(sts.FindStyle(L"Old"), nullptr);
    EXPECT_EQ(sts.FindStyle(L"Old")->alignment, 8);
    EXPECT_EQ(sts.FindStyle(L"Old")->borderStyle, 0);
    EXPECT_EQ(sts.FindStyle(L"Mid")->alignment, 5);
}

TEST(SubStationAlphaReader, EmbeddedFontsAreDecodedForTheSink)
{
    // Each three bytes become four characters of six bits plus 33; a tail of one or two bytes
    // becomes two or three characters.
    const std::string font("\x00\x01\x02\xFF\xFE\xFD\x80", 7);
    std::string encoded;
    for (size_t i = 0; i < font.size(); i += 3) {
        const size_t n = std::min<size_t>(3, font.size() - i);
        uint32_t bits = 0;
        for (size_t k = 0; k < 3; ++k)
            bits = (bits << 8) | (k < n ? uint8_t(font[i + k]) : 0);
        for (size_t k = 0; k < n + 1; ++k)
            encoded += char(((bits >> (18 - 6 * k)) & 63) + 33);
    }
    CTextFile file;
    file.OpenMemory("[Fonts]\nfontname: demo.ttf\n" + encoded.substr(0, 4) + "\n"
        + encoded.substr(4) + "\n[Events]\n");
    std::wstring gotName;
    std::string gotData;
    ReadContext ctx;
    ctx.fontSink = [&](const std::wstring& name, const std::string& data) {
        gotName = name;
        gotData = data;
    };
    CSimpleTextSubtitle sts;
    ReadSubStationAlpha(file, sts, ctx);
    EXPECT_EQ(gotName, L"demo.ttf");
    EXPECT_EQ(gotData, font);
}
