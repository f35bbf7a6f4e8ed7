#include "subconv_test_util.h"

#include <gtest/gtest.h>
#include <limits>

using namespace subvoro;
using namespace subvoro::test;

namespace {

const std::string kTwoClasses = TwoLanguageSami("<SYNC Start=1000><P Class=KRCC>Annyeong\n"
                                                "<SYNC Start=1000><P Class=ENCC>Hello\n"
                                                "<SYNC Start=3000><P Class=KRCC>&nbsp;\n"
                                                "<SYNC Start=3000><P Class=ENCC>&nbsp;\n");

struct Expected {
    std::wstring text;
    int32_t start;
    int32_t end;
};

void ExpectEntries(const CSimpleTextSubtitle& sts, const std::vector<Expected>& expected)
{
    ASSERT_EQ(sts.entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(sts.entries[i].text, expected[i].text) << "entry " << i;
        EXPECT_EQ(sts.entries[i].start, expected[i].start) << "entry " << i;
        EXPECT_EQ(sts.entries[i].end, expected[i].end) << "entry " << i;
        EXPECT_EQ(sts.entries[i].style, L"Default");
    }
}

} // namespace

TEST(SamiReader, KoreanSelectsOnlyTheKoreanClass)
{
    ExpectEntries(ReadBytes(kTwoClasses, L"KR"), { { L"Annyeong", 1000, 3000 } });
    ExpectEntries(ReadBytes(kTwoClasses, L"kr"), { { L"Annyeong", 1000, 3000 } });
}

TEST(SamiReader, EnglishSelectsTheClassDeclaringUs)
{
    ExpectEntries(ReadBytes(kTwoClasses, L"EN"), { { L"Hello", 1000, 3000 } });
}

TEST(SamiReader, UnknownOrUndeclaredCodeGathersNothingButStillOpens)
{
    EXPECT_TRUE(ReadBytes(kTwoClasses, L"XX").entries.empty());
    EXPECT_TRUE(ReadBytes(kTwoClasses, L"JP").entries.empty()); // known code, no class declares it
}

TEST(SamiReader, NoLanguageGathersAllClassesKeepingZeroDurations)
{
    // The Korean caption ends where the English one starts, at the same sync time.
    ExpectEntries(
        ReadBytes(kTwoClasses), { { L"Annyeong", 1000, 1000 }, { L"Hello", 1000, 3000 } });
}

TEST(SamiReader, FileWithoutStyleBlockTakesEveryParagraphForAnyLanguage)
{
    const std::string sami = "<SAMI><BODY>\n<SYNC Start=500><P>Hi\n<SYNC Start=900><P>&nbsp;\n";
    ExpectEntries(ReadBytes(sami, L"KR"), { { L"Hi", 500, 900 } });
    ExpectEntries(ReadBytes(sami, L"XX"), { { L"Hi", 500, 900 } });
}

TEST(SamiReader, CaptionLinesJoinWithoutSpaceAndBreaksBecomeNewlines)
{
    const std::string sami = TwoLanguageSami("<SYNC Start=1000><P Class=KRCC>\n"
                                             "Hello<br>World\n"
                                             "<SYNC Start=3000><P Class=KRCC>&nbsp;\n"
                                             "<SYNC Start=4000><P Class=KRCC>a<BR>b<Br>c<br/>d\n"
                                             "e <i>f</I> <B>g</b> &quot;h&QUOT; <font color=red>i\n"
                                             "<SYNC Start=5000><P Class=KRCC>&nbsp;\n");
    ExpectEntries(ReadBytes(sami, L"KR"),
        { { L"Hello\\NWorld", 1000, 3000 }, { L"a\\Nb\\Ncde f g \"h\" i", 4000, 5000 } });
}

TEST(SamiReader, CommentedLinesAreSkippedUntilTheCommentEnds)
{
    const std::string sami = TwoLanguageSami("<SYNC Start=1000><P Class=KRCC>First\n"
                                             "<!-- a note for the translator\n"
                                             "hidden\n"
                                             "-->\n"
                                             "second\n"
                                             "<TITLE>\n"
                                             "not shown either\n"
                                             "</TITLE>\n"
                                             "third\n"
                                             "<SYNC Start=2000><P Class=KRCC>&nbsp;\n");
    ExpectEntries(ReadBytes(sami, L"KR"), { { L"Firstsecondthird", 1000, 2000 } });
}

