// The exported class as the server uses it: language, open, screen size, font property, save.
#include "subconv_test_util.h"

#include <gtest/gtest.h>
#include <subvoro/subvoro.h>

using namespace subvoro::test;

namespace {

const char kKoreanSamiUtf8[]
    = "<SAMI>\n<HEAD>\n<TITLE>영화</TITLE>\n<STYLE TYPE=\"text/css\">\n<!--\n"
      "P { margin-left:8pt; margin-right:8pt; font-size:20pt; font-family:굴림; }\n"
      ".KRCC {Name:한국어; lang:ko-KR; SAMIType:CC;}\n"
      ".ENCC {Name:English; lang:en-US; SAMIType:CC;}\n"
      "-->\n</STYLE>\n</HEAD>\n<BODY>\n"
      "<SYNC Start=1500><P Class=KRCC>안녕하세요\n"
      "<SYNC Start=1500><P Class=ENCC>Hello\n"
      "<SYNC Start=4000><P Class=KRCC>&nbsp;\n"
      "<SYNC Start=4000><P Class=ENCC>&nbsp;\n"
      "<SYNC Start=5000><P Class=KRCC>둘째 줄<br>입니다\n"
      "<SYNC Start=5000><P Class=ENCC>Second<BR>line\n"
      "</BODY>\n</SAMI>\n";

// The server's sequence: KR, open, screen, font property, save as ASS.
std::string ServerConversion(const std::string& input, const std::string& output, long w, long h)
{
    CSubvoroter converter;
    converter.SetSamiLang("KR");
    EXPECT_EQ(converter.SubFileOpen(input), QZSUB_OK);
    EXPECT_TRUE(converter.SetDstScreenSize(w, h));
    EXPECT_TRUE(converter.SetFontProperty(4.0f, 0x808080, 1, 0));
    EXPECT_TRUE(converter.SubFileSaveAs(output, EXTASS));
    return ReadFile(output + ".ass");
}

} // namespace

TEST(Subvoroter, KoreanCp949SamiBecomesTheServersAssScript)
{
    CTempFolder folder;
    const std::string cp949 = Recode(kKoreanSamiUtf8, "CP949");
    ASSERT_FALSE(cp949.empty());
    WriteFile(folder.Path("movie.smi"), cp949);

    const std::string ass
        = ServerConversion(folder.Path("movie.smi"), folder.Path("fil1f.tmp"), 640, 480);
    EXPECT_NE(ass.find("PlayResX: 640\r\nPlayResY: 480\r\n"), std::string::npos);
    EXPECT_NE(
        ass.find("\r\nStyle: "
                 "Default,Arial,36,&H00ffffff,&H0000ffff,&H00000000,&H80000000,-1,0,0,0,100,100,"
                 "0,0.00,1,1,8421504,2,20,20,10,1\r\n"),
        std::string::npos);
    // The 8-bit source passes through byte for byte; the engine is told its code page.
    EXPECT_NE(ass.find("\r\nDialogue: 0,0:00:01.50,0:00:04.00,Default,,0000,0000,0000,,"
                  + Recode("안녕하세요", "CP949")
                  + "\r\nDialogue: 0,0:00:05.00,596:31:23.64,Default,,0000,0000,0000,,"
                  + Recode("둘째 줄", "CP949") + "\\N" + Recode("입니다", "CP949") + "\r\n"),
        std::string::npos);
    EXPECT_EQ(ass.find("Hello"), std::string::npos);
}

TEST(Subvoroter, UnicodeSourceIsWrittenAsUtf8)
{
    CTempFolder folder;
    std::string utf16 = "\xFF\xFE";
    for (const wchar_t c :
        std::wstring(L"<SYNC Start=1500><P>\uD55C\u00E9\n<SYNC Start=4000><P>&nbsp;\n")) {
        utf16 += char(c & 0xFF);
        utf16 += char(c >> 8);
    }
    WriteFile(folder.Path("u.smi"), utf16);
    const std::string ass = ServerConversion(folder.Path("u.smi"), folder.Path("out"), 320, 240);
    EXPECT_NE(ass.find(",,\xED\x95\x9C\xC3\xA9\r\n"), std::string::npos);
}

TEST(Subvoroter, FontSizeFollowsTheScreenHeightAndNeverFallsToZero)
{
    CTempFolder folder;
    WriteFile(folder.Path("a.smi"), "<SAMI><BODY>\n<SYNC Start=0><P>x\n");
    const std::pair<long, const char*> cases[] = { { 480, ",Arial,36," }, { 99, ",Arial,4," },
        { 49, ",Arial,4," }, { 0, ",Arial,4," }, { 1080, ",Arial,84," } };
    for (const auto& [height, fontText] : cases) {
        const std::string ass
            = ServerConversion(folder.Path("a.smi"), folder.Path("a"), 640, height);
        EXPECT_NE(ass.find(fontText), std::string::npos) << height;
    }
}

