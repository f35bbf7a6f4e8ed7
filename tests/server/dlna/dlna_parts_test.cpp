// The television device's small rules: its settings, media links, time seeks, the
// engine line of a stream, SRT text and the watch for changed folders.

#include "dlna/dlna_settings.h"
#include "dlna/media_links.h"
#include "dlna/media_profiles.h"
#include "dlna/share_changes.h"
#include "dlna/srt_document.h"
#include "dlna/stream_line.h"
#include "library/shared_folders.h"
#include "server/library/media_samples.h"
#include "support/test_server.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

TEST(DlnaSettings, OnByDefaultUnlessThePasswordIsRequiredAndTheSettingDecides)
{
    vembatest::TestSettingsFolder data;
    SettingsStore& settings = data.Settings();
    EXPECT_TRUE(IsDlnaServerOn(settings));
    settings.WriteInt("RequirePassword", 1);
    EXPECT_FALSE(IsDlnaServerOn(settings));
    settings.WriteInt(kKeyDlnaServer, 1);
    EXPECT_TRUE(IsDlnaServerOn(settings));
    settings.WriteInt("RequirePassword", 0);
    settings.WriteInt(kKeyDlnaServer, 0);
    EXPECT_FALSE(IsDlnaServerOn(settings));
}

TEST(DlnaSettings, TheDeviceKeepsOneUdnAndReplacesAMalformedOne)
{
    vembatest::TestSettingsFolder data;
    const std::string udn = DlnaDeviceUdn(data.Settings());
    EXPECT_TRUE(IsDeviceUdn(udn)) << udn;
    EXPECT_EQ(DlnaDeviceUdn(data.Settings()), udn);
    data.Settings().WriteText(kKeyDlnaUdn, "uuid:<script>");
    const std::string replaced = DlnaDeviceUdn(data.Settings());
    EXPECT_TRUE(IsDeviceUdn(replaced));
    EXPECT_NE(replaced, udn);
    EXPECT_FALSE(IsDeviceUdn("uuid:0123456789abcdef0123456789abcdef0123"));
    EXPECT_EQ(DlnaFriendlyName(data.Settings()), "Vemba Cast");
    data.Settings().WriteText("PCName", "Salon & <TV>");
    EXPECT_EQ(DlnaFriendlyName(data.Settings()), "Salon & <TV>");
}

TEST(MediaLinks, RequestPathsNameOnlyWhatTheDidlHandsOut)
{
    const std::string base = MediaBaseUrl("192.168.1.5", 47002);
    EXPECT_EQ(base, "http://192.168.1.5:47002");
    EXPECT_EQ(MediaBaseUrl("fe80::1", 80), "http://[fe80::1]:80");
    struct Case {
        std::string url;
        MediaLinkKind kind;
        std::string format;
    };
    for (const Case& c :
        { Case { DirectMediaUrl(base, "pAbc", "Film.MKV"), MediaLinkKind::Direct, "" },
            Case { StreamUrl(base, "pAbc", 720), MediaLinkKind::Stream, "720" },
            Case { ThumbnailUrl(base, "pAbc"), MediaLinkKind::Thumbnail, "" },
            Case { SubtitleUrl(base, "pAbc", "smi"), MediaLinkKind::Subtitle, "smi" } }) {
        std::optional<MediaLink> link = ParseMediaLink(c.url.substr(base.size()));
        ASSERT_TRUE(link) << c.url;
        EXPECT_EQ(link->id, "pAbc");
        EXPECT_EQ(link->kind, c.kind);
        EXPECT_EQ(link->format, c.format);
    }
    EXPECT_EQ(DirectMediaUrl(base, "pA", "odd.m p4"), base + "/dlna/media/pA.bin");
    for (const std::string bad : { "/dlna/media/pA", "/dlna/media/../x.mp4",
             "/dlna/stream/pA/480.ts", "/dlna/thumb/pA.png", "/dlna/sub/pA.ass",
             "/dlna/other/pA.mp4", "/dlna/", "/dlnax/media/p.mp4", "/dlna/media/p%2F.mp4" })
        EXPECT_FALSE(ParseMediaLink(bad).has_value()) << bad;
}

TEST(TimeSeek, StartsAreReadInEveryNptFormAndJunkIsRefused)
{
    EXPECT_DOUBLE_EQ(ParseTimeSeekStart("npt=30-"), 30);
    EXPECT_DOUBLE_EQ(ParseTimeSeekStart("npt=30.500-60"), 30.5);
    EXPECT_DOUBLE_EQ(ParseTimeSeekStart(" npt = 0:01:02.5-"), 62.5);
    EXPECT_DOUBLE_EQ(ParseTimeSeekStart("npt=1:00:00-1:00:10/3700"), 3600);
    for (const std::string bad : { "", "npt=", "npt=-30", "npt=30", "bytes=0-", "npt=a-",
             "npt=1:2:3:4-", "npt=1e9-", "npt=30-x", "npt=1.2.3-" })
        EXPECT_LT(ParseTimeSeekStart(bad), 0) << bad;
    EXPECT_EQ(TimeSeekAnswer(30, 95.25), "npt=30.000-95.250/95.250");
}

