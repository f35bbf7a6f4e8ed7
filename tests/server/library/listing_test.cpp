// Listings through "/getList" and their one-time list files through "/xml/".

#include "library_server.h"
#include "media_samples.h"
#include "platform/temp_names.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Listing : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Running()); }
    std::string Media(const std::string& name) const { return server.MediaFolder() + "/" + name; }
    LoopbackServer server;
};

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

constexpr const char* kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE plist PUBLIC "
                              "\"-//Apple//DTD PLIST 1.0//EN\" "
                              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
                              "<plist version=\"1.0\"><dict>";

} // namespace

TEST_F(Listing, RootListsSharesInOrderWithCountsHiddenFoldersCounted)
{
    fs::create_directories(Media("Kids"));
    fs::create_directories(Media(".hidden"));
    WriteFile(Media("a.avi"), "x");
    WriteFile(Media("notes.txt"), "x");
    const std::string second = server.Root() + "/second";
    fs::create_directories(second);
    SharedFolderList& shares = server.Server().SharedFolders();
    shares.AddSharedFolder(second, "Zeta & <Co>");
    shares.AddSharedFolder(server.Root() + "/gone", "Gone");

    const LoopbackServer::ListAnswer answer = server.GetList("/");
    ASSERT_EQ(answer.result, 0);
    EXPECT_EQ(
        answer.fileUrl.rfind("http://127.0.0.1:" + std::to_string(server.Port()) + "/xml/fil", 0),
        0u)
        << answer.fileUrl;
    const std::string document = server.Get(answer.xmlPath).body;
    EXPECT_EQ(document,
        std::string(kHead)
            + "<key>folders</key><array>"
              "<dict><key>name</key><string>Movies</string><key>count</key><string>3</string></"
              "dict>"
              "<dict><key>name</key><string>Zeta &amp; "
              "&lt;Co&gt;</string><key>count</key><string>0</string></dict>"
              "<dict><key>name</key><string>Gone</string><key>count</key><string>0</string></dict>"
              "</array></dict></plist>");

    // The hidden folder is counted above but not listed.
    const std::string folder = server.FetchListing("/Movies");
    EXPECT_NE(ListingEntry(folder, "Kids"), "");
    EXPECT_EQ(folder.find(".hidden"), std::string::npos);
    EXPECT_EQ(folder.find("notes.txt"), std::string::npos);

    shares.ClearSharedFolders();
    EXPECT_EQ(server.FetchListing("/"),
        std::string(kHead) + "<key>folders</key><array></array></dict></plist>");
}

TEST_F(Listing, FolderListingCarriesEveryFieldOfEveryVideo)
{
    fs::create_directories(Media("Kids/Sub"));
    ASSERT_TRUE(MakeVideo(Media("Kids/show-vembacast.m4v"), 2, 160, 120, "aac"));
    ASSERT_TRUE(MakeVideo(Media("Kids/mp3 & <sound>.mp4"), 2, 160, 120, "libmp3lame"));
    ASSERT_TRUE(MakeVideo(Media("Kids/silent.mp4"), 3, 176, 144, ""));
    ASSERT_TRUE(MakeVideo(Media("Kids/movie.avi"), 2, 160, 120, "aac", "mpeg4"));
    WriteFile(Media("Kids/movie.smi"), "<SAMI></SAMI>");
    // MediaInfo spins on this one until its reader is stopped: unreadable media.
    ASSERT_TRUE(MakeSpinningMp4(Media("Kids/spinning.mp4")));
    server.Server().Media().SetMediaReadTimeout(std::chrono::milliseconds(1500));

    const std::string document = server.FetchListing("/Movies/Kids");
    ASSERT_EQ(document.rfind(kHead, 0), 0u) << document;
    EXPECT_NE(document.find("<key>folders</key><array><dict><key>name</key><string>Sub</string>"
                            "<key>count</key><string>0</string></dict>\r\n</array>"),
        std::string::npos);
    EXPECT_EQ(Count(document, "<key>playTime</key>"), 5u);
    EXPECT_FALSE(fs::exists(server.ServicesFolder() + "/Movies/Kids/spinning.mp4_s.jpg"));

    auto entry = [&](const std::string& name) { return ListingEntry(document, name); };
    const std::string converted = entry("show-vembacast.m4v");
    EXPECT_EQ(PlistValue(converted, "playTime"), "00:00:02");
    EXPECT_EQ(PlistValue(converted, "resolution"), "160x120");
    EXPECT_EQ(PlistValue(converted, "encoding"), "2");
    EXPECT_EQ(PlistValue(converted, "subtitle"), "0");
    EXPECT_EQ(PlistValue(converted, "thumbnail"), "/Movies/Kids/show-vembacast.m4v_s.jpg");
    const std::string size = PlistValue(converted, "size").value_or("");
    const auto bytes = fs::file_size(Media("Kids/show-vembacast.m4v"));
    EXPECT_EQ(size,
        bytes < 1024 ? std::to_string(bytes) + " Bytes" : std::to_string(bytes / 1024) + " KB");

    const std::string mp3 = entry("mp3 &amp; &lt;sound&gt;.mp4");
    ASSERT_NE(mp3, "");
    EXPECT_EQ(PlistValue(mp3, "encoding"), "0"); // MP3 audio cannot play directly
    EXPECT_EQ(PlistValue(mp3, "thumbnail"), "/Movies/Kids/mp3 &amp; &lt;sound&gt;.mp4_s.jpg");

    const std::string silent = entry("silent.mp4");
    EXPECT_EQ(PlistValue(silent, "encoding"), "1");
    EXPECT_EQ(PlistValue(silent, "playTime"), "00:00:03");
    EXPECT_EQ(PlistValue(silent, "resolution"), "176x144");

    const std::string avi = entry("movie.avi");
    EXPECT_EQ(PlistValue(avi, "subtitle"), "1");
    EXPECT_EQ(PlistValue(avi, "encoding"), "0");

    // Unreadable media is listed with empty properties and no thumbnail.
    EXPECT_EQ(entry("spinning.mp4"),
        "<dict><key>name</key><string>spinning.mp4</string><key>playTime</key><string></string>"
        "<key>size</key><string></string><key>resolution</key><string></string>"
        "<key>encoding</key><string>1</string><key>subtitle</key><string>0</string>"
        "<key>thumbnail</key><string></string></dict>");
    EXPECT_EQ(document.find("movie.smi"), std::string::npos);
}

