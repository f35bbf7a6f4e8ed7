#include "library/list_file_book.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class ListFileBookTest : public testing::Test {
protected:
    std::chrono::steady_clock::time_point m_now {};
    ListFileBook m_book { [this] { return m_now; }, ListFileLimits { 5min, 3, 5 } };

    std::vector<std::string> Enter(
        const std::string& client, const std::string& name, bool expectAdmitted = true)
    {
        std::vector<std::string> doomed;
        EXPECT_EQ(m_book.Enter(client, name, doomed), expectAdmitted) << name;
        return doomed;
    }
};

TEST_F(ListFileBookTest, UnfetchedFilesExpireAfterTheirLifetime)
{
    EXPECT_TRUE(Enter("a", "one").empty());
    m_now += 2min;
    EXPECT_TRUE(Enter("b", "two").empty());
    m_now += 3min - 1s;
    EXPECT_TRUE(Enter("c", "three").empty()); // "one" is a second short of expiring
    m_now += 1s;
    EXPECT_EQ(Enter("c", "four"), std::vector<std::string> { "one" });
    m_now += 2min;
    EXPECT_EQ(Enter("d", "five"), std::vector<std::string> { "two" });
    EXPECT_EQ(m_book.Count(), 3u);
}

TEST_F(ListFileBookTest, AClientThatHoldsItsShareLosesItsOldestFile)
{
    Enter("a", "a1");
    Enter("b", "b1");
    Enter("a", "a2");
    Enter("a", "a3");
    EXPECT_EQ(Enter("a", "a4"), std::vector<std::string> { "a1" });
    EXPECT_EQ(Enter("a", "a5"), std::vector<std::string> { "a2" });
    EXPECT_FALSE(m_book.Remove("a1"));
    EXPECT_TRUE(m_book.Remove("b1"));
    EXPECT_EQ(m_book.Count(), 3u);
}

TEST_F(ListFileBookTest, AFullServerRefusesNewFilesWithoutTakingOthers)
{
    Enter("a", "a1");
    Enter("b", "b1");
    Enter("c", "c1");
    Enter("d", "d1");
    Enter("e", "e1");
    EXPECT_TRUE(Enter("f", "f1", false).empty());
    EXPECT_EQ(m_book.Count(), 5u);
    // A fetch frees a place.
    EXPECT_TRUE(m_book.Remove("c1"));
    EXPECT_TRUE(Enter("f", "f1").empty());
    // Expiry frees them all.
    m_now += 5min;
    EXPECT_EQ(Enter("g", "g1").size(), 5u);
    EXPECT_EQ(m_book.Count(), 1u);
}

TEST_F(ListFileBookTest, FetchedAndClearedFilesAreForgotten)
{
    Enter("a", "a1");
    Enter("a", "a2");
    EXPECT_TRUE(m_book.Remove("a1"));
    EXPECT_FALSE(m_book.Remove("a1"));
    Enter("a", "a3");
    Enter("a", "a4"); // a2, a3, a4: the share is full again, nothing was lost early
    EXPECT_EQ(m_book.Count(), 3u);
    m_book.Clear();
    EXPECT_EQ(m_book.Count(), 0u);
    EXPECT_TRUE(Enter("a", "a5").empty());
}

} // namespace