TEST(StreamLine, TheEngineMakesHighProfileSegmentsFromTheSeekOnward)
{
    StreamLine line { "-odd.mkv", 32.5, 720, 3840, 2160, 0, 30.0, 2, "/svc/ID", 7 };
    const std::vector<std::string> words = MakeStreamCommandLine(line);
    auto after = [&](const std::string& word) {
        auto at = std::find(words.begin(), words.end(), word);
        return at == words.end() || at + 1 == words.end() ? std::string() : *(at + 1);
    };
    EXPECT_EQ(words.front(), "-ss");
    EXPECT_EQ(after("-ss"), "32.500");
    EXPECT_EQ(after("-kf"), "30.000"); // straight to the key frame before the seek
    EXPECT_EQ(words[4], "./-odd.mkv"); // a path that looks like an option stays a path
    EXPECT_EQ(after("-vf"), "scale=1280:720");
    EXPECT_NE(std::find(words.begin(), words.end(), "-autorotate"), words.end());
    EXPECT_NE(after("-x264encopts").find("profile=high"), std::string::npos);
    EXPECT_EQ(after("-vembacast"), "5");
    // The first file of a run at 32.5 s is segment 7 ([30, 35)).
    EXPECT_EQ(after("-o"), "/svc/ID/vemba-9-7.ts");
    EXPECT_EQ(words.back(), "-pipename=7");
    EXPECT_EQ(FirstStreamSegment(0), 1);
    EXPECT_EQ(FirstStreamSegment(5), 2);

    line.startSeconds = 0;
    line.boxHeight = 1080;
    line.videoWidth = 320;
    line.videoHeight = 240;
    const std::vector<std::string> small = MakeStreamCommandLine(line);
    EXPECT_EQ(std::count(small.begin(), small.end(), "-ss"), 0);
    EXPECT_NE(std::find(small.begin(), small.end(), "scale=320:240"), small.end())
        << "never enlarged";
    EXPECT_EQ(std::count(small.begin(), small.end(), "-kf"), 0) << "no seek, no key frame";
    line.rotation = 90; // a phone's portrait film stored on its side: sent upright
    const std::vector<std::string> turned = MakeStreamCommandLine(line);
    EXPECT_NE(std::find(turned.begin(), turned.end(), "scale=240:320"), turned.end());
    EXPECT_EQ(FitIntoStreamBox(1080, 1080, 1920).width, 608); // a portrait picture, upright
    EXPECT_EQ(FitIntoStreamBox(720, 1919, 1079).height, 720);
    EXPECT_EQ(FitIntoStreamBox(720, 1919, 1079).width, 1280);
}

TEST(SrtDocument, EntriesRunUntilTheNextAndEmptyOnesOnlyClear)
{
    const std::vector<SubtitleEntry> entries = { { 1000, "Hello\\Nworld" }, { 3500, "" },
        { 3725400, "다음 & <i>" }, { 3725000, "out of order" } };
    // The third would end before it starts and is left out; the last runs 5 s.
    EXPECT_EQ(MakeSrtDocument(entries),
        "1\n00:00:01,000 --> 00:00:03,500\nHello\nworld\n\n"
        "2\n01:02:05,000 --> 01:02:10,000\nout of order\n\n");
    EXPECT_EQ(MakeSrtDocument({}), "");
}

TEST(DirectProfiles, NamesFitTheFileOrAreLeftOut)
{
    MediaProperties mp4;
    mp4.videoFormat = "AVC";
    mp4.audioId = "2";
    mp4.audioFormat = "AAC";
    mp4.width = 1920;
    mp4.height = 1080;
    EXPECT_EQ(DirectProfileOf("a.MP4", mp4).profileName, "AVC_MP4_MP_HD_1080i_AAC");
    mp4.width = 1280;
    mp4.height = 720;
    EXPECT_EQ(DirectProfileOf("a.m4v", mp4).profileName, "AVC_MP4_MP_HD_720p_AAC");
    mp4.audioFormat = "AC-3";
    EXPECT_EQ(DirectProfileOf("a.mp4", mp4).profileName, "");
    EXPECT_EQ(DirectProfileOf("a.mkv", mp4).mimeType, "video/x-matroska");
    EXPECT_EQ(DirectProfileOf("a.unknown", mp4).mimeType, "application/octet-stream");
    EXPECT_EQ(
        DirectContentFeatures({ "video/x-matroska", "" }).find("DLNA.ORG_PN"), std::string::npos);
    EXPECT_EQ(FormatDidlDuration(3725042), "1:02:05.042");
}

TEST(ShareChanges, AFolderOrTheShareListChangingIsSeenOnce)
{
    vembatest::TempFolder root("dlnachanges");
    fs::create_directories(root.Path() + "/share/sub");
    SharedFolderList shares;
    shares.AddSharedFolder(root.Path() + "/share", "Movies");
    ShareChanges changes(shares);
    EXPECT_FALSE(changes.Changed()); // the first look only looks
    changes.Note(root.Path() + "/share/sub");
    EXPECT_FALSE(changes.Changed());
    WriteBytes(root.Path() + "/share/sub/new.mp4", "x");
    EXPECT_TRUE(changes.Changed());
    EXPECT_FALSE(changes.Changed());
    fs::create_directories(root.Path() + "/share/new folder");
    EXPECT_TRUE(changes.Changed());
    shares.AddSharedFolder(root.Path(), "Everything");
    EXPECT_TRUE(changes.Changed());
    EXPECT_FALSE(changes.Changed());
}

} // namespace
