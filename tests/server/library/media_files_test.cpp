// Which files are videos, how folders count, the name-based flags and the size text.

#include "library/media_files.h"
#include "server/platform/temp_folder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(ClassifyMediaFile, ExtensionsOfTheVideoListAndTheirFragmentsAreVideos)
{
    for (const char* name : { "clip.AVI", "a.mp4", "b.MPeg", "c.m4v", "d.vob", "e.mp", "f.4",
             "g.peg", "clip.v", "h. MP4 ", "dir.x/i.mkv" })
        EXPECT_EQ(ClassifyMediaFile(name), kMediaFileVideo) << name;
}

TEST(ClassifyMediaFile, OtherNamesAreNotVideos)
{
    for (const char* name : { "clip", "clip.txt", "a.jpg", "a.srt", "a.smi", "a.", "a. ",
             "a.avi.txt", "movie.avi/readme", "" })
        EXPECT_EQ(ClassifyMediaFile(name), kMediaFileOther) << name;
}

TEST(CountFolderEntries, CountsSubfoldersHiddenOnesTooAndVideos)
{
    TempFolder folder;
    std::filesystem::create_directory(folder / "Kids");
    std::filesystem::create_directory(folder / ".hidden");
    WriteFileText(folder / "a.avi", "x");
    WriteFileText(folder / ".b.mkv", "x");
    WriteFileText(folder / "c.txt", "x");
    WriteFileText(folder / "a.smi", "x");
    EXPECT_EQ(CountFolderEntries(folder.path()), 4);
    EXPECT_EQ(CountFolderEntries(folder.path() + "/"), 4);
}

TEST(CountFolderEntries, AFolderThatCannotBeReadCountsZero)
{
    TempFolder folder;
    EXPECT_EQ(CountFolderEntries(folder / "missing"), 0);
    WriteFileText(folder / "file.avi", "x");
    EXPECT_EQ(CountFolderEntries(folder / "file.avi"), 0);
    EXPECT_EQ(CountFolderEntries(folder.path()), 1);
}

TEST(GetSubtitleAndEncoding, EncodingFollowsTheNameAndSubtitleTheNeighbour)
{
    TempFolder folder;
    struct Case {
        const char* name;
        int encoding;
    };
    for (Case c : { Case { "show-vembacast.m4v", 2 }, Case { "movie.mp4", 1 },
             Case { "movie.MP4", 1 }, Case { "movie.M4V", 1 }, Case { "show-VEMBACAST.m4v", 1 },
             Case { "movie.avi", 0 }, Case { "movie.mkv", 0 } }) {
        int subtitle = -1, encoding = -1;
        GetSubtitleAndEncoding(folder / c.name, subtitle, encoding);
        EXPECT_EQ(encoding, c.encoding) << c.name;
        EXPECT_EQ(subtitle, 0) << c.name;
    }
    WriteFileText(folder / "movie.smi", "<SAMI></SAMI>");
    int subtitle = -1, encoding = -1;
    GetSubtitleAndEncoding(folder / "movie.avi", subtitle, encoding);
    EXPECT_EQ(subtitle, 1);
    EXPECT_EQ(encoding, 0);
}

TEST(GetSubtitleAndEncoding, ANameWithoutADotHasNeitherFlag)
{
    TempFolder folder;
    std::filesystem::create_directory(folder / "dir.d");
    WriteFileText(folder / "dir.smi", "x");
    int subtitle = -1, encoding = -1;
    GetSubtitleAndEncoding(folder / "dir.d/movie", subtitle, encoding);
    EXPECT_EQ(subtitle, 0);
    EXPECT_EQ(encoding, 0);
}

TEST(FormatSizeText, BytesThenKilobytesThenMegabytes)
{
    EXPECT_EQ(FormatSizeText(0), "0 Bytes");
    EXPECT_EQ(FormatSizeText(500), "500 Bytes");
    EXPECT_EQ(FormatSizeText(1023), "1023 Bytes");
    EXPECT_EQ(FormatSizeText(1024), "1 KB");
    EXPECT_EQ(FormatSizeText(1024 * 1024 - 1), "1023 KB");
    EXPECT_EQ(FormatSizeText(1024 * 1024), "1 MB");
    EXPECT_EQ(FormatSizeText(4095LL * 1024 * 1024 + 1023), "4095 MB");
    EXPECT_EQ(FormatSizeText(3LL * 1024 * 1024 * 1024), "3072 MB");
    // No larger unit: a 5 TiB file is still counted in megabytes.
    EXPECT_EQ(FormatSizeText(5LL * 1024 * 1024 * 1024 * 1024), "5242880 MB");
}

} // namespace
