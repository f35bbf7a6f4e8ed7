// The seek preview layout the engine and the server share, which key frame serves
// which mark, and the option that chooses the mode.

#include "engine/options.h"
#include "engine/seek_previews.h"

#include <gtest/gtest.h>

namespace {

TEST(PreviewLayout, PicturesFillSheetsRowByRowAndTheLastSheetIsCut)
{
    PreviewGrid grid;
    grid.tileHeight = 90;
    EXPECT_EQ(PlaceOfPreview(grid, 0).sheet, 0);
    const PreviewPlace twelfth = PlaceOfPreview(grid, 12);
    EXPECT_EQ(twelfth.sheet, 0);
    EXPECT_EQ(twelfth.x, 2 * 160);
    EXPECT_EQ(twelfth.y, 90);
    const PreviewPlace last = PlaceOfPreview(grid, 99);
    EXPECT_EQ(last.x, 9 * 160);
    EXPECT_EQ(last.y, 9 * 90);
    const PreviewPlace next = PlaceOfPreview(grid, 100);
    EXPECT_EQ(next.sheet, 1);
    EXPECT_EQ(next.x, 0);
    EXPECT_EQ(next.y, 0);

    EXPECT_EQ(PreviewSheetCount(grid, 0), 0);
    EXPECT_EQ(PreviewSheetCount(grid, 100), 1);
    EXPECT_EQ(PreviewSheetCount(grid, 101), 2);
    // Whole, then two rows, then a single row cut after its pictures.
    EXPECT_EQ(SizeOfPreviewSheet(grid, 123, 0).width, 1600);
    EXPECT_EQ(SizeOfPreviewSheet(grid, 123, 0).height, 900);
    EXPECT_EQ(SizeOfPreviewSheet(grid, 123, 1).width, 1600);
    EXPECT_EQ(SizeOfPreviewSheet(grid, 123, 1).height, 3 * 90);
    EXPECT_EQ(SizeOfPreviewSheet(grid, 3, 0).width, 3 * 160);
    EXPECT_EQ(SizeOfPreviewSheet(grid, 3, 0).height, 90);
    EXPECT_EQ(SizeOfPreviewSheet(grid, 3, 1).width, 0);
}

TEST(PreviewLayout, TilesKeepTheShownShapeInEvenHeights)
{
    EXPECT_EQ(PreviewTileHeight(1920, 1080), 90);
    EXPECT_EQ(PreviewTileHeight(640, 480), 120);
    EXPECT_EQ(PreviewTileHeight(180, 320), 284); // upright phone video
    EXPECT_EQ(PreviewTileHeight(321, 241), 120);
    EXPECT_EQ(PreviewTileHeight(10000, 1), 2);
    EXPECT_EQ(PreviewTileHeight(1, 10000), 640);
    EXPECT_EQ(PreviewTileHeight(0, 480), 90);
}

TEST(PreviewLayout, AKeyFrameServesTheMarksUpToItsTime)
{
    EXPECT_EQ(MarksServedBy(0.0, 0), 1); // the first picture serves mark 0
    EXPECT_EQ(MarksServedBy(2.0, 1), 1); // too early for mark 1
    EXPECT_EQ(MarksServedBy(9.4, 1), 2); // a hair before its mark still serves it
    EXPECT_EQ(MarksServedBy(35.0, 1), 4); // a long group: marks 1, 2 and 3
    EXPECT_EQ(MarksServedBy(35.0, 6), 6); // marks already served stay served
    EXPECT_EQ(MarksServedBy(-1, 2), 2); // a packet without a time serves nothing
}

TEST(PreviewLayout, ThePreviewOptionChoosesTheMode)
{
    EngineOptions options = ParseEngineCommandLine(
        { "-previews", "/m/a b.mkv", "-o", "/s/p" }, [](const std::string&) { return false; });
    EXPECT_TRUE(options.IsPreviewRun());
    EXPECT_FALSE(options.IsThumbnailRun());
    EXPECT_EQ(options.previewsInput, "/m/a b.mkv");
    EXPECT_EQ(options.output, "/s/p");
}

} // namespace