TEST(Subvoroter, ScreenSizeRulesAndEntriesNeededForTheFontProperty)
{
    CTempFolder folder;
    WriteFile(folder.Path("notes.txt"), "just notes\n");
    CSubvoroter converter;
    EXPECT_EQ(converter.SubFileOpen(folder.Path("notes.txt")), QZSUB_OK);
    EXPECT_FALSE(converter.SetFontProperty(4.0f, 0x808080, 1, 0)); // no entries: "no subtitle"
    EXPECT_FALSE(converter.SetDstScreenSize(-1, 10));
    EXPECT_TRUE(converter.SetDstScreenSize(0, 0));
    ASSERT_TRUE(converter.SubFileSaveAs(folder.Path("notes."), EXTASS));
    const std::string ass = ReadFile(folder.Path("notes.ass"));
    EXPECT_NE(ass.find("PlayResX: 0\r\nPlayResY: 0\r\n"), std::string::npos);
    EXPECT_EQ(ass.find("[Events]"), std::string::npos);
    // An open resets the size to 384x288.
    EXPECT_EQ(converter.SubFileOpen(folder.Path("notes.txt")), QZSUB_OK);
    ASSERT_TRUE(converter.SubFileSaveAs(folder.Path("notes.ASS"), EXTASS));
    EXPECT_NE(ReadFile(folder.Path("notes.ASS")).find("PlayResX: 384\r\nPlayResY: 288\r\n"),
        std::string::npos);
    EXPECT_FALSE(converter.SubFileSaveAs(folder.Path("missing/out"), EXTASS));
}

TEST(Subvoroter, OpenFailuresAndSyntaxErrorsAreReported)
{
    CTempFolder folder;
    CSubvoroter converter;
    EXPECT_EQ(converter.SubFileOpen(folder.Path("missing.smi")), QZSUB_CANNOT_OPEN);
    EXPECT_EQ(converter.SubFileOpen("http://127.0.0.1/a.smi"), QZSUB_CANNOT_OPEN);

    WriteFile(folder.Path("bad.srt"), "1\n00:00:01,000 --> 00:00:02,000\nHi\n\n2\nnot a time\n");
    EXPECT_EQ(
        converter.SubFileOpen(folder.Path("bad.srt")), QZSUB_NOT_ACCEPTED); // dropped silently
    std::string message;
    int line = 0;
    converter.SetSyntaxErrorHandler([&](int n, const std::string& text) {
        line = n;
        message = text;
    });
    EXPECT_EQ(converter.SubFileOpen(folder.Path("bad.srt")), QZSUB_NOT_ACCEPTED);
    EXPECT_EQ(line, 6);
    EXPECT_EQ(message, "Syntax error at line 6!\t");
    EXPECT_FALSE(converter.SetFontProperty(4.0f, 1, 1, 0));
}

TEST(Subvoroter, StyleCompanionAddsStylesRenamesClashesAndWarnsOfUnknownOnes)
{
    CTempFolder folder;
    WriteFile(folder.Path("s.srt"), "1\n00:00:01,000 --> 00:00:02,000\nFrom srt\n");
    WriteFile(folder.Path("s.srt.style"),
        "[Script Info]\nPlayResX: 1280\n[V4+ Styles]\n"
        "Style: "
        "Default,Batang,30,&H00FFFFFF,&H0000FFFF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,2,2,"
        "10,10,10,129\n"
        "Style: "
        "Default,Dotum,40,&H00FFFFFF,&H0000FFFF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,2,2,"
        "10,10,10,129\n"
        "[Events]\n"
        "Dialogue: 0,0:00:03.00,0:00:04.00,Ghost,,0,0,0,,Boo\n"
        "Dialogue: 0,0:00:05.00,0:00:06.00,Phantom,,0,0,0,,Hoo\n");
    CSubvoroter converter;
    std::vector<std::string> warnings;
    converter.SetUnknownStyleHandler([&](const std::string& style, const std::string& text) {
        warnings.push_back(text);
        return style != "Ghost"; // Cancel at the first warning
    });
    ASSERT_EQ(converter.SubFileOpen(folder.Path("s.srt")), QZSUB_OK);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0],
        "Unknown style found: \"Ghost\", changed to \"Default\"!\n\nPress Cancel to ignore further "
        "warnings.");
    ASSERT_TRUE(converter.SubFileSaveAs(folder.Path("s.ass"), EXTASS));
    const std::string ass = ReadFile(folder.Path("s.ass"));
    EXPECT_NE(ass.find("PlayResX: 1280\r\nPlayResY: 1024\r\n"), std::string::npos); // derived
    EXPECT_NE(ass.find("Style: Default,Dotum,40,"), std::string::npos);
    EXPECT_NE(ass.find("Style: Default2,Batang,30,"), std::string::npos);
    // The entry followed its style when the clash moved it.
    EXPECT_NE(ass.find(",Default2,,0000,0000,0000,,From srt\r\n"), std::string::npos);
    EXPECT_NE(ass.find(",Default,,0000,0000,0000,,Boo\r\n"), std::string::npos);
}

TEST(Subvoroter, TimedListThroughTheExportedClass)
{
    CTempFolder folder;
    WriteFile(folder.Path("t.srt"), "1\n00:00:01,000 --> 00:00:02,000\n<i>Hi</i>\n");
    CSubvoroter converter;
    ASSERT_EQ(converter.SubFileOpen(folder.Path("t.srt")), QZSUB_OK);
    SubtitleList_t list;
    ASSERT_TRUE(converter.SubFileSaveAs(&list, EXTSRT));
    ASSERT_EQ(list.nCount, 2);
    EXPECT_STREQ(list.pItems[0].pszText, "Hi");
    EXPECT_EQ(list.pItems[1].nTime, 2000);
    EXPECT_STREQ(CSubvoroter::GetExtension(EXTASS), "ass");
    EXPECT_EQ(CSubvoroter::GetExtension(EXTTYPE_COUNT), nullptr);
}
