// Thumbnails made by the real engine: on demand through "/getThumbnail", in the
// background for listings, served through "/thumb/".

#include "library_server.h"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class Thumbnails : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Running());
        fs::create_directories(Media("Kids"));
        ASSERT_TRUE(MakeVideo(Media("Kids/clip one.mp4"), 2, 320, 240));
    }
    std::string Media(const std::string& name) const { return server.MediaFolder() + "/" + name; }
    std::string Stored(const std::string& name) const
    {
        return server.ServicesFolder() + "/" + name;
    }
    HttpReply GetThumbnail(const std::string& path, const std::string& size) const
    {
        return server.Get("/getThumbnail?path=" + UrlEncode(path) + size + "&playtime=00:00:02");
    }
    LoopbackServer server;
};

} // namespace

TEST_F(Thumbnails, MadeOnDemandStoredAndServedBySizeClass)
{
    HttpReply reply = GetThumbnail("/Movies/Kids/clip one.mp4", "&width=100&height=75");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["content-type"], "image/jpeg");
    int width = 0, height = 0;
    ASSERT_TRUE(JpegSize(reply.body, width, height));
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 75);
    EXPECT_EQ(ReadFile(Stored("Movies/Kids/clip one.mp4_s.jpg")), reply.body);

    reply = GetThumbnail("/Movies/Kids/clip one.mp4", "&width=101&height=80");
    ASSERT_EQ(reply.status, 200);
    ASSERT_TRUE(JpegSize(reply.body, width, height));
    EXPECT_EQ(width, 101);
    EXPECT_EQ(height, 80);
    EXPECT_TRUE(fs::exists(Stored("Movies/Kids/clip one.mp4_l.jpg")));

    // A stored thumbnail is sent as it is, not made again.
    WriteFile(Stored("Movies/Kids/clip one.mp4_s.jpg"), "stored picture");
    EXPECT_EQ(
        GetThumbnail("/Movies/Kids/clip one.mp4", "&width=64&height=50").body, "stored picture");

    // "/thumb/" sends stored thumbnails unchanged.
    reply = server.Get("/thumb/Movies/Kids/clip%20one.mp4_l.jpg");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, ReadFile(Stored("Movies/Kids/clip one.mp4_l.jpg")));
}

TEST_F(Thumbnails, UndecodableMediaFailsCleanlyAndIsTriedAgain)
{
    WriteFile(Media("Kids/broken.avi"), std::string(20000, 'q'));
    HttpReply reply = GetThumbnail("/Movies/Kids/broken.avi", "&width=64&height=50");
    EXPECT_EQ(reply.status, 404); // no thumbnail could be made: there is none to send
    EXPECT_FALSE(fs::exists(Stored("Movies/Kids/broken.avi_s.jpg")));
    // The same name now holds a real video: the next request makes its thumbnail.
    ASSERT_TRUE(MakeVideo(Media("Kids/broken.avi"), 1, 160, 120, "", "mpeg4"));
    reply = GetThumbnail("/Movies/Kids/broken.avi", "&width=64&height=50");
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(fs::exists(Stored("Movies/Kids/broken.avi_s.jpg")));
}

namespace {

// The phone's encoding: every byte but letters, digits, '/' and '.'.
std::string PhoneEncode(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '.') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace

TEST_F(Thumbnails, TwiceEncodedNamesOfStoredThumbnailsAreFound)
{
    for (const std::string name : { "Movies/\xED\x95\x9C \xEA\xB8\x80.avi_s.jpg",
             "Movies/Tom & Jerry.avi_s.jpg", "Movies/%n%x.avi_s.jpg" }) {
        fs::create_directories(fs::path(Stored(name)).parent_path());
        WriteFile(Stored(name), "jpeg of " + name);
        const HttpReply reply = server.Get("/thumb/" + PhoneEncode(PhoneEncode(name)));
        EXPECT_EQ(reply.status, 200) << name;
        EXPECT_EQ(reply.body, "jpeg of " + name);
        const HttpReply again = server.Get(
            "/thumb/" + PhoneEncode(name), "If-None-Match: " + reply.headers.at("etag") + "\r\n");
        EXPECT_EQ(again.status, 304) << name;
    }
}

TEST_F(Thumbnails, IncompleteAndHostileRequests)
{
    // Without height (or width, or path) nothing is sent at all.
    EXPECT_EQ(
        server.Get("/getThumbnail?path=%2FMovies%2FKids%2Fclip%20one.mp4&width=64").status, 0);
    EXPECT_EQ(
        server.Get("/getThumbnail?path=%2FMovies%2FKids%2Fclip%20one.mp4&height=64").status, 0);
    EXPECT_EQ(server.Get("/getThumbnail?width=64&height=50").status, 0);
    EXPECT_EQ(GetThumbnail("/Nobody/clip.mp4", "&width=64&height=50").status, 404);
    EXPECT_EQ(
        GetThumbnail("/Movies/Kids/../../data/VembaCast.ini", "&width=64&height=50").status, 404);
    fs::copy_file(Media("Kids/clip one.mp4"), server.Root() + "/outside.mp4");
    fs::create_symlink(server.Root() + "/outside.mp4", Media("Kids/leaving.mp4"));
    EXPECT_EQ(GetThumbnail("/Movies/Kids/leaving.mp4", "&width=64&height=50").status, 404);
    EXPECT_EQ(GetThumbnail("/Movies/Kids/clip one.mp4", "&width=0&height=50").status, 404);
    EXPECT_EQ(GetThumbnail("/Movies/Kids/clip one.mp4", "&width=99999&height=50").status, 404);
    EXPECT_FALSE(fs::exists(Stored("Movies/Kids/leaving.mp4_s.jpg")));

    // "/thumb/" sends thumbnails of the services folder and nothing else.
    WriteFile(server.ServicesFolder() + "/fil1.tmp", "list");
    WriteFile(server.Root() + "/data/secret_s.jpg", "secret");
    EXPECT_EQ(server.Get("/thumb/fil1.tmp").status, 404);
    EXPECT_EQ(server.Get("/thumb/%2e%2e/secret_s.jpg").status, 404);
    EXPECT_EQ(server.Get("/thumb/..%2fsecret_s.jpg").status, 404);
    EXPECT_EQ(server.Get("/thumb/Movies/none.avi_s.jpg").status, 404);
    EXPECT_EQ(server.Get("/thumb/%252e%252e/data/secret_s.jpg").status, 404);
    EXPECT_TRUE(fs::exists(server.ServicesFolder() + "/fil1.tmp"));
}

TEST_F(Thumbnails, ListingMakesThumbnailsThatItsReferencesFetch)
{
    ASSERT_TRUE(MakeVideo(Media("Kids/second & third.mkv"), 2, 200, 100, "", "mpeg4"));
    const std::string document = server.FetchListing("/Movies/Kids");
    const std::string reference
        = PlistValue(ListingEntry(document, "second &amp; third.mkv"), "thumbnail").value_or("");
    EXPECT_EQ(reference, "/Movies/Kids/second &amp; third.mkv_s.jpg");
    // The listing waited for its batch: both small thumbnails exist now.
    EXPECT_TRUE(fs::exists(Stored("Movies/Kids/clip one.mp4_s.jpg")));
    ASSERT_TRUE(fs::exists(Stored("Movies/Kids/second & third.mkv_s.jpg")));
    const HttpReply reply
        = server.Get("/thumb" + UrlEncode("/Movies/Kids/second & third.mkv_s.jpg"));
    EXPECT_EQ(reply.status, 200);
    int width = 0, height = 0;
    ASSERT_TRUE(JpegSize(reply.body, width, height));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 50);
}
