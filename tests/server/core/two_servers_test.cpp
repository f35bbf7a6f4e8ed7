// Two server objects in one process, each on a data folder and a port of its own: each
// answers, lists and streams only its own share with the real engine, and one stops
// while the other keeps serving.

#include "support/loopback_server.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

bool MakeClip(const std::string& path)
{
    return vembatest::RunCommand(
        "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=320x240:rate=24:duration=12 "
        "-f lavfi -i sine=frequency=440:duration=12 -c:v libx264 -preset ultrafast -pix_fmt "
        "yuv420p -c:a aac -shortest "
        + vembatest::ShellQuote(path));
}

// Connects, plays the clip and asks for its first variant's playlist; the client id,
// or empty when the play was refused.
std::string Play(const LoopbackServer& server, const std::string& clip)
{
    std::string id = server.Connect();
    if (id.empty() || server.Play(id, clip, "00:00:12").result != 0
        || server.Get("/list/" + id + "/movie1.m3u8").status != 200)
        return {};
    return id;
}

HttpReply Segment(const LoopbackServer& server, const std::string& id, int n)
{
    return server.Get("/file/" + id + "/vemba-1-" + std::to_string(n) + ".ts");
}

} // namespace

TEST(TwoServers, EachServesItsOwnShareAndOneStopsWhileTheOtherGoesOn)
{
    LoopbackServer first;
    LoopbackServer second;
    ASSERT_TRUE(first.Running());
    ASSERT_TRUE(second.Running());
    ASSERT_NE(first.Port(), second.Port());
    ASSERT_NE(first.DataFolder(), second.DataFolder());
    ASSERT_TRUE(MakeClip(first.MediaFolder() + "/alpha.mp4"));
    ASSERT_TRUE(MakeClip(second.MediaFolder() + "/beta.mp4"));

    // Each lists its own share only.
    std::string firstListing = first.FetchListing("/Movies");
    std::string secondListing = second.FetchListing("/Movies");
    EXPECT_NE(firstListing.find("alpha.mp4"), std::string::npos) << firstListing;
    EXPECT_EQ(firstListing.find("beta.mp4"), std::string::npos) << firstListing;
    EXPECT_NE(secondListing.find("beta.mp4"), std::string::npos) << secondListing;
    EXPECT_EQ(secondListing.find("alpha.mp4"), std::string::npos) << secondListing;

    // Each streams its own clip, into its own services folder; neither knows the other's.
    EXPECT_EQ(Play(first, "beta.mp4"), "");
    std::string a = Play(first, "alpha.mp4");
    std::string b = Play(second, "beta.mp4");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    HttpReply segmentA = Segment(first, a, 1);
    HttpReply segmentB = Segment(second, b, 1);
    ASSERT_EQ(segmentA.status, 200);
    ASSERT_EQ(segmentB.status, 200);
    EXPECT_EQ(segmentA.Header("content-type"), "video/mp2t");
    EXPECT_GT(segmentB.body.size(), 1000u);
    EXPECT_TRUE(std::filesystem::exists(first.WorkFolder(a) + "/vemba-1-1.ts"));
    EXPECT_TRUE(std::filesystem::exists(second.WorkFolder(b) + "/vemba-1-1.ts"));
    EXPECT_FALSE(std::filesystem::exists(second.WorkFolder(a)));
    EXPECT_NE(Segment(second, a, 1).status, 200) << "a session of the other server";

    // The first stops; the second keeps answering and streaming.
    ASSERT_TRUE(first.Stop());
    EXPECT_FALSE(first.Get("/connect").connected);
    EXPECT_FALSE(second.Connect().empty());
    HttpReply next = Segment(second, b, 2);
    EXPECT_EQ(next.status, 200);
    EXPECT_GT(next.body.size(), 1000u);
}
