// Subtitles for a browser's text track: the cues of files the subtitle library reads
// (a SAMI file in the Korean code page included) and the WebVTT made of them.

#include "streaming/subtitle_cues.h"
#include "streaming/webvtt.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iconv.h>

namespace {

std::string ToCp949(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP949", "UTF-8");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size(), outLeft = out.size();
    char* to = out.data();
    iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

TEST(WebVtt, KeepsLinesAndEscapesWhatWouldBeMarkup)
{
    const std::string vtt = MakeWebVtt({ { 3000, 2000, "<b>Tom</b> & Jerry --> 끝" },
        { 1000, 2500, "첫 줄\n\n  \n둘째 줄\n" }, { 4000, 5000, " \n" } });
    EXPECT_EQ(vtt,
        "WEBVTT\n\n"
        "00:00:01.000 --> 00:00:02.500\n첫 줄\n둘째 줄\n\n"
        "00:00:03.000 --> 00:00:03.001\n&lt;b&gt;Tom&lt;/b&gt; &amp; Jerry --&gt; 끝\n\n");
    EXPECT_EQ(WebVttClock(100LL * 3600 * 1000 + 61001), "100:01:01.001");
    EXPECT_EQ(WebVttClock(-5), "00:00:00.000");
}

TEST(SubtitleCues, ASamiFileInTheKoreanCodePageGivesUtf8Lines)
{
    vembatest::TempFolder folder("vembavtt");
    const std::string path = folder.Path() + "/film.smi";
    std::ofstream(path, std::ios::binary) << ToCp949(
        "<SAMI>\r\n<HEAD>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
        ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n"
        "<BODY>\r\n<SYNC Start=1000><P Class=KRCC>안녕하세요<br>두 번째 줄\r\n"
        "<SYNC Start=2500><P Class=KRCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n");
    std::optional<std::vector<SubtitleCue>> cues = ReadSubtitleCues(path);
    ASSERT_TRUE(cues);
    ASSERT_FALSE(cues->empty());
    EXPECT_EQ(cues->front().startMs, 1000);
    EXPECT_EQ(cues->front().endMs, 2500);
    EXPECT_EQ(cues->front().text, "안녕하세요\n두 번째 줄");
    EXPECT_FALSE(ReadSubtitleCues(folder.Path() + "/missing.srt"));
}

TEST(SubtitleCues, FrameCountedFilesAreTimedByTheVideosRate)
{
    vembatest::TempFolder folder("vembavtt");
    const std::string path = folder.Path() + "/film.sub";
    std::ofstream(path) << "{48}{96}one line|two lines\n";
    std::optional<std::vector<SubtitleCue>> cues = ReadSubtitleCues(path, "KR", 24.0);
    ASSERT_TRUE(cues);
    ASSERT_EQ(cues->size(), 1u);
    EXPECT_NEAR(cues->front().startMs, 2000, 1);
    EXPECT_NEAR(cues->front().endMs, 4000, 1);
    EXPECT_EQ(cues->front().text, "one line\ntwo lines");
}

} // namespace
