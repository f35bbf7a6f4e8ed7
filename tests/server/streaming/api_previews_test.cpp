// A video's seek previews over real HTTP with the real engine, behind the password:
// "pending" first, then the WebVTT thumbnails track whose cues name sheets that the
// sheet request serves, with the entity tags, methods and hostile values of the API.

#include "live_server_fixture.h"

#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

bool MakeTwelveSeconds(const std::string& path)
{
    return MakeTestClip(path, 12, 320, 240);
}

class ApiPreviews : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(EnsureSharedMedia("twelve.mp4", MakeTwelveSeconds));
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running());
        ASSERT_TRUE(PutMedia(m_server, "twelve.mp4", "film.mp4"));
        std::ofstream(m_server.MediaFolder() + "/notes.mp4") << "not a film\n";
        m_server.Server().Previews().SetObserver(
            [this](const std::string& path, SeekPreviews::Event event) {
                std::lock_guard lock(m_lock);
                m_done.emplace_back(path, event);
                m_changed.notify_all();
            });
        const HttpReply connected = m_server.Get("/connect?password=1234");
        m_id = PlistValue(connected.body, "message").value_or("");
        ASSERT_EQ(m_id.size(), 32u) << connected.body;
    }

    bool WaitFor(const std::string& name, SeekPreviews::Event event)
    {
        const std::pair<std::string, SeekPreviews::Event> wanted(
            m_server.MediaFolder() + "/" + name, event);
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 120s,
            [&] { return std::find(m_done.begin(), m_done.end(), wanted) != m_done.end(); });
    }

    HttpReply Previews(const std::string& path, const std::string& headers = {})
    {
        return m_server.Get("/api/v1/previews?id=" + m_id + "&path=" + UrlEncode(path), headers);
    }

    LoopbackServer m_server { SettingList {
        { "Password", "1234" }, { "PasswordMode", "1" }, { "RequirePassword", "1" } } };
    std::string m_id;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::pair<std::string, SeekPreviews::Event>> m_done; // guarded by m_lock
};

TEST_F(ApiPreviews, TheFirstAskIsPendingThenTheTrackNamesSheetsThatAreServed)
{
    EXPECT_EQ(m_server.Get("/api/v1/previews?path=/Movies/film.mp4").status, 403);

    const HttpReply pending = Previews("/Movies/film.mp4");
    ASSERT_EQ(pending.status, 202) << pending.body;
    EXPECT_EQ(pending.Header("retry-after"), "10");
    EXPECT_EQ(json::parse(pending.body, nullptr, false)["pending"], true);
    ASSERT_TRUE(WaitFor("film.mp4", SeekPreviews::Event::Made));

    const HttpReply track = Previews("/Movies/film.mp4");
    ASSERT_EQ(track.status, 200) << track.body;
    EXPECT_EQ(track.Header("content-type"), "text/vtt; charset=utf-8");
    EXPECT_EQ(track.body.rfind("WEBVTT\n", 0), 0u);
    const size_t first
        = track.body.find("00:00:00.000 --> 00:00:10.000\npreview-sheet?path=/Movies/film.mp4&v=");
    ASSERT_NE(first, std::string::npos) << track.body;
    EXPECT_NE(track.body.find("&sheet=0#xywh=0,0,160,120\n", first), std::string::npos);
    EXPECT_NE(track.body.find("00:00:10.000 --> 00:00:12.0"), std::string::npos);
    EXPECT_NE(track.body.find("&sheet=0#xywh=160,0,160,120\n"), std::string::npos);
    EXPECT_EQ(
        Previews("/Movies/film.mp4", "If-None-Match: " + track.Header("etag") + "\r\n").status,
        304);

    // The sheet as the cue names it, relative to the track's own URL.
    const size_t start = track.body.find("preview-sheet?", first);
    const std::string sheet = track.body.substr(start, track.body.find('#', start) - start);
    const HttpReply picture = m_server.Get("/api/v1/" + sheet + "&id=" + m_id);
    ASSERT_EQ(picture.status, 200);
    EXPECT_EQ(picture.Header("content-type"), "image/jpeg");
    EXPECT_EQ(picture.body.substr(0, 2), "\xFF\xD8");
    const HttpReply head = m_server.Send("HEAD", "/api/v1/" + sheet + "&id=" + m_id);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
    EXPECT_EQ(m_server
                  .Get("/api/v1/" + sheet + "&id=" + m_id,
                      "If-None-Match: " + picture.Header("etag") + "\r\n")
                  .status,
        304);
}

TEST_F(ApiPreviews, HostileAsksAreAnsweredPlainly)
{
    const std::string sheet = "/api/v1/preview-sheet?id=" + m_id + "&path=/Movies/film.mp4";
    EXPECT_EQ(m_server.Get(sheet + "&sheet=0").status, 404); // not made yet
    EXPECT_EQ(m_server.Get(sheet + "&sheet=x").status, 400);
    EXPECT_EQ(m_server.Get(sheet).status, 400);
    EXPECT_EQ(m_server.Get(sheet + "&sheet=-1").status, 400);
    EXPECT_EQ(Previews("/Movies/../etc/passwd").status, 400);
    EXPECT_EQ(Previews("/Movies/missing.mp4").status, 404);
    EXPECT_EQ(Previews("/Nowhere/film.mp4").status, 404);
    EXPECT_EQ(m_server.Get("/api/v1/previews?id=" + m_id).status, 400);
    EXPECT_EQ(
        m_server.Send("POST", "/api/v1/previews?id=" + m_id + "&path=/Movies/film.mp4").status,
        405);

    // A file that only looks like a video: asked once, then known to have none.
    EXPECT_EQ(Previews("/Movies/notes.mp4").status, 202);
    ASSERT_TRUE(WaitFor("notes.mp4", SeekPreviews::Event::Failed));
    const HttpReply none = Previews("/Movies/notes.mp4");
    EXPECT_EQ(none.status, 404);
    EXPECT_NE(none.body.find("No previews"), std::string::npos);
}

} // namespace
