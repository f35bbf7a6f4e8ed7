// The shared folder list: names, order, replacement and readers on many threads.

#include "library/shared_folders.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

class SharedFoldersTest : public ::testing::Test {
protected:
    SharedFolderList m_shares;
};

TEST_F(SharedFoldersTest, AddingAnExistingNameReplacesItsPathInPlace)
{
    ASSERT_TRUE(m_shares.AddSharedFolder("/srv/a", "A"));
    ASSERT_TRUE(m_shares.AddSharedFolder("/srv/b", "B"));
    ASSERT_TRUE(m_shares.AddSharedFolder("/srv/c", "C"));
    ASSERT_TRUE(m_shares.AddSharedFolder("/srv/b2", "B"));
    std::vector<SharedFolder> folders = m_shares.GetSharedFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0].name, "A");
    EXPECT_EQ(folders[1].name, "B");
    EXPECT_EQ(folders[1].path, "/srv/b2");
    EXPECT_EQ(folders[2].name, "C");
}

TEST_F(SharedFoldersTest, NamesCompareExactly)
{
    ASSERT_TRUE(m_shares.AddSharedFolder("/srv/movies", "Movies"));
    EXPECT_EQ(m_shares.FindSharedFolderPath("Movies"), "/srv/movies");
    EXPECT_EQ(m_shares.FindSharedFolderPath("movies"), "");
    EXPECT_EQ(m_shares.FindSharedFolderPath("Movies "), "");
    EXPECT_EQ(m_shares.FindSharedFolderPath(""), "");
}

TEST_F(SharedFoldersTest, RemovingTakesOnlyThatShare)
{
    ASSERT_TRUE(m_shares.AddSharedFolder("/srv/a", "A"));
    ASSERT_TRUE(m_shares.AddSharedFolder("/srv/b", "B"));
    EXPECT_TRUE(m_shares.RemoveSharedFolder("A"));
    EXPECT_FALSE(m_shares.RemoveSharedFolder("A"));
    EXPECT_EQ(m_shares.FindSharedFolderPath("A"), "");
    EXPECT_EQ(m_shares.FindSharedFolderPath("B"), "/srv/b");
}

TEST_F(SharedFoldersTest, NamesNoRequestCouldNameAreRefused)
{
    EXPECT_FALSE(m_shares.AddSharedFolder("/srv/a", ""));
    EXPECT_FALSE(m_shares.AddSharedFolder("/srv/a", "a/b"));
    EXPECT_FALSE(m_shares.AddSharedFolder("/srv/a", std::string("a\0b", 3)));
    EXPECT_FALSE(m_shares.AddSharedFolder("", "Empty"));
    EXPECT_TRUE(m_shares.GetSharedFolders().empty());
}

TEST_F(SharedFoldersTest, ReadersNeverSeeANameWithAnotherSharesPath)
{
    std::atomic<bool> stop { false };
    std::atomic<int> mismatches { 0 };
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            while (!stop) {
                for (const SharedFolder& folder : m_shares.GetSharedFolders()) {
                    if (folder.path != "/srv/" + folder.name)
                        ++mismatches;
                }
                std::string path = m_shares.FindSharedFolderPath("S7");
                if (!path.empty() && path != "/srv/S7")
                    ++mismatches;
            }
        });
    }
    for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < 10; ++i)
            m_shares.AddSharedFolder("/srv/S" + std::to_string(i), "S" + std::to_string(i));
        for (int i = 0; i < 10; i += 2)
            m_shares.RemoveSharedFolder("S" + std::to_string(i));
    }
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(m_shares.GetSharedFolders().size(), 5u); // the odd ones stay after the last round
}

} // namespace
