// "/getFileInfo" over real HTTP on media made for the test, and every kind of bad
// path value.

#include "http/client_ids.h"
#include "library/direct_play_table.h"
#include "library/media_info_binding.h"
#include "library/media_properties.h"
#include "library/shared_folders.h"
#include "server/http/session_http_fixture.h"
#include "server/library/media_samples.h"

#include <filesystem>

namespace {

class FileInfoTest : public SessionHttpTest {
protected:
    static void SetUpTestSuite()
    {
        s_media = new TempFolder;
        const TempFolder& media = *s_media;
        ASSERT_TRUE(PlaceClip(media / "film.mp4"));
        ASSERT_TRUE(PlaceClip(media / "ac3.mp4", ClipRecipe().Audio("ac3")));
        ASSERT_TRUE(PlaceClip(media / "silent.m4v", ClipRecipe().Audio("")));
        ASSERT_TRUE(PlaceClip(media / "old.avi", ClipRecipe().Video("mpeg4").Audio("mp3")));
        WriteBytes(media / "old.smi", "<SAMI><BODY><SYNC Start=0><P>hi</BODY></SAMI>");
        ASSERT_TRUE(PlaceClip(media / "show-vembacast.m4v", ClipRecipe().Seconds(3)));
        ASSERT_TRUE(PlaceClip(media / "R&D <\xED\x95\x9C>.mp4", ClipRecipe().Audio("")));
        // Apart from the share: the thumbnail kick-off of every start would read it.
        s_hanging = new TempFolder;
        ASSERT_TRUE(MakeSpinningMp4(*s_hanging / "spin.mp4"));
        WriteBytes(media / "notes.txt", "not a video");
        std::filesystem::create_directory(media / "Kids");
        ASSERT_TRUE(PlaceClip(media / "Kids/cartoon.mp4", ClipRecipe().Seconds(1)));
    }
    static void TearDownTestSuite()
    {
        delete s_media;
        s_media = nullptr;
        delete s_hanging;
        s_hanging = nullptr;
    }

    FileInfoTest()
    {
        Server().SharedFolders().AddSharedFolder(s_media->path(), "Movies");
        StartServer();
    }

    HttpReply Info(const std::string& path, const std::string& extra = "")
    {
        return Get("/getFileInfo?path=" + QueryEscape(path) + extra);
    }
    std::string DirectPlayPrefix() const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/playdirect/file-";
    }

    static TempFolder* s_media;
    static TempFolder* s_hanging;
};
TempFolder* FileInfoTest::s_media = nullptr;
TempFolder* FileInfoTest::s_hanging = nullptr;

TEST_F(FileInfoTest, H264WithAacPlaysDirectlyUnderOneUrl)
{
    HttpReply reply = Info("/Movies/film.mp4");
    ASSERT_EQ(reply.status, 200);
    const std::string& body = reply.body;
    EXPECT_EQ(PlistValue(body, "result"), "0");
    EXPECT_EQ(PlistValue(body, "message"), "");
    EXPECT_EQ(PlistValue(body, "name"), "film.mp4");
    EXPECT_EQ(PlistValue(body, "playTime"), "00:00:02");
    auto size = std::filesystem::file_size(*s_media / "film.mp4");
    EXPECT_EQ(PlistValue(body, "size"), std::to_string(size / 1024) + " KB");
    EXPECT_EQ(PlistValue(body, "resolution"), "160x120");
    EXPECT_EQ(PlistValue(body, "encoding"), "1");
    EXPECT_EQ(PlistValue(body, "subtitle"), "0");
    unsigned number = Server().DirectPlay().GetDirectPlayNumber(*s_media / "film.mp4");
    EXPECT_EQ(PlistValue(body, "playdurl"), DirectPlayPrefix() + std::to_string(number) + ".m4v");
    // The keys come in their fixed order and close the document.
    EXPECT_NE(body.find("<key>encoding</key><string>1</string><key>subtitle</key><string>0</string>"
                        "<key>playdurl</key>"),
        std::string::npos);
    EXPECT_TRUE(body.ends_with("</string></dict></plist>"));
    EXPECT_EQ(Info("/Movies/film.mp4").body, body);
}

