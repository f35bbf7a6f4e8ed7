#include "engine/demux.h"
#include "engine/segment_naming.h"

#include <gtest/gtest.h>

TEST(SegmentNaming, NumberOfTheOutputNameIsReplaced)
{
    EXPECT_EQ(SegmentPath("/data/Services/ID/vemba-1-7.ts", 9), "/data/Services/ID/vemba-1-9.ts");
    EXPECT_EQ(
        SegmentPath("/data/Services/ID/vemba-3-1.ts", 120), "/data/Services/ID/vemba-3-120.ts");
    EXPECT_EQ(SegmentPath("/tmp/a-b/out.ts", 3), "/tmp/a-b/out-3.ts");
    EXPECT_EQ(SegmentPath("/tmp/seg-x.ts", 2), "/tmp/seg-x-2.ts");
    EXPECT_EQ(SegmentPath("noext", 4), "noext-4");
}

TEST(LocalFiles, EveryPathIsOpenedAsALocalFile)
{
    EXPECT_EQ(LocalUrl("/m/film.mkv"), "file:/m/film.mkv");
    EXPECT_EQ(LocalUrl("a:b.mp4"), "file:a:b.mp4"); // not protocol "a"
    EXPECT_EQ(LocalUrl("http://host/x.mp4"), "file:http://host/x.mp4"); // never fetched
    EXPECT_EQ(LocalUrl("file:/m/x.ts"), "file:/m/x.ts");
}
