#include "streaming/hls_playlists.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

const PlaylistTarget kTarget { "192.168.0.7", 47002, "0123456789ABCDEF0123456789ABCDEF" };

int CountOf(const std::string& text, const std::string& what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(PlayTime, FieldsAreHoursMinutesSeconds)
{
    EXPECT_EQ(ParsePlayTime("00:01:00"), 60);
    EXPECT_EQ(ParsePlayTime("00:01:02"), 62);
    EXPECT_EQ(ParsePlayTime("01:00:00"), 3600);
    EXPECT_EQ(ParsePlayTime("2"), 7200); // one field counts hours
    EXPECT_EQ(ParsePlayTime("0:3"), 180);
    EXPECT_EQ(ParsePlayTime("0:0:7:99"), 7); // later fields ignored
    EXPECT_EQ(ParsePlayTime("0:0:75"), 75);
}

TEST(PlayTime, BadTextIsRefused)
{
    EXPECT_EQ(ParsePlayTime(""), std::nullopt);
    EXPECT_EQ(ParsePlayTime("-1:00:00"), std::nullopt);
    EXPECT_EQ(ParsePlayTime("00:-5:00"), std::nullopt);
    EXPECT_EQ(ParsePlayTime("99999:99:99"), std::nullopt);
    EXPECT_EQ(ParsePlayTime("1a:00:00"), std::nullopt);
    EXPECT_EQ(ParsePlayTime("00::10"), std::nullopt);
    EXPECT_EQ(ParsePlayTime("99999999999999999999"), std::nullopt);
    EXPECT_EQ(ParsePlayTime("24:00:00"), 86400);
    EXPECT_EQ(ParsePlayTime("24:00:01"), std::nullopt);
}

TEST(PlayTime, SecondsMayCarryAFractionThatRoundsUp)
{
    EXPECT_EQ(ParsePlayTime("00:00:07.5"), 8);
    EXPECT_EQ(ParsePlayTime("00:01:02.500"), 63);
    EXPECT_EQ(ParsePlayTime("00:01:02.000"), 62); // nothing past the second
    EXPECT_EQ(ParsePlayTime("0:0:4.000000001"), 5);
    EXPECT_EQ(ParsePlayTime("23:59:59.9"), 86400);
    EXPECT_EQ(ParsePlayTime("24:00:00.1"), std::nullopt);
    EXPECT_EQ(ParsePlayTime("0:0:7.5:99"), 8);
    EXPECT_EQ(ParsePlayTime("00:01:02."), 62); // the 10-character cut of "00:01:02.500"
    // Only the seconds have a fraction, and only digits after one point.
    for (const char* bad : { "00:00:.5", "00:00:07.5.5", "00:00:07.x", "00:00:07.-5", "0.5:00:00",
             "00:1.5:00", "7.5", "00:00:07.5000000000", "00:00:07,5" })
        EXPECT_EQ(ParsePlayTime(bad), std::nullopt) << bad;
}

TEST(PlayTime, SegmentCountOfAMediaDuration)
{
    EXPECT_EQ(SegmentCountForDuration(30000), 6);
    EXPECT_EQ(SegmentCountForDuration(30001), 7);
    EXPECT_EQ(SegmentCountForDuration(4999), 1);
    EXPECT_EQ(SegmentCountForDuration(1), 1);
    EXPECT_EQ(SegmentCountForDuration(0), 0);
    EXPECT_EQ(SegmentCountForDuration(-5000), 0);
    EXPECT_EQ(SegmentCountForDuration(int64_t { 86400 } * 1000), 17280);
}

TEST(PlayTime, SegmentCount)
{
    EXPECT_EQ(SegmentCountFor(60), 12);
    EXPECT_EQ(SegmentCountFor(62), 13);
    EXPECT_EQ(SegmentCountFor(3), 1);
    EXPECT_EQ(SegmentCountFor(3600), 720);
    EXPECT_EQ(SegmentCountFor(0), 0);
}

TEST(Playlist, VariantListsEverySegmentWithFixedDuration)
{
    std::string text = MakeVariantPlaylist(kTarget, 2, 720);
    EXPECT_EQ(text.rfind(
                  "#EXTM3U\r\n#EXT-X-TARGETDURATION:5\r\n#EXTINF:5,\r\n"
                  "http://192.168.0.7:47002/file/0123456789ABCDEF0123456789ABCDEF/vemba-2-1.ts\r\n",
                  0),
        0u);
    EXPECT_EQ(CountOf(text, "#EXTINF:5,\r\n"), 720);
    EXPECT_NE(text.find("/vemba-2-720.ts\r\n#EXT-X-ENDLIST\r\n"), std::string::npos);
    EXPECT_EQ(text.find("vemba-2-721"), std::string::npos);
    EXPECT_EQ(text.find("vemba-2-0."), std::string::npos);
}

TEST(Playlist, ZeroLengthStillNamesOneSegment)
{
    std::string text = MakeVariantPlaylist(kTarget, 1, 0);
    EXPECT_EQ(CountOf(text, "#EXTINF"), 1);
    EXPECT_NE(text.find("/vemba-1-1.ts\r\n"), std::string::npos);
}

TEST(Playlist, MasterByFixedBandwidthAndConnectionType)
{
    EXPECT_EQ(ChooseMasterVariants(1, "WIFI"), MasterChoice::Preset1);
    EXPECT_EQ(ChooseMasterVariants(1, "wifi"), MasterChoice::Preset3); // compared exactly
    EXPECT_EQ(ChooseMasterVariants(1, "3G"), MasterChoice::Preset3);
    EXPECT_EQ(ChooseMasterVariants(0, "WIFI"), MasterChoice::AllFour);
    EXPECT_EQ(ChooseMasterVariants(-3, "3G"), MasterChoice::AllFour);

    EXPECT_EQ(MakeMasterPlaylist(kTarget, MasterChoice::Preset1),
        "#EXTM3U\r\n#EXT-X-STREAM-INF:PROGRAM-ID=1,BANDWIDTH=864000\r\n"
        "http://192.168.0.7:47002/list/0123456789ABCDEF0123456789ABCDEF/movie1.m3u8\r\n");
    EXPECT_EQ(MakeMasterPlaylist(kTarget, MasterChoice::Preset3),
        "#EXTM3U\r\n#EXT-X-STREAM-INF:PROGRAM-ID=1,BANDWIDTH=160000\r\n"
        "http://192.168.0.7:47002/list/0123456789ABCDEF0123456789ABCDEF/movie3.m3u8\r\n");
    std::string all = MakeMasterPlaylist(kTarget, MasterChoice::AllFour);
    size_t a = all.find("BANDWIDTH=864000\r\nhttp://192.168.0.7:47002/list/"
                        "0123456789ABCDEF0123456789ABCDEF/movie1.m3u8");
    size_t b = all.find("BANDWIDTH=320000\r\nhttp://192.168.0.7:47002/list/"
                        "0123456789ABCDEF0123456789ABCDEF/movie2.m3u8");
    size_t c = all.find("BANDWIDTH=160000\r\nhttp://192.168.0.7:47002/list/"
                        "0123456789ABCDEF0123456789ABCDEF/movie3.m3u8");
    size_t d = all.find("BANDWIDTH=64000\r\nhttp://192.168.0.7:47002/list/"
                        "0123456789ABCDEF0123456789ABCDEF/movie4.m3u8");
    ASSERT_NE(d, std::string::npos) << all;
    EXPECT_TRUE(a < b && b < c && c < d);
}

TEST(Playlist, TheBrowsersPlaylistsLeadBackFromWhereverTheyWereFetched)
{
    PlaylistTarget browser = kTarget;
    browser.urls = PlaylistUrls::Relative;
    EXPECT_EQ(MakeMasterPlaylist(browser, MasterChoice::Preset3),
        "#EXTM3U\r\n#EXT-X-STREAM-INF:PROGRAM-ID=1,BANDWIDTH=160000\r\nmovie3.m3u8\r\n");
    std::string variant = MakeVariantPlaylist(browser, 2, 3);
    EXPECT_EQ(variant.find("http"), std::string::npos) << variant;
    EXPECT_NE(variant.find("#EXTINF:5,\r\n../../file/0123456789ABCDEF0123456789ABCDEF/vemba-2-3.ts"
                           "\r\n#EXT-X-ENDLIST"),
        std::string::npos)
        << variant;

    // Resolved against the variant playlist's own path, as a player does, they name the
    // server's segment paths, under a proxy's prefix too.
    for (const std::string root : { "", "/media", "/home/cast" }) {
        std::filesystem::path playlist
            = root + "/list/0123456789ABCDEF0123456789ABCDEF/movie2.m3u8";
        std::filesystem::path segment
            = (playlist.parent_path() / "../../file/0123456789ABCDEF0123456789ABCDEF/vemba-2-1.ts")
                  .lexically_normal();
        EXPECT_EQ(segment.string(), root + "/file/0123456789ABCDEF0123456789ABCDEF/vemba-2-1.ts");
    }
}

TEST(Playlist, UrlsUseTheGivenHostAndPort)
{
    EXPECT_EQ(MakeMasterPlaylistUrl("", 80, "ID"), "http://:80/list/ID/files.m3u8");
    EXPECT_EQ(MakeSegmentUrl("h", 1, "ID", 3, 17), "http://h:1/file/ID/vemba-3-17.ts");
}

TEST(Playlist, WritesMasterAndSixVariants)
{
    auto folder = std::filesystem::path(testing::TempDir()) / "playlist_write_test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(WritePlaylists(folder.string(), kTarget, MasterChoice::Preset1, 3));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().extension(), ".m3u8") << entry.path(); // no temporaries left
        ++files;
    }
    EXPECT_EQ(files, 7);
    EXPECT_EQ(ReadFile(folder / "files.m3u8"), MakeMasterPlaylist(kTarget, MasterChoice::Preset1));
    EXPECT_EQ(ReadFile(folder / "movie6.m3u8"), MakeVariantPlaylist(kTarget, 6, 3));
    EXPECT_FALSE(WritePlaylists((folder / "missing").string(), kTarget, MasterChoice::Preset1, 3));
    std::filesystem::remove_all(folder);
}
