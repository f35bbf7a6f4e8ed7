#include "http/range.h"

#include <gtest/gtest.h>

namespace {

void ExpectPartial(std::string_view header, uint64_t size, uint64_t first, uint64_t last)
{
    RangeRequest range = ParseRange(header, size);
    EXPECT_EQ(range.kind, RangeKind::Partial) << header;
    EXPECT_EQ(range.first, first) << header;
    EXPECT_EQ(range.last, last) << header;
}

void ExpectKind(std::string_view header, uint64_t size, RangeKind kind)
{
    EXPECT_EQ(ParseRange(header, size).kind, kind) << header << " of " << size;
}

} // namespace

TEST(ParseRange, FirstLastAndOpenEndedRanges)
{
    ExpectPartial("bytes=0-0", 100, 0, 0);
    ExpectPartial("bytes=10-19", 100, 10, 19);
    ExpectPartial("bytes=90-", 100, 90, 99);
    ExpectPartial(" BYTES=5 - 6 ", 100, 5, 6);
}

TEST(ParseRange, ALastPositionPastTheEndIsCutToTheEnd)
{
    ExpectPartial("bytes=50-1000", 100, 50, 99);
    ExpectPartial("bytes=0-99999999999999999999999", 100, 0, 99);
}

TEST(ParseRange, SuffixRangesCountFromTheEnd)
{
    ExpectPartial("bytes=-10", 100, 90, 99);
    ExpectPartial("bytes=-500", 100, 0, 99);
    ExpectKind("bytes=-0", 100, RangeKind::Unsatisfiable);
}

TEST(ParseRange, RangesWhollyPastTheEndAreUnsatisfiable)
{
    ExpectKind("bytes=100-", 100, RangeKind::Unsatisfiable);
    ExpectKind("bytes=100-200", 100, RangeKind::Unsatisfiable);
    ExpectKind("bytes=99999999999999999999999-", 100, RangeKind::Unsatisfiable);
    ExpectKind("bytes=0-", 0, RangeKind::Unsatisfiable);
    ExpectKind("bytes=-5", 0, RangeKind::Unsatisfiable);
}

TEST(ParseRange, MalformedOrUnsupportedHeadersServeTheWholeFile)
{
    for (const char* header : { "", "bytes=", "bytes=-", "bytes=20-10", "bytes=a-b", "bytes=1-2x",
             "items=0-5", "bytes 0-5", "bytes=0-1,5-6", "bytes=--5", "bytes=+1-2" })
        ExpectKind(header, 100, RangeKind::Whole);
}
