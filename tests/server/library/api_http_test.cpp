// The browser's JSON API of the media library over real HTTP against the loopback
// server: folder listings that answer at once and fill in media properties, search and
// recently added from the library index, play positions per profile with their limits,
// the front's rules (405, 304, HEAD, cross-site refusal), and hostile query values.

#include "library/play_positions.h"
#include "library_server.h"
#include "support/index_notices.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;
using Kind = IndexNotice::Kind;

namespace {

class ApiHttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoopbackOptions options;
        options.start = false;
        m_server = std::make_unique<LoopbackServer>(std::move(options));
    }

    // Starts the server and waits for the index's first walk of the share.
    void StartIndexed()
    {
        m_server->Server().Index().SetObserver(m_log.Observer());
        ASSERT_TRUE(m_server->Start());
        ASSERT_TRUE(m_log.WaitFor(Kind::ShareIndexed, "Movies"));
    }

    std::string Media(const std::string& name) const
    {
        return m_server->MediaFolder() + "/" + name;
    }

    // The JSON of a 200 answer; a test failure (and null) for anything else.
    json GetJson(const std::string& target, int status = 200)
    {
        const HttpReply reply = m_server->Get(target);
        EXPECT_EQ(reply.status, status) << target << "\n" << reply.body;
        EXPECT_EQ(reply.Header("content-type"), "application/json; charset=utf-8") << target;
        return json::parse(reply.body, nullptr, false);
    }

    static std::vector<std::string> Names(const json& files)
    {
        std::vector<std::string> names;
        for (const json& file : files)
            names.push_back(file.value("name", ""));
        return names;
    }

    vembatest::IndexNoticeLog m_log; // outlives the server, whose index tells it
    std::unique_ptr<LoopbackServer> m_server;
};

TEST_F(ApiHttpTest, AFolderListsSizesAndTimesAtOnceAndMediaOnceRead)
{
    ASSERT_TRUE(MakeVideo(Media("a.mp4"), 2));
    WriteFile(Media("notes.txt"), "x");
    WriteFile(Media(".hidden.mp4"), "x");
    fs::create_directories(Media("Kids/.private"));
    WriteFile(Media("Kids/b.mkv"), "x");
    ASSERT_TRUE(m_server->Start());

    json listing = GetJson("/api/v1/folder?path=" + UrlEncode("/Movies"));
    EXPECT_EQ(listing["path"], "/Movies");
    ASSERT_EQ(listing["folders"].size(), 1u);
    EXPECT_EQ(listing["folders"][0]["path"], "/Movies/Kids");
    EXPECT_EQ(listing["folders"][0]["count"], 2); // the phone's count: subfolders and videos
    ASSERT_EQ(Names(listing["files"]), std::vector<std::string> { "a.mp4" });
    const json& file = listing["files"][0];
    EXPECT_EQ(file["size"], fs::file_size(Media("a.mp4")));
    const auto modified = fs::last_write_time(Media("a.mp4"));
    EXPECT_NEAR(file["modified"].get<double>() / 1000.0,
        double(std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::file_clock::to_sys(modified).time_since_epoch())
                   .count()),
        1.0);
    // Not known yet means not there yet, and a read under way.
    if (!file.contains("media")) {
        EXPECT_GE(listing["pending"].get<int>(), 1);
    }

    m_server->Server().Prefetch().WaitIdle();
    listing = GetJson("/api/v1/folder?path=/Movies/");
    EXPECT_EQ(listing["pending"], 0);
    const json& media = listing["files"][0]["media"];
    EXPECT_TRUE(media["readable"].get<bool>());
    EXPECT_NEAR(media["duration"].get<double>(), 2.0, 0.2);
    EXPECT_EQ(media["width"], 160);
    EXPECT_EQ(media["video"], "AVC");

    const json root = GetJson("/api/v1/folder?path=/");
    ASSERT_EQ(root["folders"].size(), 1u);
    EXPECT_EQ(root["folders"][0]["name"], "Movies");
}

