#include "http/base_path.h"

#include <gtest/gtest.h>

namespace {

TEST(BasePathTest, OnePlainFormAndNothingThatCouldBreakAHeaderOrThePage)
{
    EXPECT_EQ(ParseBasePath(""), "");
    EXPECT_EQ(ParseBasePath("/"), "");
    EXPECT_EQ(ParseBasePath("/media"), "/media");
    EXPECT_EQ(ParseBasePath("/media/"), "/media");
    EXPECT_EQ(ParseBasePath("/home/cast-1.2_x~y"), "/home/cast-1.2_x~y");

    for (const char* bad : { "media", "//media", "/media//x", "/./media", "/media/..", "/a b",
             "/media;Path=/", "/media\r\nSet-Cookie: x", "/\"><script>", "/%2e%2e", "/media//" })
        EXPECT_EQ(ParseBasePath(bad), std::nullopt) << bad;
    EXPECT_EQ(ParseBasePath("/" + std::string(127, 'a')), "/" + std::string(127, 'a'));
    EXPECT_EQ(ParseBasePath("/" + std::string(128, 'a')), std::nullopt);
}

} // namespace