TEST_F(FileInfoTest, OtherAudioOrContainersNeedTranscoding)
{
    HttpReply ac3 = Info("/Movies/ac3.mp4");
    EXPECT_EQ(PlistValue(ac3.body, "encoding"), "0");
    EXPECT_EQ(PlistValue(ac3.body, "playdurl"), "");
    EXPECT_EQ(PlistValue(ac3.body, "resolution"), "160x120");

    HttpReply avi = Info("/Movies/old.avi");
    EXPECT_EQ(PlistValue(avi.body, "encoding"), "0");
    EXPECT_EQ(PlistValue(avi.body, "subtitle"), "1");
    EXPECT_EQ(PlistValue(avi.body, "playdurl"), "");
    EXPECT_EQ(PlistValue(avi.body, "playTime"), "00:00:02");
}

TEST_F(FileInfoTest, NoAudioAndConvertedFilesPlayDirectly)
{
    HttpReply silent = Info("/Movies/silent.m4v");
    EXPECT_EQ(PlistValue(silent.body, "encoding"), "1");
    EXPECT_TRUE(PlistValue(silent.body, "playdurl").value_or("").starts_with(DirectPlayPrefix()));

    HttpReply converted = Info("/Movies/show-vembacast.m4v");
    EXPECT_EQ(PlistValue(converted.body, "encoding"), "2");
    EXPECT_EQ(PlistValue(converted.body, "playTime"), "00:00:03");
    EXPECT_TRUE(
        PlistValue(converted.body, "playdurl").value_or("").starts_with(DirectPlayPrefix()));

    HttpReply nested = Info("/Movies/Kids/cartoon.mp4");
    EXPECT_EQ(PlistValue(nested.body, "name"), "cartoon.mp4");
    EXPECT_EQ(PlistValue(nested.body, "encoding"), "1");
}

TEST_F(FileInfoTest, NamesAreEscapedAndKeptAsUtf8)
{
    HttpReply reply = Info("/Movies/R&D <\xED\x95\x9C>.mp4");
    EXPECT_EQ(PlistValue(reply.body, "name"), "R&amp;D &lt;\xED\x95\x9C&gt;.mp4");
    EXPECT_EQ(PlistValue(reply.body, "encoding"), "1");
}

TEST_F(FileInfoTest, AMissingFileUnderAKnownShareHasTheValuesOfUnreadableMedia)
{
    HttpReply reply = Info("/Movies/gone.mp4");
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_EQ(PlistValue(reply.body, "name"), "gone.mp4");
    EXPECT_EQ(PlistValue(reply.body, "size"), "0");
    EXPECT_EQ(PlistValue(reply.body, "playTime"), "0");
    EXPECT_EQ(PlistValue(reply.body, "resolution"), "");
    EXPECT_EQ(PlistValue(reply.body, "playdurl"), "");
}

TEST_F(FileInfoTest, ANonVideoFileGivesAClosedDocumentWithoutFileKeys)
{
    HttpReply reply = Info("/Movies/notes.txt");
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_FALSE(PlistValue(reply.body, "name").has_value());
    EXPECT_TRUE(reply.body.ends_with("<key>message</key><string></string></dict></plist>"));
}

TEST_F(FileInfoTest, MissingPathIsMinusElevenAndUnknownShareMinusTwelve)
{
    EXPECT_EQ(PlistValue(Get("/getFileInfo").body, "result"), "-11");
    EXPECT_EQ(PlistValue(Get("/getFileInfo?path=").body, "result"), "-11");
    EXPECT_EQ(PlistValue(Get("/getFileInfo?id=ABC").body, "result"), "-11");
    HttpReply unknown = Info("/Music/film.mp4");
    EXPECT_EQ(unknown.status, 200);
    EXPECT_EQ(PlistValue(unknown.body, "result"), "-12");
    EXPECT_FALSE(PlistValue(unknown.body, "message").value_or("").empty());
}

