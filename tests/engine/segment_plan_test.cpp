// The segment plan: the phone's fixed grid (as it always was) and the server's
// cut lists, by time, by output slot, and the cut file as hostile input.

#include "engine/segment_plan.h"

#include <gtest/gtest.h>

TEST(SegmentPlan, GridNumbersFromTheStartAndByTimestamp)
{
    SegmentPlan grid = SegmentPlan::Grid(5);
    EXPECT_FALSE(grid.IsCutList());
    EXPECT_EQ(grid.SegmentAt(0), 1);
    EXPECT_EQ(grid.SegmentAt(4.99), 1);
    EXPECT_EQ(grid.SegmentAt(5), 2);
    EXPECT_EQ(grid.SegmentAt(35), 8); // a seek to segment 8 starts at 35 s
    EXPECT_EQ(grid.SegmentAt(34.9), 7);
    EXPECT_EQ(grid.SegmentAt(95), 20);
    EXPECT_EQ(grid.SegmentAt(-4), 1);
    EXPECT_DOUBLE_EQ(grid.StartOf(8), 35);

    // 24 fps: slots 0..119 make segment 1, 120 opens segment 2.
    EXPECT_EQ(grid.SegmentOfSlot(0, 24, 1), 1);
    EXPECT_EQ(grid.SegmentOfSlot(119, 24, 1), 1);
    EXPECT_EQ(grid.SegmentOfSlot(120, 24, 1), 2);
    EXPECT_EQ(grid.FirstSlotOf(2, 24, 1), 120);
    EXPECT_EQ(grid.FirstSlotOf(1, 24, 1), 0);
    // 29.97 fps: a segment holds exactly the slots whose time lies in it, so the
    // first slot of segment 6 (25 s) is 750 (25.025 s), not 749 (24.991 s).
    EXPECT_EQ(grid.FirstSlotOf(6, 30000, 1001), 750);
    EXPECT_EQ(grid.SegmentOfSlot(749, 30000, 1001), 5);
    EXPECT_EQ(grid.SegmentOfSlot(750, 30000, 1001), 6);
    for (int64_t n = 1; n < 200; ++n) {
        int64_t first = grid.FirstSlotOf(n, 30000, 1001);
        ASSERT_EQ(grid.SegmentOfSlot(first, 30000, 1001), n);
        ASSERT_EQ(grid.SegmentOfSlot(first - 1, 30000, 1001), std::max<int64_t>(n - 1, 1));
    }
}

TEST(SegmentPlan, CutsGiveHalfOpenSegmentsAndTheLastRunsToTheEnd)
{
    SegmentPlan plan = SegmentPlan::Cuts({ 0, 4.004, 9.342667, 15 });
    EXPECT_TRUE(plan.IsCutList());
    EXPECT_EQ(plan.LastNumber(), 4);
    EXPECT_EQ(plan.SegmentAt(0), 1);
    EXPECT_EQ(plan.SegmentAt(4.003), 1);
    EXPECT_EQ(plan.SegmentAt(4.004), 2);
    EXPECT_EQ(plan.SegmentAt(9.34266), 2);
    EXPECT_EQ(plan.SegmentAt(9.34266, 0.02), 3) << "a key frame rounded in the index";
    EXPECT_EQ(plan.SegmentAt(14.99), 3);
    EXPECT_EQ(plan.SegmentAt(600), 4);
    EXPECT_EQ(plan.SegmentAt(-1), 1);
    EXPECT_DOUBLE_EQ(plan.StartOf(3), 9.342667);

    // At 30000/1001 fps the picture at 9.342667 s is slot 280 (9.3427 s): the cut's
    // nearest slot, whichever way the index rounded it.
    EXPECT_EQ(plan.FirstSlotOf(3, 30000, 1001), 280);
    EXPECT_EQ(plan.SegmentOfSlot(279, 30000, 1001), 2);
    EXPECT_EQ(plan.SegmentOfSlot(280, 30000, 1001), 3);
    EXPECT_EQ(plan.FirstSlotOf(2, 25, 1), 100);
    EXPECT_EQ(plan.SegmentOfSlot(99, 25, 1), 1);
    EXPECT_EQ(plan.SegmentOfSlot(100, 25, 1), 2);
    EXPECT_EQ(plan.SegmentOfSlot(1000000, 25, 1), 4);
    EXPECT_EQ(plan.FirstSlotOf(5, 25, 1), INT64_MAX) << "no segment after the last";
}

TEST(SegmentPlan, CutFilesAreCheckedLineByLine)
{
    std::vector<double> cuts;
    std::string why;
    ASSERT_TRUE(ParseCuts("0\n4.004000\r\n\n  9.342667  \n15", cuts, why)) << why;
    EXPECT_EQ(cuts, (std::vector<double> { 0, 4.004, 9.342667, 15 }));

    const char* const bad[] = {
        "", // nothing
        "\n\n", // blank lines only
        "1\n2\n", // does not start at 0
        "0\n5\n5\n", // not strictly ascending
        "0\n5\n4\n", // backwards
        "0\nfive\n", // not a number
        "0\n5x\n", // trailing junk
        "0\nnan\n", // not finite
        "0\ninf\n",
        "0\n-3\n", // negative
        "0\n1e300\n", // absurd
        "0\n1,5\n", // decimal comma
    };
    for (const char* text : bad) {
        why.clear();
        EXPECT_FALSE(ParseCuts(text, cuts, why)) << "'" << text << "'";
        EXPECT_FALSE(why.empty()) << "a reason for '" << text << "'";
    }
    EXPECT_FALSE(ReadCutFile("/nonexistent/cuts.txt", cuts, why));
    EXPECT_EQ(why, "cannot be read");
}