TEST_F(ApiHttpTest, AnswersFollowTheFrontsRules)
{
    ASSERT_TRUE(m_server->Start());
    const HttpReply first = m_server->Get("/api/v1/folder?path=/Movies");
    ASSERT_EQ(first.status, 200);
    const std::string tag = first.Header("etag");
    ASSERT_FALSE(tag.empty());
    EXPECT_EQ(first.Header("content-length"), std::to_string(first.body.size()));

    const HttpReply again
        = m_server->Get("/api/v1/folder?path=/Movies", "If-None-Match: " + tag + "\r\n");
    EXPECT_EQ(again.status, 304);
    EXPECT_TRUE(again.body.empty());

    const HttpReply head = m_server->Send("HEAD", "/api/v1/folder?path=/Movies");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("etag"), tag);
    EXPECT_TRUE(head.body.empty());

    EXPECT_EQ(m_server->Send("POST", "/api/v1/folder?path=/Movies").status, 405);
    EXPECT_EQ(
        m_server->Send("HEAD", "/api/v1/position/save?path=/Movies/a.mp4&position=1").status, 405);
    const json unknown = GetJson("/api/v1/nothing", 404);
    EXPECT_EQ(unknown["error"]["status"], 404);
}

TEST_F(ApiHttpTest, SearchFindsKoreanPartsAndRecentListsTheNewestFirst)
{
    WriteFile(Media("겨울왕국 2.mkv"), "x");
    fs::create_directories(Media("Drama"));
    WriteFile(Media("Drama/사랑의 불시착 01.mp4"), "x");
    WriteFile(Media("Up.mp4"), "x");
    StartIndexed();

    json found = GetJson("/api/v1/search?q=" + UrlEncode("왕국"));
    EXPECT_EQ(found["ready"], true);
    ASSERT_EQ(Names(found["files"]), std::vector<std::string> { "겨울왕국 2.mkv" });
    EXPECT_EQ(found["files"][0]["path"], "/Movies/겨울왕국 2.mkv");
    EXPECT_EQ(found["files"][0]["folder"], "/Movies");
    found = GetJson("/api/v1/search?q=" + UrlEncode("불시착"));
    ASSERT_EQ(found["files"].size(), 1u);
    EXPECT_EQ(found["files"][0]["path"], "/Movies/Drama/사랑의 불시착 01.mp4");
    EXPECT_TRUE(GetJson("/api/v1/search?q=zzz")["files"].empty());

    const size_t mark = m_log.Mark();
    WriteFile(Media("Drama/새 영화.mkv"), "x");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileIndexed, "Movies", "Drama/새 영화.mkv", mark));
    json recent = GetJson("/api/v1/recent?limit=2");
    ASSERT_EQ(recent["files"].size(), 2u);
    EXPECT_EQ(recent["files"][0]["name"], "새 영화.mkv");
    EXPECT_EQ(recent["more"], true);
    EXPECT_GE(
        recent["files"][0]["added"].get<int64_t>(), recent["files"][1]["added"].get<int64_t>());
    recent = GetJson("/api/v1/recent?limit=2&offset=2");
    EXPECT_EQ(recent["files"].size(), 2u);
    EXPECT_EQ(recent["more"], false);
}

TEST_F(ApiHttpTest, PositionsBelongToTheirProfile)
{
    ASSERT_TRUE(MakeVideo(Media("a.mp4"), 10));
    WriteFile(Media("b.mkv"), "x");
    ASSERT_TRUE(m_server->Start());

    json saved = GetJson("/api/v1/position/save?path=/Movies/a.mp4&position=4.5&duration=10");
    EXPECT_EQ(saved["profile"], "Home");
    EXPECT_EQ(saved["position"], 4.5);
    EXPECT_EQ(saved["watched"], false);
    GetJson("/api/v1/position/save?profile=" + UrlEncode("아이들")
        + "&path=/Movies/b.mkv&position=95&duration=100");

    json mine = GetJson("/api/v1/position?path=/Movies/a.mp4");
    EXPECT_EQ(mine["saved"], true);
    EXPECT_EQ(mine["position"], 4.5);
    json theirs
        = GetJson("/api/v1/position?profile=" + UrlEncode("아이들") + "&path=/Movies/a.mp4");
    EXPECT_EQ(theirs["saved"], false);

    // Past nine tenths it counts as watched, and leaves what is unfinished.
    json kids = GetJson("/api/v1/positions?profile=" + UrlEncode("아이들"));
    ASSERT_EQ(kids["positions"].size(), 1u);
    EXPECT_EQ(kids["positions"][0]["watched"], true);
    EXPECT_EQ(kids["positions"][0]["path"], "/Movies/b.mkv");
    EXPECT_TRUE(
        GetJson("/api/v1/positions?state=unfinished&profile=" + UrlEncode("아이들"))["positions"]
            .empty());

    // The latest save first.
    GetJson("/api/v1/position/save?path=/Movies/b.mkv&position=1");
    json home = GetJson("/api/v1/positions");
    ASSERT_EQ(home["positions"].size(), 2u);
    EXPECT_EQ(home["positions"][0]["path"], "/Movies/b.mkv");
    EXPECT_EQ(home["positions"][1]["position"], 4.5);

    GetJson("/api/v1/position/forget?path=/Movies/b.mkv");
    EXPECT_EQ(GetJson("/api/v1/positions")["positions"].size(), 1u);

    // A page of another site saves nothing.
    const HttpReply crossSite = m_server->Get(
        "/api/v1/position/save?path=/Movies/a.mp4&position=9", "Sec-Fetch-Site: cross-site\r\n");
    EXPECT_EQ(crossSite.status, 403);
    EXPECT_EQ(GetJson("/api/v1/position?path=/Movies/a.mp4")["position"], 4.5);
}