TEST(SamiReader, SyncLineWithoutParagraphBeforeFirstParagraphLosesItsTime)
{
    const std::string sami = TwoLanguageSami("<SYNC Start=500>\n"
                                             "<P Class=KRCC>Early\n"
                                             "<SYNC Start=2000><P Class=KRCC>&nbsp;\n");
    ExpectEntries(ReadBytes(sami, L"KR"), { { L"Early", 0, 2000 } });
}

TEST(SamiReader, SyncLineAfterUnselectedParagraphIsSkipped)
{
    const std::string sami = TwoLanguageSami("<SYNC Start=1000><P Class=KRCC>One\n"
                                             "<SYNC Start=2000><P Class=ENCC>Eng\n"
                                             "<SYNC Start=3000>\n"
                                             "<P Class=KRCC>Two\n"
                                             "<SYNC Start=4000><P Class=KRCC>&nbsp;\n");
    // The sync at 3000 is lost, so the Korean caption runs on from 1000.
    ExpectEntries(ReadBytes(sami, L"KR"), { { L"OneTwo", 1000, 4000 } });
}

TEST(SamiReader, SyncTimeTakesTheDigitsUpToAngleBracketOrM)
{
    const std::string sami
        = "<SAMI><BODY>\n"
          "<SYNC Start=1,500ms><P>a\n"
          "<SYNC Start=\"2x0x0x0\"><P>b\n"
          "<SYNC Start=><P>c\n"
          "<SYNC Start=99999999999999999999><P>d\n"
          "9<SYNC Start=2500><P>e\n"; // the time is read from index 12 of the line
    // The sync without digits is at 0, before "b" started, and "d" would end before it started:
    // both captions are dropped.
    const int32_t openEnd = std::numeric_limits<int32_t>::max();
    ExpectEntries(
        ReadBytes(sami), { { L"a", 1500, 2000 }, { L"c", 0, openEnd }, { L"9e", 2500, openEnd } });
}

TEST(SamiReader, LastCaptionIsOpenEnded)
{
    const CSimpleTextSubtitle sts
        = ReadBytes("<SAMI><BODY>\n<SYNC Start=7000><P>The end\n</BODY></SAMI>\n");
    ExpectEntries(sts, { { L"The end", 7000, std::numeric_limits<int32_t>::max() } });
}

TEST(SamiReader, EncodingDecidesWhetherEntriesAreUnicode)
{
    const std::string utf8
        = "<SAMI><BODY>\n<SYNC Start=0><P>\xC3\x84\xED\x95\x9C\n<SYNC Start=10><P>&nbsp;\n";
    // Without a mark each byte is one character and the entry holds bytes.
    const CSimpleTextSubtitle plain = ReadBytes(utf8);
    ASSERT_EQ(plain.entries.size(), 1u);
    EXPECT_FALSE(plain.entries[0].unicode);
    EXPECT_EQ(plain.entries[0].text, std::wstring(L"\xC3\x84\xED\x95\x9C"));
    EXPECT_EQ(plain.encoding, TextEncoding::Ascii);

    const CSimpleTextSubtitle marked = ReadBytes("\xEF\xBB\xBF" + utf8);
    ASSERT_EQ(marked.entries.size(), 1u);
    EXPECT_TRUE(marked.entries[0].unicode);
    EXPECT_EQ(marked.entries[0].text, L"\u00C4\uD55C");

    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<SYNC Start=5><P>")) {
        utf16 += c;
        utf16 += '\0';
    }
    utf16 += std::string("\x5C\xD5", 2); // U+D55C
    const CSimpleTextSubtitle wide = ReadBytes(utf16);
    ASSERT_EQ(wide.entries.size(), 1u);
    EXPECT_TRUE(wide.entries[0].unicode);
    EXPECT_EQ(wide.entries[0].text, L"\uD55C");
    EXPECT_EQ(wide.encoding, TextEncoding::Utf16Le);
}
