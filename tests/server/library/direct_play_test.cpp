// The direct-play table: one number per path, never reused, found both ways, and
// the same under many threads at once.

#include "config/settings.h"
#include "library/library_context.h"
#include "support/test_server.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

std::string UniquePath(const std::string& tag, int i)
{
    return "/direct-play-test/" + tag + "/" + std::to_string(i) + ".mp4";
}

// Each test has a server of its own, so its table starts empty.
class DirectPlayTest : public ::testing::Test {
protected:
    unsigned GetDirectPlayNumber(const std::string& path)
    {
        return m_server.DirectPlay().GetDirectPlayNumber(path);
    }
    std::string FindDirectPlayPath(unsigned number)
    {
        return m_server.DirectPlay().FindDirectPlayPath(number);
    }
    std::string ResolveDirectPlayUri(const std::string& uri)
    {
        return ::ResolveDirectPlayUri(m_server, uri);
    }

    vembatest::TestDataFolder m_data { "directplay" };
    LibraryContext m_server { m_data.Parts() };
};

TEST_F(DirectPlayTest, APathKeepsItsNumberAndNumbersAreNeverReused)
{
    unsigned first = GetDirectPlayNumber(UniquePath("keep", 1));
    unsigned second = GetDirectPlayNumber(UniquePath("keep", 2));
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(GetDirectPlayNumber(UniquePath("keep", 1)), first);
    EXPECT_EQ(FindDirectPlayPath(first), UniquePath("keep", 1));
    EXPECT_EQ(FindDirectPlayPath(second), UniquePath("keep", 2));
}

TEST_F(DirectPlayTest, TheUrlCarriesHostExternalPortAndNumber)
{
    m_server.Settings().WriteText(kKeyExtPort, "47002");
    m_server.WebServer().ReloadExternalPort();
    std::string url = MakeDirectPlayUrl(m_server, "192.168.0.7", UniquePath("url", 1));
    unsigned number = GetDirectPlayNumber(UniquePath("url", 1));
    EXPECT_EQ(url, "http://192.168.0.7:47002/playdirect/file-" + std::to_string(number) + ".m4v");
    EXPECT_EQ(MakeDirectPlayUrl(m_server, "192.168.0.7", UniquePath("url", 1)), url);
}

TEST_F(DirectPlayTest, ResolvingGivesThePathOfAKnownNumberOnly)
{
    unsigned number = GetDirectPlayNumber(UniquePath("resolve", 1));
    std::string n = std::to_string(number);
    EXPECT_EQ(ResolveDirectPlayUri("/playdirect/file-" + n + ".m4v"), UniquePath("resolve", 1));
    // The client's second encoding of the digits is undone first.
    std::string encoded;
    for (char c : n)
        encoded += "%3" + std::string(1, c);
    EXPECT_EQ(
        ResolveDirectPlayUri("/playdirect/file-" + encoded + ".m4v"), UniquePath("resolve", 1));
    for (const std::string& uri : { std::string("/playdirect/file-0.m4v"),
             std::string("/playdirect/file-999999999.m4v"), std::string("/playdirect/file-.m4v"),
             std::string("/playdirect/file--1.m4v"), std::string("/playdirect/file-abc.m4v"),
             std::string("/playdirect/file-99999999999999999999.m4v"),
             std::string("/playdirect/file-4294967297.m4v"), std::string("/playdirect/"),
             std::string("/playdirect/file-%2D1.m4v") })
        EXPECT_EQ(ResolveDirectPlayUri(uri), "") << uri;
}

TEST_F(DirectPlayTest, ConcurrentFirstRequestsForOnePathGetOneNumber)
{
    constexpr int kPaths = 200;
    constexpr int kThreads = 8;
    std::vector<std::vector<unsigned>> seen(kThreads, std::vector<unsigned>(kPaths));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &seen] {
            std::vector<int> order(kPaths);
            for (int i = 0; i < kPaths; ++i)
                order[i] = i;
            std::shuffle(order.begin(), order.end(), std::mt19937(t));
            for (int i : order)
                seen[t][i] = GetDirectPlayNumber(UniquePath("race", i));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<unsigned> numbers;
    for (int i = 0; i < kPaths; ++i) {
        for (int t = 1; t < kThreads; ++t)
            EXPECT_EQ(seen[t][i], seen[0][i]) << "path " << i;
        numbers.insert(seen[0][i]);
        EXPECT_EQ(FindDirectPlayPath(seen[0][i]), UniquePath("race", i));
    }
    ASSERT_EQ(numbers.size(), static_cast<size_t>(kPaths));
    // The numbers given out by this burst are one unbroken run.
    EXPECT_EQ(*numbers.rbegin() - *numbers.begin() + 1, static_cast<unsigned>(kPaths));
}

TEST_F(DirectPlayTest, TheLeastRecentlyUsedLeaveFirstAndTheirNumbersAreNotReused)
{
    std::vector<unsigned> numbers;
    for (size_t i = 0; i < kDirectPlayCapacity; ++i)
        numbers.push_back(GetDirectPlayNumber(UniquePath("bound", static_cast<int>(i))));
    EXPECT_EQ(m_server.DirectPlay().DirectPlayEntryCount(), kDirectPlayCapacity);
    // Using the oldest by number and the second oldest by path keeps them.
    EXPECT_EQ(FindDirectPlayPath(numbers[0]), UniquePath("bound", 0));
    EXPECT_EQ(GetDirectPlayNumber(UniquePath("bound", 1)), numbers[1]);

    unsigned newcomer = GetDirectPlayNumber(UniquePath("bound-new", 0));
    EXPECT_EQ(m_server.DirectPlay().DirectPlayEntryCount(), kDirectPlayCapacity);
    EXPECT_GT(newcomer, numbers.back());
    // The least recently used one (the third added) has gone; its number is unknown.
    EXPECT_EQ(FindDirectPlayPath(numbers[2]), "");
    EXPECT_EQ(ResolveDirectPlayUri("/playdirect/file-" + std::to_string(numbers[2]) + ".m4v"), "");
    EXPECT_EQ(FindDirectPlayPath(numbers[0]), UniquePath("bound", 0));
    EXPECT_EQ(FindDirectPlayPath(numbers[1]), UniquePath("bound", 1));
    EXPECT_EQ(FindDirectPlayPath(numbers[3]), UniquePath("bound", 3));
    // Asked for again, the evicted path gets a fresh number, never the old one.
    unsigned again = GetDirectPlayNumber(UniquePath("bound", 2));
    EXPECT_NE(again, numbers[2]);
    EXPECT_GT(again, newcomer);
    // Looking 3 up above used it, so 4 was the least recently used and made room.
    EXPECT_EQ(FindDirectPlayPath(numbers[4]), "");
    EXPECT_EQ(FindDirectPlayPath(numbers[3]), UniquePath("bound", 3));
}

} // namespace