TEST_F(ApiHttpTest, ProfilesAreBoundedInNumberAndName)
{
    WriteFile(Media("a.mkv"), "x");
    ASSERT_TRUE(m_server->Start());
    for (size_t i = 0; i < kMaxProfiles; ++i)
        GetJson(
            "/api/v1/position/save?path=/Movies/a.mkv&position=1&profile=p" + std::to_string(i));
    const json refused
        = GetJson("/api/v1/position/save?path=/Movies/a.mkv&position=1&profile=one-more", 409);
    EXPECT_EQ(refused["error"]["status"], 409);
    // Profiles that exist still save.
    GetJson("/api/v1/position/save?path=/Movies/a.mkv&position=2&profile=p3");
    EXPECT_EQ(GetJson("/api/v1/profiles")["profiles"].size(), kMaxProfiles);
    GetJson("/api/v1/profile/delete?profile=p0");
    GetJson("/api/v1/position/save?path=/Movies/a.mkv&position=1&profile=one-more");

    const std::string forty(40, 'x');
    GetJson("/api/v1/positions?profile=" + forty);
    GetJson("/api/v1/positions?profile=" + forty + "x", 400);
    // Forty characters of Korean are 120 bytes, and still a name.
    std::string korean;
    for (int i = 0; i < 40; ++i)
        korean += "가";
    GetJson("/api/v1/positions?profile=" + UrlEncode(korean));
    for (const char* bad : { "", "%ff", "a%0Ab", "%C0%80" })
        GetJson(std::string("/api/v1/positions?profile=") + bad, 400);
}

