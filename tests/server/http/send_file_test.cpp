#include "web_server_fixture.h"

#include <filesystem>

class SendFileTest : public WebServerTest {
protected:
    void SetUp() override
    {
        WriteGoodSettings();
        m_server = MakeServer();
        ASSERT_TRUE(m_server->WebServer().Start());
        for (int i = 0; i < 100; ++i)
            m_content += static_cast<char>('A' + i % 26);
        m_file = m_files / "movie.ts";
        WriteFileText(m_file, m_content);
    }
    void TearDown() override { m_server->WebServer().Stop(); }

    HttpReply Send(
        const std::string& path, const std::string& headers = "", const std::string& method = "GET")
    {
        return HttpGetRaw(m_port, "/send?f=" + path, headers, method);
    }

    TempFolder m_files;
    std::unique_ptr<HttpContext> m_server;
    std::string m_content;
    std::string m_file;
};

TEST_F(SendFileTest, TheWholeFileWithItsHeaders)
{
    HttpReply reply = Send(m_file);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, m_content);
    EXPECT_EQ(reply.Header("content-type"), "video/mp2t");
    EXPECT_EQ(reply.Header("content-length"), "100");
    EXPECT_EQ(reply.Header("accept-ranges"), "bytes");
    EXPECT_FALSE(reply.Header("etag").empty());
    EXPECT_FALSE(reply.Header("last-modified").empty());
    EXPECT_FALSE(reply.Header("date").empty());
}

TEST_F(SendFileTest, OneRangeIs206WithContentRange)
{
    HttpReply reply = Send(m_file, "Range: bytes=10-19\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.body, m_content.substr(10, 10));
    EXPECT_EQ(reply.Header("content-range"), "bytes 10-19/100");
    EXPECT_EQ(reply.Header("content-length"), "10");

    reply = Send(m_file, "Range: bytes=95-500\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.body, m_content.substr(95));
    EXPECT_EQ(reply.Header("content-range"), "bytes 95-99/100");

    reply = Send(m_file, "Range: bytes=-3\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.body, m_content.substr(97));
}

TEST_F(SendFileTest, ARangePastTheEndIs416)
{
    HttpReply reply = Send(m_file, "Range: bytes=100-\r\n");
    EXPECT_EQ(reply.status, 416);
    EXPECT_EQ(reply.Header("content-range"), "bytes */100");
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(SendFileTest, AnInvertedRangeGetsTheWholeFile)
{
    HttpReply reply = Send(m_file, "Range: bytes=20-10\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, m_content);
}

TEST_F(SendFileTest, IfRangeWithAnOldValidatorGetsTheWholeFile)
{
    HttpReply first = Send(m_file);
    HttpReply current
        = Send(m_file, "Range: bytes=0-9\r\nIf-Range: " + first.Header("etag") + "\r\n");
    EXPECT_EQ(current.status, 206);
    HttpReply stale = Send(m_file, "Range: bytes=0-9\r\nIf-Range: \"0.0\"\r\n");
    EXPECT_EQ(stale.status, 200);
    EXPECT_EQ(stale.body, m_content);
}

TEST_F(SendFileTest, HeadSendsTheHeadersOnly)
{
    HttpReply reply = Send(m_file, "", "HEAD");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("content-length"), "100");
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(SendFileTest, MediaTypesOfTheClients)
{
    for (const auto& [name, type] : std::initializer_list<std::pair<std::string, std::string>> {
             { "a.m4v", "video/mp4v-es" }, { "files.m3u8", "application/vnd.apple.mpegurl" },
             { "B.TS", "video/mp2t" }, { "c.mp4", "video/mp4" }, { "d.jpg", "image/jpeg" } }) {
        WriteFileText(m_files / name, "x");
        EXPECT_EQ(Send(m_files / name).Header("content-type"), type) << name;
    }
}

TEST_F(SendFileTest, MissingFilesFoldersOverlongNamesAndDotDotPathsAre404)
{
    HttpReply missing = Send(m_files / "nothing.ts");
    EXPECT_EQ(missing.status, 404);
    // Neither the server's path nor the system's error text reaches the client.
    EXPECT_EQ(missing.body.find(m_files.path()), std::string::npos);
    EXPECT_EQ(missing.body.find("nothing.ts"), std::string::npos);
    EXPECT_EQ(missing.body.find("No such file"), std::string::npos);
    EXPECT_EQ(Send(m_files / "nothing.ts/below.ts").status, 404);
    // A folder is no file, and no file has a name over 255 bytes: nothing failed.
    EXPECT_EQ(Send(m_files.path()).status, 404);
    EXPECT_EQ(Send(m_files / std::string(300, 'n') + ".ts").status, 404);
    std::filesystem::create_directories(m_files / "sub");
    HttpReply climbing = Send(m_files / "sub/../movie.ts");
    EXPECT_EQ(climbing.status, 404);
    EXPECT_EQ(climbing.body.find("ABC"), std::string::npos);
}

TEST_F(SendFileTest, ALargeFileArrivesWhole)
{
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 % 251);
    WriteFileText(m_files / "big.m4v", big);
    HttpReply reply = Send(m_files / "big.m4v");
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body == big);
    reply = Send(m_files / "big.m4v", "Range: bytes=1048576-\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_TRUE(reply.body == big.substr(1048576));
}
