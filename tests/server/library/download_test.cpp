// Downloads of shared files through "/file_download/", whole, by range and by HEAD,
// and the requests that must find nothing.

#include "library_server.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Running());
        fs::create_directories(server.MediaFolder() + "/Kids");
        content = Pattern(5000);
        WriteFile(server.MediaFolder() + "/Kids/a.avi", content);
    }
    LoopbackServer server;
    std::string content;
};

} // namespace

TEST_F(Download, WholeFileWithItsHeaders)
{
    const HttpReply reply = server.Get("/file_download/Movies/Kids/a.avi");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, content);
    EXPECT_EQ(reply.headers.at("content-length"), "5000");
    EXPECT_EQ(reply.headers.at("accept-ranges"), "bytes");
    EXPECT_FALSE(reply.headers.at("etag").empty());
    EXPECT_FALSE(reply.headers.at("last-modified").empty());
}

TEST_F(Download, ByteRanges)
{
    HttpReply reply = server.Get("/file_download/Movies/Kids/a.avi", "Range: bytes=1000-\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.headers["content-range"], "bytes 1000-4999/5000");
    EXPECT_EQ(reply.body, content.substr(1000));

    reply = server.Get("/file_download/Movies/Kids/a.avi", "Range: bytes=10-19\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.headers["content-range"], "bytes 10-19/5000");
    EXPECT_EQ(reply.body, content.substr(10, 10));

    // A last byte past the end is cut to the end.
    reply = server.Get("/file_download/Movies/Kids/a.avi", "Range: bytes=4990-9999\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.body, content.substr(4990));

    // Past the end: unsatisfiable, and no bytes.
    reply = server.Get("/file_download/Movies/Kids/a.avi", "Range: bytes=5000-\r\n");
    EXPECT_EQ(reply.status, 416);
    EXPECT_TRUE(reply.body.empty());

    // Malformed or inverted ranges are ignored: the whole file.
    for (const char* range : { "bytes=abc", "bytes=30-20", "pages=1-2", "bytes=-" }) {
        reply = server.Get(
            "/file_download/Movies/Kids/a.avi", std::string("Range: ") + range + "\r\n");
        EXPECT_EQ(reply.status, 200) << range;
        EXPECT_EQ(reply.body.size(), 5000u) << range;
    }
}

TEST_F(Download, HeadGivesTheHeadersWithoutTheBody)
{
    HttpReply reply = server.Send("HEAD", "/file_download/Movies/Kids/a.avi");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers.at("content-length"), "5000");
    EXPECT_TRUE(reply.body.empty());
    reply = server.Send("HEAD", "/file_download/Movies/Kids/a.avi", "Range: bytes=1000-\r\n");
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.headers.at("content-length"), "4000");
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(Download, AwkwardNamesAndTwiceEncodedPaths)
{
    const std::string name = "it's a \"film\" & <more> 한글.avi";
    WriteFile(server.MediaFolder() + "/Kids/" + name, "awkward");
    HttpReply reply = server.Get("/file_download/Movies/Kids/" + UrlEncode(name));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "awkward");

    // Encoded twice by the client: decoded once by the library, once by us.
    reply = server.Get("/file_download/Movies/Kids%252Fa.avi");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, content);
}

TEST_F(Download, RefusalsFindNothing)
{
    // An unknown share is not a path from the root of the disk.
    EXPECT_EQ(server.Get("/file_download/Nobody/etc/passwd").status, 404);
    EXPECT_EQ(
        server.Get("/file_download/Nobody" + server.MediaFolder() + "/Kids/a.avi").status, 404);
    // ".." in every spelling that reaches the handler.
    EXPECT_EQ(
        server.Get("/file_download/Movies/Kids%252F..%252F..%252Fdata%252FVembaCast.ini").status,
        404);
    EXPECT_EQ(server.Get("/file_download/Movies/%252e%252e/data/VembaCast.ini").status, 404);
    // A link inside the share that leads out of it.
    fs::create_symlink(
        server.Root() + "/data/VembaCast.ini", server.MediaFolder() + "/settings.avi");
    fs::create_directory_symlink(server.Root() + "/data", server.MediaFolder() + "/outside");
    EXPECT_EQ(server.Get("/file_download/Movies/settings.avi").status, 404);
    EXPECT_EQ(server.Get("/file_download/Movies/outside/VembaCast.ini").status, 404);
    // A link that stays inside is followed.
    fs::create_symlink(server.MediaFolder() + "/Kids/a.avi", server.MediaFolder() + "/inside.avi");
    EXPECT_EQ(server.Get("/file_download/Movies/inside.avi").body, content);
    // A missing file is simply not found, and through a folder link that leads out
    // a missing file and an existing one answer alike: nothing tells which exist.
    const HttpReply missing = server.Get("/file_download/Movies/Kids/none.avi");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body.find(server.MediaFolder()), std::string::npos);
    const HttpReply outsideMissing = server.Get("/file_download/Movies/outside/none.ini");
    const HttpReply outsideThere = server.Get("/file_download/Movies/outside/VembaCast.ini");
    EXPECT_EQ(outsideMissing.status, 404);
    EXPECT_EQ(outsideMissing.body, outsideThere.body);
    // A folder is not a file to send, and no file has a name over 255 bytes.
    EXPECT_EQ(server.Get("/file_download/Movies/Kids").status, 404);
    EXPECT_EQ(server.Get("/file_download/Movies/" + std::string(300, 'n') + ".mp4").status, 404);
}