TEST_F(Listing, TrailingSlashAndEmptyOrMissingFolders)
{
    fs::create_directories(Media("Empty"));
    fs::create_directories(Media("Kids/Sub"));
    WriteFile(Media("Kids/a.avi"), "not a video");
    EXPECT_EQ(server.FetchListing("/Movies/Kids"), server.FetchListing("/Movies/Kids/"));
    EXPECT_EQ(server.FetchListing("/Movies"), server.FetchListing("/Movies/"));
    const std::string empty = std::string(kHead) + "</dict></plist>";
    EXPECT_EQ(server.FetchListing("/Movies/Empty"), empty);
    EXPECT_EQ(server.FetchListing("/Movies/NoSuchFolder"), empty);
}

TEST_F(Listing, BadPathsAnswerWithResultCodes)
{
    EXPECT_EQ(server.GetList("").result, -11);
    EXPECT_EQ(PlistValue(server.Get("/getList").body, "result"), "-11");
    EXPECT_EQ(server.GetList("/Music/").result, -12);
    EXPECT_EQ(server.GetList("/Movies/../..").result, -12);
    EXPECT_EQ(server.GetList("/Movies/%2e%2e/%2e%2e").result, -12); // ".." once more encoded
    fs::create_directory_symlink(server.Root() + "/data", Media("away"));
    EXPECT_EQ(server.GetList("/Movies/away").result, -12);
    const HttpReply reply = server.Get("/getList?path=%2FMusic");
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("<key>result</key><string>-12</string><key>message</key><string>"),
        std::string::npos);
}

TEST_F(Listing, HostileNamesAreEscapedOrLeftOut)
{
    WriteFile(Media("quote \" and ' & < >.avi"), "x");
    WriteFile(Media("bad \xff\xfe name.avi"), "x");
    fs::create_directories(Media("with space"));
    fs::create_directories(server.Root() + "/elsewhere");
    WriteFile(server.Root() + "/elsewhere/secret.avi", "x");
    fs::create_symlink(server.Root() + "/elsewhere/secret.avi", Media("link out.avi"));
    fs::create_directory_symlink(server.Root() + "/elsewhere", Media("linked folder"));
    fs::create_symlink(Media("with space"), Media("link in"));
    fs::create_symlink(Media("loop"), Media("loop"));

    const std::string document = server.FetchListing("/Movies");
    EXPECT_NE(ListingEntry(document, "quote &quot; and &apos; &amp; &lt; &gt;.avi"), "");
    EXPECT_NE(ListingEntry(document, "with space"), "");
    EXPECT_NE(ListingEntry(document, "link in"), "");
    EXPECT_EQ(document.find("link out"), std::string::npos);
    EXPECT_EQ(document.find("linked folder"), std::string::npos);
    EXPECT_EQ(document.find("loop"), std::string::npos);
    EXPECT_EQ(document.find("bad "), std::string::npos); // no request could name it again
    EXPECT_EQ(document.find('\xff'), std::string::npos);
}

