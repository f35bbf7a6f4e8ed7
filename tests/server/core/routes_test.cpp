#include "core/request_table.h"
#include "core/vemba_server.h"
#include "http/request.h"
#include "support/test_server.h"

#include <gtest/gtest.h>
#include <set>

// The table of a server object that never starts.
class RequestTable : public ::testing::Test {
protected:
    std::string RowOf(std::string_view uri) const
    {
        const Route* route = FindRoute(m_routes, uri);
        return route ? route->handlerName : "";
    }
    vembatest::TestDataFolder m_data { "vembaroutes" };
    CVembaServer m_server { m_data.Parts() };
    const std::vector<Route> m_routes = BuildRoutes(m_server);
};

TEST_F(RequestTable, HasTheTwentyRowsOfTheClientApiTheBrowserApiAndTheTelevisionRow)
{
    const std::vector<Route>& routes = m_routes;
    ASSERT_EQ(routes.size(), 37u);
    std::set<std::string> names;
    for (const Route& route : routes) {
        names.insert(route.handlerName);
        EXPECT_TRUE(route.handler) << route.path << " is bound to the server";
        // A prefix row ends with '/', an exact row never does.
        EXPECT_EQ(route.match == RouteMatch::Prefix, std::string_view(route.path).ends_with('/'))
            << route.path;
    }
    EXPECT_EQ(names.size(), 37u);
    // Only the television device's media are for the home network without an id.
    for (const Route& route : routes)
        EXPECT_EQ(route.access == RouteAccess::HomeNetwork, route.path == "/dlna/") << route.path;
}

TEST_F(RequestTable, ExactRowsMatchOnlyTheWholeUri)
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

TEST_F(RequestTable, PrefixRowsNeedTheirWholePrefix)
{
    EXPECT_EQ(RowOf("/list/abc"), "OnNotifyPlayList");
    EXPECT_EQ(RowOf("/list/"), "OnNotifyPlayList");
    EXPECT_EQ(RowOf("/list"), "");
    EXPECT_EQ(RowOf("/file/ID/vemba-1-1.ts"), "OnNotifyPlayFile");
    EXPECT_EQ(RowOf("/file_download/Movies/a.avi"), "OnNotifyFileDownload");
    EXPECT_EQ(RowOf("/playdirect/3.mp4"), "OnNotifyPlayDirect");
    EXPECT_EQ(RowOf("/xml/fil1A.tmp"), "OnNotifyXML");
    EXPECT_EQ(RowOf("/thumb/Movies/a.jpg"), "OnNotifyThumb");
    EXPECT_EQ(RowOf("/dlna/media/pTW92aWVz.mp4"), "OnNotifyDlnaMedia");
    EXPECT_EQ(RowOf("/dlna"), "");
}

TEST_F(RequestTable, TheBrowserApiReadsExceptWhereItActsForAPerson)
{
    for (const Route& route : m_routes) {
        if (!route.path.starts_with("/api/"))
            continue;
        const bool acts = route.path.ends_with("/save") || route.path.ends_with("/forget")
            || route.path.ends_with("/delete") || route.path.ends_with("/create");
        EXPECT_EQ(route.effect, acts ? RouteEffect::ChangesState : RouteEffect::ReadOnly)
            << route.path;
        EXPECT_EQ(route.access, RouteAccess::ClientApi) << route.path;
    }
    EXPECT_EQ(RowOf("/api/v1/position"), "OnNotifyApiPosition");
    EXPECT_EQ(RowOf("/api/v1/position/save"), "OnNotifyApiSavePosition");
    EXPECT_EQ(RowOf("/api/v1/folders"), "OnNotifyApiUnknown");
    EXPECT_EQ(RowOf("/api/v2/folder"), "OnNotifyApiUnknown");
    EXPECT_EQ(RowOf("/api"), "");
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
