// The seek preview index read back, the WebVTT thumbnails track made of it, and which
// preview folders go when the disk bound is passed.

#include "config/settings_store.h"
#include "streaming/preview_index.h"
#include "streaming/seek_previews.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kIndex = "vembacast-previews 1\ninterval 10\ntile 160 120\ngrid 10 10\n"
                               "pictures 3\nsheets 1\nduration 25.500000\nlater 1 2 3\n";

TEST(PreviewIndex, TheEnginesIndexIsReadAndBadOnesAreRefused)
{
    std::optional<PreviewIndex> index = ParsePreviewIndex(kIndex);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->grid.tileHeight, 120);
    EXPECT_EQ(index->pictures, 3);
    EXPECT_DOUBLE_EQ(index->durationSeconds, 25.5);

    const std::string good = kIndex;
    auto with = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return ParsePreviewIndex(text);
    };
    EXPECT_FALSE(with("previews 1", "previews 2")); // a version it does not know
    EXPECT_FALSE(with("sheets 1", "sheets 2")); // sheets that do not fit the pictures
    EXPECT_FALSE(with("pictures 3", "pictures 0"));
    EXPECT_FALSE(with("pictures 3", "pictures 99999999999"));
    EXPECT_FALSE(with("tile 160 120", "tile 160 0"));
    EXPECT_FALSE(with("tile 160 120", "tile 160 -5"));
    EXPECT_FALSE(with("grid 10 10", "grid 10 1000"));
    EXPECT_FALSE(with("interval 10", "interval 0"));
    EXPECT_FALSE(with("duration 25.500000", "duration nan"));
    EXPECT_FALSE(ParsePreviewIndex(""));
    EXPECT_FALSE(ParsePreviewIndex("WEBVTT\n"));
}

TEST(PreviewIndex, TheTrackHasACuePerPictureNamingItsPlaceInItsSheet)
{
    PreviewIndex index = *ParsePreviewIndex(kIndex);
    const std::string track
        = MakePreviewTrack(index, [](int sheet) { return "s?n=" + std::to_string(sheet); });
    EXPECT_EQ(track,
        "WEBVTT\n"
        "\n00:00:00.000 --> 00:00:10.000\ns?n=0#xywh=0,0,160,120\n"
        "\n00:00:10.000 --> 00:00:20.000\ns?n=0#xywh=160,0,160,120\n"
        "\n00:00:20.000 --> 00:00:25.500\ns?n=0#xywh=320,0,160,120\n");

    // Past the first sheet, the places start again in the next one.
    index.pictures = 102;
    index.sheets = 2;
    index.durationSeconds = 0; // not known: the last picture lasts its 10 s
    const std::string longer
        = MakePreviewTrack(index, [](int sheet) { return "s" + std::to_string(sheet); });
    EXPECT_NE(longer.find("\n00:16:30.000 --> 00:16:40.000\ns0#xywh=1440,1080,160,120\n"),
        std::string::npos);
    EXPECT_NE(
        longer.find("\n00:16:50.000 --> 00:17:00.000\ns1#xywh=160,0,160,120\n"), std::string::npos);
}

TEST(PreviewIndex, TheFoldersUsedLongestAgoGoUntilTheRestFit)
{
    using Folder = SeekPreviews::StoredFolder;
    const std::vector<Folder> folders
        = { { "new", 400, 300 }, { "old", 300, 100 }, { "middle", 200, 200 } };
    EXPECT_TRUE(SeekPreviews::FoldersOverBound(folders, 900).empty());
    EXPECT_EQ(SeekPreviews::FoldersOverBound(folders, 899), std::vector<std::string> { "old" });
    EXPECT_EQ(SeekPreviews::FoldersOverBound(folders, 600), std::vector<std::string> { "old" });
    EXPECT_EQ(SeekPreviews::FoldersOverBound(folders, 599),
        std::vector<std::string>({ "old", "middle" }));
    // A folder larger than the whole bound goes too.
    EXPECT_EQ(SeekPreviews::FoldersOverBound(folders, 100),
        std::vector<std::string>({ "old", "middle", "new" }));
    EXPECT_TRUE(SeekPreviews::FoldersOverBound({}, 0).empty());
}

TEST(PreviewIndex, TheDiskBoundComesFromTheSettingsOrItsDefault)
{
    vembatest::TempFolder data;
    SettingsStore settings(data.Path());
    EXPECT_EQ(PreviewDiskBound(settings), int64_t(kDefaultPreviewDiskMB) << 20); // no file
    for (const auto& [value, megabytes] : std::vector<std::pair<std::string, int64_t>> {
             { "64", 64 }, { "0", 0 }, { "-3", kDefaultPreviewDiskMB },
             { "lots", kDefaultPreviewDiskMB }, { "99999999999", kDefaultPreviewDiskMB } }) {
        ASSERT_TRUE(settings.WriteText(kKeyPreviewDiskMB, value));
        EXPECT_EQ(PreviewDiskBound(settings), megabytes << 20) << value;
    }
}

} // namespace