TEST_F(Listing, ThousandsOfFilesInOneFolder)
{
    fs::create_directories(Media("Big"));
    for (int i = 0; i < 3000; ++i)
        WriteFile(Media("Big/note" + std::to_string(i) + ".txt"), "");
    for (int i = 0; i < 6; ++i)
        WriteFile(Media("Big/clip" + std::to_string(i) + ".avi"), "");
    const std::string document = server.FetchListing("/Movies/Big");
    EXPECT_EQ(Count(document, "<key>playTime</key>"), 6u);
    EXPECT_EQ(Count(document, "<dict><key>name</key>"), 6u);
    EXPECT_EQ(PlistValue(server.FetchListing("/"), "count"), "1");
}

TEST_F(Listing, UnreadableFoldersCountAndListAsEmpty)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    fs::create_directories(Media("Big/locked"));
    fs::permissions(Media("Big/locked"), fs::perms::none);
    EXPECT_EQ(PlistValue(ListingEntry(server.FetchListing("/Movies/Big"), "locked"), "count"), "0");
    fs::permissions(Media("Big/locked"), fs::perms::owner_all);
    fs::permissions(Media("Big"), fs::perms::none);
    EXPECT_EQ(server.FetchListing("/Movies/Big"), std::string(kHead) + "</dict></plist>");
    fs::permissions(Media("Big"), fs::perms::owner_all);
}

TEST_F(Listing, ListFilesAreFetchedOnceAndOnlyListFilesAreServed)
{
    const LoopbackServer::ListAnswer answer = server.GetList("/");
    ASSERT_EQ(answer.result, 0);
    const std::string name = answer.xmlPath.substr(5);
    ASSERT_TRUE(fs::exists(server.ServicesFolder() + "/" + name));
    // HEAD shows it without using it up.
    EXPECT_EQ(server.Send("HEAD", answer.xmlPath).status, 200);
    HttpReply first = server.Get(answer.xmlPath);
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.headers["content-type"], "text/plain");
    EXPECT_EQ(first.body.rfind(kHead, 0), 0u);
    EXPECT_FALSE(fs::exists(server.ServicesFolder() + "/" + name));
    EXPECT_EQ(server.Get(answer.xmlPath).status, 404) << "fetched already: simply not found";

    // Other files of the services folder are neither sent nor deleted.
    WriteFile(server.ServicesFolder() + "/keep.txt", "keep");
    WriteFile(server.ServicesFolder() + "/fil12.tmp.old", "keep");
    EXPECT_EQ(server.Get("/xml/keep.txt").status, 404);
    EXPECT_EQ(server.Get("/xml/fil12.tmp.old").status, 404);
    EXPECT_EQ(server.Get("/xml/../data/VembaCast.ini").status, 404);
    EXPECT_TRUE(fs::exists(server.ServicesFolder() + "/keep.txt"));
    EXPECT_TRUE(fs::exists(server.ServicesFolder() + "/fil12.tmp.old"));
}

TEST_F(Listing, AClientThatNeverFetchesKeepsOnlyItsSixteenNewestListFiles)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 20; ++i) {
        const LoopbackServer::ListAnswer answer = server.GetList("/");
        ASSERT_EQ(answer.result, 0);
        paths.push_back(answer.xmlPath);
    }
    size_t onDisk = 0;
    for (const auto& entry : fs::directory_iterator(server.ServicesFolder()))
        onDisk += IsTempListFileName(entry.path().filename().string()) ? 1 : 0;
    EXPECT_EQ(onDisk, 16u);
    EXPECT_EQ(server.Server().ListFiles().Count(), 16u);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(fs::exists(server.ServicesFolder() + "/" + paths[i].substr(5))) << i;
    EXPECT_EQ(server.Get(paths[19]).status, 200);
    EXPECT_EQ(server.Server().ListFiles().Count(), 15u);
    // Names cannot be guessed from one another.
    EXPECT_NE(paths[18].substr(0, 20), paths[19].substr(0, 20));
}

TEST_F(Listing, TwoFetchesOfOneListFileAtOnceSendItOnce)
{
    for (int round = 0; round < 5; ++round) {
        const LoopbackServer::ListAnswer answer = server.GetList("/");
        ASSERT_EQ(answer.result, 0);
        std::atomic<int> sent { 0 }, missing { 0 };
        auto fetch = [&] {
            const HttpReply reply = server.Get(answer.xmlPath);
            if (reply.status == 200 && reply.body.rfind(kHead, 0) == 0)
                ++sent;
            else if (reply.status == 404)
                ++missing;
        };
        std::thread a(fetch), b(fetch);
        a.join();
        b.join();
        EXPECT_EQ(sent.load(), 1);
        EXPECT_EQ(missing.load(), 1);
    }
}

TEST_F(Listing, AnswerUrlUsesTheRequestHostAndTheExternalPort)
{
    const LoopbackServer::ListAnswer answer = server.GetList("/", "192.0.2.55");
    EXPECT_EQ(
        answer.fileUrl.rfind("http://192.0.2.55:" + std::to_string(server.Port()) + "/xml/", 0),
        0u)
        << answer.fileUrl;
}
