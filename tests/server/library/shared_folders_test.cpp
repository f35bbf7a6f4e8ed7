// The shared folder list: names, order, replacement and readers on many threads.

#include "library/shared_folders.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

class SharedFoldersTest : public ::testing::Test {
protected:
    void SetUp() override { ClearSharedFolders(); }
    void TearDown() override { ClearSharedFolders(); }
};

TEST_F(SharedFoldersTest, AddingAnExistingNameReplacesItsPathInPlace)
{
    ASSERT_TRUE(AddSharedFolder("/srv/a", "A"));
    ASSERT_TRUE(AddSharedFolder("/srv/b", "B"));
    ASSERT_TRUE(AddSharedFolder("/srv/c", "C"));
    ASSERT_TRUE(AddSharedFolder("/srv/b2", "B"));
    std::vector<SharedFolder> folders = GetSharedFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0].name, "A");
    EXPECT_EQ(folders[1].name, "B");
    EXPECT_EQ(folders[1].path, "/srv/b2");
    EXPECT_EQ(folders[2].name, "C");
}

TEST_F(SharedFoldersTest, NamesCompareExactly)
{
    ASSERT_TRUE(AddSharedFolder("/srv/movies", "Movies"));
    EXPECT_EQ(FindSharedFolderPath("Movies"), "/srv/movies");
    EXPECT_EQ(FindSharedFolderPath("movies"), "");
    EXPECT_EQ(FindSharedFolderPath("Movies "), "");
    EXPECT_EQ(FindSharedFolderPath(""), "");
}

TEST_F(SharedFoldersTest, RemovingTakesOnlyThatShare)
{
    ASSERT_TRUE(AddSharedFolder("/srv/a", "A"));
    ASSERT_TRUE(AddSharedFolder("/srv/b", "B"));
    EXPECT_TRUE(RemoveSharedFolder("A"));
    EXPECT_FALSE(RemoveSharedFolder("A"));
    EXPECT_EQ(FindSharedFolderPath("A"), "");
    EXPECT_EQ(FindSharedFolderPath("B"), "/srv/b");
}

TEST_F(SharedFoldersTest, NamesNoRequestCouldNameAreRefused)
{
    EXPECT_FALSE(AddSharedFolder("/srv/a", ""));
    EXPECT_FALSE(AddSharedFolder("/srv/a", "a/b"));
    EXPECT_FALSE(AddSharedFolder("/srv/a", std::string("a\0b", 3)));
    EXPECT_FALSE(AddSharedFolder("", "Empty"));
    EXPECT_TRUE(GetSharedFolders().empty());
}

TEST_F(SharedFoldersTest, ReadersNeverSeeANameWithAnotherSharesPath)
{
    std::atomic<bool> stop { false };
    std::atomic<int> mismatches { 0 };
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            while (!stop) {
                for (const SharedFolder& folder : GetSharedFolders()) {
                    if (folder.path != "/srv/" + folder.name)
                        ++mismatches;
                }
                std::string path = FindSharedFolderPath("S7");
                if (!path.empty() && path != "/srv/S7")
                    ++mismatches;
            }
        });
    }
    for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < 10; ++i)
            AddSharedFolder("/srv/S" + std::to_string(i), "S" + std::to_string(i));
        for (int i = 0; i < 10; i += 2)
            RemoveSharedFolder("S" + std::to_string(i));
    }
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(GetSharedFolders().size(), 5u); // the odd ones stay after the last round
}

} // namespace
