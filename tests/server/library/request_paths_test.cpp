// The path rules every handler goes through: the second percent-decoding, the
// mapping from a request path to a disk path, and the refusals.

#include "library/request_paths.h"
#include "library/shared_folders.h"
#include "server/platform/temp_folder.h"

#include <gtest/gtest.h>

namespace {

TEST(DecodePathValue, DecodesAValueTheClientEncodedTwice)
{
    EXPECT_EQ(DecodePathValue("/Movies/%ED%95%9C.avi"), "/Movies/\xED\x95\x9C.avi");
    EXPECT_EQ(DecodePathValue("%2FMovies%2Fa.avi"), "/Movies/a.avi");
    // Lower-case digits give the same bytes under the client's digit rule.
    EXPECT_EQ(DecodePathValue("/a%2e%41"), "/a.A");
    // Letters beyond ASCII are letters too.
    EXPECT_EQ(
        DecodePathValue("/\xEC\x98\x81\xED\x99\x94/%41.avi"), "/\xEC\x98\x81\xED\x99\x94/A.avi");
}

TEST(DecodePathValue, TakesOtherValuesLiterally)
{
    EXPECT_EQ(DecodePathValue("/Movies/a %41.avi"), "/Movies/a %41.avi");
    EXPECT_EQ(DecodePathValue("/Movies/a-%41.avi"), "/Movies/a-%41.avi");
    EXPECT_EQ(DecodePathValue("/Movies/[%41].avi"), "/Movies/[%41].avi");
    EXPECT_EQ(DecodePathValue("/bad\xFF%41"), "/bad\xFF%41");
    EXPECT_EQ(DecodePathValue(""), "");
}

TEST(DecodePathValue, PercentWithoutTwoFollowingCharactersStays)
{
    EXPECT_EQ(DecodePathValue("/a%4"), "/a%4");
    EXPECT_EQ(DecodePathValue("/a%"), "/a%");
    // A trailing percent sign is kept while the pairs before it are decoded.
    EXPECT_EQ(DecodePathValue("/a%41%"), "/aA%");
}

TEST(DecodePathValue, PercentWithoutTwoHexDigitsIsPartOfTheName)
{
    EXPECT_EQ(DecodePathValue("/Movies/%n%s%x.mp4"), "/Movies/%n%s%x.mp4");
    EXPECT_EQ(DecodePathValue("/Movies/100%.mp4"), "/Movies/100%.mp4");
    EXPECT_EQ(DecodePathValue("/Movies/%4g%41"), "/Movies/%4gA");
    EXPECT_EQ(DecodePathValue("/Movies/%%41"), "/Movies/%A");
    EXPECT_EQ(DecodePathValue("/%2e%2E"), "/.."); // decoded, and refused by the mapping
    EXPECT_EQ(DecodePathValue("/Movies/%ed%95%9c"), "/Movies/\xED\x95\x9C");
}

class MapRequestPathTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_shares.AddSharedFolder(m_folder.path(), "Movies")); }

    RequestPathMapping Map(const std::string& value, RequestPathKind kind = RequestPathKind::File)
    {
        return MapRequestPath(m_shares, value, kind);
    }

    TempFolder m_folder;
    SharedFolderList m_shares;
};

TEST_F(MapRequestPathTest, MapsAFileBelowItsShare)
{
    RequestPathMapping mapping = Map("/Movies/Kids/a.avi");
    EXPECT_EQ(mapping.status, RequestPathStatus::Mapped);
    EXPECT_EQ(mapping.shareName, "Movies");
    EXPECT_EQ(mapping.diskPath, m_folder.path() + "/Kids/a.avi");
    EXPECT_EQ(mapping.requestPath, "/Movies/Kids/a.avi");
    // Without the leading separator (the download URI after its prefix) it maps the same.
    EXPECT_EQ(Map("Movies/Kids/a.avi").diskPath, m_folder.path() + "/Kids/a.avi");
}

