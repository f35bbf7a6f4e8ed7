// "/playdirect/": the numbered URL of a file-info answer serves the file whole, by
// byte range and by HEAD; numbers never given out are not found.

#include "library/direct_play_table.h"
#include "server/http/session_http_fixture.h"
#include "server/library/media_samples.h"

namespace {

class PlayDirectTest : public SessionHttpTest {
protected:
    PlayDirectTest()
    {
        EXPECT_TRUE(PlaceClip(m_media / "film.mp4"));
        m_bytes = ReadBytes(m_media / "film.mp4");
        StartServer();
    }

    // The path of the file's direct-play URL, from the file-info answer.
    std::string DirectPlayPath()
    {
        HttpReply info = Get("/getFileInfo?path=%2FMovies%2Ffilm.mp4");
        std::string url = PlistValue(info.body, "playdurl").value_or("");
        size_t path = url.find("/playdirect/");
        return path == std::string::npos ? std::string() : url.substr(path);
    }

    std::string m_bytes;
};

TEST_F(PlayDirectTest, TheUrlServesTheWholeFile)
{
    std::string path = DirectPlayPath();
    ASSERT_FALSE(path.empty());
    HttpReply reply = Get(path);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("accept-ranges"), "bytes");
    EXPECT_EQ(reply.Header("content-length"), std::to_string(m_bytes.size()));
    EXPECT_TRUE(reply.body == m_bytes);
}

TEST_F(PlayDirectTest, RangesLetThePlayerSeek)
{
    std::string path = DirectPlayPath();
    ASSERT_GT(m_bytes.size(), 2000u);
    size_t size = m_bytes.size();

    HttpReply tail = Get(path, "Range: bytes=1000-\r\n");
    EXPECT_EQ(tail.status, 206);
    EXPECT_EQ(tail.Header("content-range"),
        "bytes 1000-" + std::to_string(size - 1) + "/" + std::to_string(size));
    EXPECT_TRUE(tail.body == m_bytes.substr(1000));

    HttpReply middle = Get(path, "Range: bytes=100-199\r\n");
    EXPECT_EQ(middle.status, 206);
    EXPECT_TRUE(middle.body == m_bytes.substr(100, 100));

    HttpReply past = Get(path, "Range: bytes=" + std::to_string(size + 10) + "-\r\n");
    EXPECT_EQ(past.status, 416);
}

TEST_F(PlayDirectTest, HeadGivesTheHeadersOnly)
{
    HttpReply reply = Get(DirectPlayPath(), "", "HEAD");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("content-length"), std::to_string(m_bytes.size()));
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(PlayDirectTest, NumbersNeverGivenOutAreNotFound)
{
    for (const char* target : { "/playdirect/file-0.m4v", "/playdirect/file-4000000000.m4v",
             "/playdirect/file-abc.m4v", "/playdirect/", "/playdirect/file-.m4v",
             "/playdirect/file--1.m4v", "/playdirect/..%2F..%2Fetc%2Fpasswd" }) {
        HttpReply reply = Get(target);
        EXPECT_EQ(reply.status, 404) << target;
    }
}

} // namespace