TEST_F(ApiHttpTest, HostileQueryValuesGetClearErrors)
{
    WriteFile(Media("a.mkv"), "x");
    fs::create_directories(Media(".private"));
    fs::create_directory_symlink("/etc", Media("outside"));
    ASSERT_TRUE(m_server->Start());
    const std::string huge(8000, 'a');
    const std::vector<std::pair<std::string, int>> cases = {
        { "/api/v1/folder", 400 },
        { "/api/v1/folder?path=%ff%fe", 400 },
        { "/api/v1/folder?path=/Movies/../../etc", 400 },
        { "/api/v1/folder?path=/Movies/%2e%2e/%2e%2e", 400 },
        { "/api/v1/folder?path=%00", 400 },
        { "/api/v1/folder?path=/Movies%00/x", 400 },
        { "/api/v1/folder?path=%zz", 400 },
        { "/api/v1/folder?path=%4", 400 },
        { "/api/v1/folder?path=/Movies&path=/Other", 400 },
        { "/api/v1/folder?path=/" + huge, 400 },
        { "/api/v1/folder?path=/Nope", 404 },
        { "/api/v1/folder?path=/Movies/.private", 404 },
        { "/api/v1/folder?path=/Movies/outside", 404 },
        { "/api/v1/folder?path=/Movies/a.mkv", 404 },
        { "/api/v1/search", 400 },
        { "/api/v1/search?q=", 400 },
        { "/api/v1/search?q=%20%20", 400 },
        { "/api/v1/search?q=a%01", 400 },
        { "/api/v1/search?q=" + std::string(300, 'a'), 400 },
        { "/api/v1/search?q=a+b+c+d+e+f+g+h+i", 400 },
        { "/api/v1/search?q=mkv&limit=0", 400 },
        { "/api/v1/search?q=mkv&limit=-1", 400 },
        { "/api/v1/search?q=mkv&limit=99999999999999999999999", 400 },
        { "/api/v1/search?q=mkv&offset=1e3", 400 },
        { "/api/v1/recent?limit=+5", 400 },
        { "/api/v1/position/save?path=/Movies/a.mkv", 400 },
        { "/api/v1/position/save?path=/Movies/a.mkv&position=nan", 400 },
        { "/api/v1/position/save?path=/Movies/a.mkv&position=inf", 400 },
        { "/api/v1/position/save?path=/Movies/a.mkv&position=-5", 400 },
        { "/api/v1/position/save?path=/Movies/a.mkv&position=1e9", 400 },
        { "/api/v1/position/save?path=/Movies/a.mkv&position=1&duration=1,5", 400 },
        { "/api/v1/position/save?path=/Movies/nothing.mkv&position=1", 404 },
        { "/api/v1/position/save?path=/Movies/outside/passwd&position=1", 404 },
        { "/api/v1/positions?state=some", 400 },
        { "/api/v1/profile/delete", 400 },
        { "/api/v1/subtitle?path=/Movies/a.mkv", 400 },
        { "/api/v1/subtitle?path=/Movies/a.mkv&stream=0&file=a.srt", 400 },
        { "/api/v1/subtitle?path=/Movies/a.mkv&stream=x", 400 },
        { "/api/v1/subtitle?path=/Movies/a.mkv&file=../../etc/passwd", 404 },
        { "/api/v1/tracks?path=/Movies/../etc/passwd", 400 },
    };
    for (const auto& [target, status] : cases) {
        const HttpReply reply = m_server->Get(target);
        EXPECT_EQ(reply.status, status) << target;
        const json error = json::parse(reply.body, nullptr, false);
        EXPECT_EQ(error["error"]["status"], status) << target << "\n" << reply.body;
    }
    EXPECT_EQ(m_server->Get("/api/v1").status, 200);
}

TEST_F(ApiHttpTest, TheIndexFollowsAShareRemovedInTheSettings)
{
    WriteFile(Media("a.mkv"), "x");
    m_server->Server().Settings().SaveFolderList({ { "Movies", m_server->MediaFolder() } });
    StartIndexed();
    ASSERT_EQ(GetJson("/api/v1/recent")["files"].size(), 1u);
    const size_t mark = m_log.Mark();
    m_server->Server().Settings().SaveFolderList({});
    ASSERT_TRUE(m_log.WaitFor(Kind::ShareDropped, "Movies", "", mark));
    EXPECT_TRUE(GetJson("/api/v1/recent")["files"].empty());
    EXPECT_TRUE(GetJson("/api/v1/search?q=mkv")["files"].empty());
    GetJson("/api/v1/folder?path=/Movies", 404);
}

} // namespace

TEST_F(ApiHttpTest, AProfileIsMadeBeforeItsFirstPositionWithinTheLimit)
{
    ASSERT_TRUE(m_server->Start());
    EXPECT_EQ(
        GetJson("/api/v1/profile/create?profile=" + UrlEncode("아이들"))["profile"], "아이들");
    GetJson("/api/v1/profile/create?profile=" + UrlEncode("아이들")); // made already: still fine
    json listed = GetJson("/api/v1/profiles")["profiles"];
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]["name"], "아이들");
    EXPECT_EQ(listed[0]["positions"], 0);

    for (size_t i = 1; i < kMaxProfiles; ++i)
        GetJson("/api/v1/profile/create?profile=p" + std::to_string(i));
    const json refused = GetJson("/api/v1/profile/create?profile=one-more", 409);
    EXPECT_NE(refused["error"]["message"].get<std::string>().find("delete one"), std::string::npos);
    EXPECT_EQ(GetJson("/api/v1/profiles")["profiles"].size(), kMaxProfiles);

    GetJson("/api/v1/profile/create", 400);
    GetJson("/api/v1/profile/create?profile=" + std::string(41, 'x'), 400);
    const HttpReply crossSite
        = m_server->Get("/api/v1/profile/create?profile=p1", "Sec-Fetch-Site: cross-site\r\n");
    EXPECT_EQ(crossSite.status, 403);
}
