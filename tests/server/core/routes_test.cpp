#include "core/request_table.h"
#include "http/request.h"

#include <gtest/gtest.h>
#include <set>

namespace {

std::string RowOf(std::string_view uri)
{
    const Route* route = FindRoute(DefaultRoutes(), uri);
    return route ? route->handlerName : "";
}

} // namespace

TEST(RequestTable, HasTheTwentyRowsOfTheClientApi)
{
    auto routes = DefaultRoutes();
    ASSERT_EQ(routes.size(), 20u);
    std::set<std::string> names;
    for (const Route& route : routes) {
        names.insert(route.handlerName);
        // A prefix row ends with '/', an exact row never does.
        EXPECT_EQ(route.match == RouteMatch::Prefix, std::string_view(route.path).ends_with('/'))
            << route.path;
    }
    EXPECT_EQ(names.size(), 20u);
}

TEST(RequestTable, ExactRowsMatchOnlyTheWholeUri)
{
    EXPECT_EQ(RowOf("/convertList"), "OnNotifyGetConvertList");
    EXPECT_EQ(RowOf("/convert"), "OnNotifyConvert");
    EXPECT_EQ(RowOf("/convertListX"), "");
    EXPECT_EQ(RowOf("/Connect"), "");
    EXPECT_EQ(RowOf("/play"), "OnNotifyPlay");
    EXPECT_EQ(RowOf("/playEnd"), "OnNotifyPlayEnd");
    EXPECT_EQ(RowOf("/play/"), "");
    EXPECT_EQ(RowOf("/subtitle"), "OnNotifySubtitle");
}

TEST(RequestTable, PrefixRowsNeedTheirWholePrefix)
{
    EXPECT_EQ(RowOf("/list/abc"), "OnNotifyPlayList");
    EXPECT_EQ(RowOf("/list/"), "OnNotifyPlayList");
    EXPECT_EQ(RowOf("/list"), "");
    EXPECT_EQ(RowOf("/file/ID/vemba-1-1.ts"), "OnNotifyPlayFile");
    EXPECT_EQ(RowOf("/file_download/Movies/a.avi"), "OnNotifyFileDownload");
    EXPECT_EQ(RowOf("/playdirect/3.mp4"), "OnNotifyPlayDirect");
    EXPECT_EQ(RowOf("/xml/fil1A.tmp"), "OnNotifyXML");
    EXPECT_EQ(RowOf("/thumb/Movies/a.jpg"), "OnNotifyThumb");
}

TEST(RequestPaths, DotDotComponentsAreFound)
{
    EXPECT_TRUE(HasDotDotComponent(".."));
    EXPECT_TRUE(HasDotDotComponent("/a/../b"));
    EXPECT_TRUE(HasDotDotComponent("a\\..\\b"));
    EXPECT_TRUE(HasDotDotComponent("/a/.."));
    EXPECT_FALSE(HasDotDotComponent("/a/..b/c"));
    EXPECT_FALSE(HasDotDotComponent("/a/b../c"));
    EXPECT_FALSE(HasDotDotComponent("/a/./c"));
    EXPECT_FALSE(HasDotDotComponent(""));
}