TEST_F(MapRequestPathTest, AShareAloneNamesItsFolderForListings)
{
    for (const char* value : { "/Movies", "/Movies/", "/Movies//" }) {
        RequestPathMapping mapping = Map(value, RequestPathKind::Folder);
        EXPECT_EQ(mapping.status, RequestPathStatus::Mapped) << value;
        EXPECT_EQ(mapping.diskPath, m_folder.path() + "/") << value;
    }
    EXPECT_EQ(Map("/Movies/Kids", RequestPathKind::Folder).diskPath, m_folder.path() + "/Kids/");
}

TEST_F(MapRequestPathTest, TwiceEncodedPathsAreDecodedBeforeTheShareIsLookedUp)
{
    RequestPathMapping mapping = Map("%2FMovies%2Fa.avi");
    EXPECT_EQ(mapping.status, RequestPathStatus::Mapped);
    EXPECT_EQ(mapping.diskPath, m_folder.path() + "/a.avi");
    EXPECT_EQ(mapping.requestPath, "/Movies/a.avi");
}

TEST_F(MapRequestPathTest, UnknownSharesAreReportedAsSuch)
{
    for (const char* value : { "/Music/", "/movies/a.avi", "/etc/passwd", "//etc/passwd", "", "/" })
        EXPECT_EQ(Map(value).status, RequestPathStatus::UnknownShare) << value;
    EXPECT_EQ(Map("/Music/", RequestPathKind::Folder).status, RequestPathStatus::UnknownShare);
}

TEST_F(MapRequestPathTest, ParentComponentsAreRefusedInEveryForm)
{
    for (const char* value : { "/Movies/../etc/passwd", "/Movies/..", "/../Movies/a.avi",
             "/Movies/Kids/../../x", "%2FMovies%2F%2E%2E%2Fx", ".." })
        EXPECT_EQ(Map(value).status, RequestPathStatus::Refused) << value;
    EXPECT_EQ(Map("/Movies/..", RequestPathKind::Folder).status, RequestPathStatus::Refused);
    // Names that merely contain dots are fine.
    EXPECT_EQ(Map("/Movies/a..avi").status, RequestPathStatus::Mapped);
    EXPECT_EQ(Map("/Movies/.../b").status, RequestPathStatus::Mapped);
}

TEST_F(MapRequestPathTest, NulBytesAndInvalidUtf8AreRefused)
{
    EXPECT_EQ(Map(std::string("/Movies/a.avi\0.txt", 18)).status, RequestPathStatus::Refused);
    EXPECT_EQ(Map("/Movies/%00x").status, RequestPathStatus::Refused);
    EXPECT_EQ(Map("/Movies/\xC3(.avi").status, RequestPathStatus::Refused);
    EXPECT_EQ(Map("/Movies/%FF%FE.avi").status, RequestPathStatus::Refused);
}

TEST_F(MapRequestPathTest, AnAbsolutePathAfterTheShareStaysInsideIt)
{
    RequestPathMapping mapping = Map("/Movies//etc/passwd");
    EXPECT_EQ(mapping.status, RequestPathStatus::Mapped);
    EXPECT_EQ(mapping.diskPath.rfind(m_folder.path() + "/", 0), 0u);
}

TEST_F(MapRequestPathTest, AnEnormousValueMapsWithoutBeingCut)
{
    std::string longName(5000, 'x');
    RequestPathMapping mapping = Map("/Movies/" + longName + ".avi");
    EXPECT_EQ(mapping.status, RequestPathStatus::Mapped);
    EXPECT_EQ(mapping.diskPath, m_folder.path() + "/" + longName + ".avi");
}

TEST(JoinSharePath, NeverDoublesTheFolderSeparator)
{
    EXPECT_EQ(JoinSharePath("/srv/video", "a.avi"), "/srv/video/a.avi");
    EXPECT_EQ(JoinSharePath("/srv/video/", "a.avi"), "/srv/video/a.avi");
    EXPECT_EQ(JoinSharePath("/", "a.avi"), "/a.avi");
}

} // namespace