TEST_F(Download, ANameWithPercentSignsIsReachable)
{
    WriteFile(server.MediaFolder() + "/Kids/%n%s%x.mp4", "percent");
    WriteFile(server.MediaFolder() + "/Kids/100%.mp4", "hundred");
    // The client encodes the path twice: "%" travels as "%2525".
    EXPECT_EQ(server.Get("/file_download/Movies/Kids/%2525n%2525s%2525x.mp4").body, "percent");
    EXPECT_EQ(server.Get("/file_download/Movies/Kids/100%2525.mp4").body, "hundred");
}

TEST_F(Download, AMatchingValidatorGets304WithoutTheBody)
{
    const HttpReply first = server.Get("/file_download/Movies/Kids/a.avi");
    const std::string etag = first.headers.at("etag");
    const std::string modified = first.headers.at("last-modified");
    const std::string path = "/file_download/Movies/Kids/a.avi";

    HttpReply reply = server.Get(path, "If-None-Match: " + etag + "\r\n");
    EXPECT_EQ(reply.status, 304);
    EXPECT_TRUE(reply.body.empty());
    EXPECT_EQ(reply.headers["etag"], etag);
    EXPECT_EQ(server.Get(path, "If-None-Match: \"other\", W/" + etag + "\r\n").status, 304);
    EXPECT_EQ(server.Get(path, "If-None-Match: *\r\n").status, 304);
    EXPECT_EQ(server.Get(path, "If-Modified-Since: " + modified + "\r\n").status, 304);
    EXPECT_EQ(server.Get(path, "If-Modified-Since: Fri, 31 Dec 2100 23:59:59 GMT\r\n").status, 304);

    // Anything else is the whole file.
    EXPECT_EQ(server.Get(path, "If-None-Match: \"other\"\r\n").body, content);
    EXPECT_EQ(
        server.Get(path, "If-Modified-Since: Thu, 01 Jan 1970 00:00:00 GMT\r\n").body, content);
    EXPECT_EQ(server.Get(path, "If-Modified-Since: yesterday\r\n").body, content);
    // The tag decides when both are sent.
    EXPECT_EQ(
        server.Get(path, "If-None-Match: \"other\"\r\nIf-Modified-Since: " + modified + "\r\n")
            .status,
        200);
    // A changed file has a new tag.
    WriteFile(server.MediaFolder() + "/Kids/a.avi", content + "more");
    fs::last_write_time(server.MediaFolder() + "/Kids/a.avi",
        fs::last_write_time(server.MediaFolder() + "/Kids/a.avi") + std::chrono::hours(1));
    EXPECT_EQ(server.Get(path, "If-None-Match: " + etag + "\r\n").status, 200);
}

TEST_F(Download, MethodsOtherThanGetAndHeadAreNotAllowedOnTheApi)
{
    for (const char* method : { "DELETE", "OPTIONS", "POST", "PUT", "PATCH" }) {
        for (const char* target :
            { "/connect", "/serverOff", "/file_download/Movies/Kids/a.avi", "/getList?path=/" }) {
            HttpReply reply = server.Send(method, target);
            EXPECT_EQ(reply.status, 405) << method << " " << target;
            // HEAD runs only the handlers that merely read.
            const bool reads = std::string_view(target).starts_with("/file_download/");
            EXPECT_EQ(reply.headers["allow"], reads ? "GET, HEAD" : "GET")
                << method << " " << target;
        }
    }
    EXPECT_EQ(server.Send("HEAD", "/file_download/Movies/Kids/a.avi").status, 200);
    EXPECT_EQ(server.Send("HEAD", "/connect").status, 405);
    EXPECT_TRUE(fs::exists(server.MediaFolder() + "/Kids/a.avi"));
}