TEST_F(FileInfoTest, HostileValuesGetTheirCodeAndTheServerKeepsServing)
{
    struct Case {
        std::string query;
        const char* result;
    };
    const Case cases[] = {
        { "path=" + QueryEscape("/Movies/../Movies/film.mp4"), "-12" },
        { "path=" + QueryEscape("/Movies/Kids/../../etc/passwd"), "-12" },
        { "path=%252FMovies%252F..%252Ffilm.mp4", "-12" }, // ".." once the second decoding is done
        { "path=" + QueryEscape("/etc/passwd"), "-12" },
        { "path=" + QueryEscape("//etc/passwd"), "-12" },
        { "path=" + QueryEscape("/Mov\\ies/film.mp4"), "-12" }, // a backslash is part of a name
        { "path=/Movies/%FF%FE.mp4", "-12" },
        { "path=%ZZ%", "-12" },
        { "path=/Movies/film.mp4%", "0" },
        { "path=/Movies/" + std::string(12000, 'a') + ".mp4", "0" },
    };
    for (const Case& c : cases) {
        HttpReply reply = Get("/getFileInfo?" + c.query);
        EXPECT_EQ(reply.status, 200) << c.query.substr(0, 80);
        EXPECT_EQ(PlistValue(reply.body, "result").value_or("none"), c.result)
            << c.query.substr(0, 80);
    }
    // A NUL byte never reaches a file name: the value ends there or is refused.
    HttpReply nul = Get("/getFileInfo?path=/Movies/film.mp4%00.txt");
    EXPECT_EQ(nul.body.find('\0'), std::string::npos);
    EXPECT_FALSE(PlistValue(nul.body, "name").value_or("").ends_with(".txt"));
    EXPECT_EQ(PlistValue(Info("/Movies/film.mp4").body, "encoding"), "1");
}

TEST_F(FileInfoTest, AFileThatHangsMediaInfoIsAnsweredAsUnreadable)
{
    Server().Media().SetMediaReadTimeout(std::chrono::milliseconds(1500));
    ASSERT_TRUE(Server().SharedFolders().AddSharedFolder(s_hanging->path(), "Hangs"));
    HttpReply reply = Info("/Hangs/spin.mp4");
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_EQ(PlistValue(reply.body, "size"), "0");
    EXPECT_EQ(PlistValue(reply.body, "playdurl"), "");
    EXPECT_EQ(PlistValue(Info("/Movies/film.mp4").body, "resolution"), "160x120");
}

TEST_F(FileInfoTest, WithoutMediaInfoTheAnswerStillComes)
{
    Server().Media().SetLibraryName("libvembacast-absent-mediainfo.so.0");
    HttpReply reply = Info("/Movies/film.mp4");
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_EQ(PlistValue(reply.body, "name"), "film.mp4");
    EXPECT_EQ(PlistValue(reply.body, "playTime"), "0");
    EXPECT_EQ(PlistValue(reply.body, "resolution"), "");
}

TEST_F(FileInfoTest, TheDirectPlayUrlUsesTheHostTheClientConnectedUnder)
{
    HttpReply connect = SendRawRequest(
        m_port, "GET /connect HTTP/1.1\r\nHost: 192.0.2.7\r\nConnection: close\r\n\r\n");
    std::string id = PlistValue(connect.body, "message").value_or("");
    ASSERT_EQ(id.size(), 32u);
    HttpReply known = Info("/Movies/film.mp4", "&id=" + id);
    EXPECT_TRUE(PlistValue(known.body, "playdurl").value_or("").starts_with("http://192.0.2.7:"));
    HttpReply unknown = SendRawRequest(m_port,
        "GET /getFileInfo?path=%2FMovies%2Ffilm.mp4&id=NOSUCHID HTTP/1.1\r\nHost: "
        "198.51.100.3:9\r\n"
        "Connection: close\r\n\r\n");
    EXPECT_TRUE(
        PlistValue(unknown.body, "playdurl").value_or("").starts_with("http://198.51.100.3:"));
}

TEST_F(FileInfoTest, ALinkThatLeavesTheShareIsNotFollowed)
{
    TempFolder outside;
    ASSERT_TRUE(PlaceClip(outside / "secret.mp4", ClipRecipe().Seconds(1)));
    std::filesystem::create_symlink(outside / "secret.mp4", *s_media / "link.mp4");
    HttpReply reply = Info("/Movies/link.mp4");
    std::filesystem::remove(*s_media / "link.mp4");
    EXPECT_EQ(PlistValue(reply.body, "result"), "-12");
}

} // namespace
