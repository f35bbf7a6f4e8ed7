// The library index on real folders: the walk at start with the listing's rules, the
// changes inotify reports, searches by parts of names (Korean and short words too),
// shares that go or move, the fallback when not every folder can be watched, and a
// damaged database. Every step waits for the index's own notice, never for time.

#include "library/library_context.h"
#include "library/library_index.h"
#include "library/shared_folders.h"
#include "platform/clock.h"
#include "support/index_notices.h"
#include "support/manual_clock.h"
#include "support/test_server.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace fs = std::filesystem;
using Kind = IndexNotice::Kind;

namespace {

void Touch(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> Paths(const std::optional<std::vector<IndexedFile>>& files)
{
    std::vector<std::string> paths;
    if (files) {
        for (const IndexedFile& file : *files)
            paths.push_back(file.RequestPath());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

class LibraryIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_root.Path().empty());
        fs::create_directories(Media());
        m_shares.AddSharedFolder(Media(), "Movies");
    }

    std::string Media() const { return m_root.Path() + "/media"; }
    std::string Database() const { return m_root.Path() + "/LibraryIndex.sqlite"; }

    // Starts the index and waits for the first walk of every share.
    void StartAndWalk(LibraryIndex& index, const std::vector<std::string>& shares = { "Movies" })
    {
        index.SetObserver(m_log.Observer());
        index.Start();
        for (const std::string& share : shares)
            ASSERT_TRUE(m_log.WaitFor(Kind::ShareIndexed, share));
    }

    std::vector<std::string> Search(LibraryIndex& index, const std::string& query)
    {
        SearchQueryError error;
        std::optional<SearchWords> words = ParseSearchQuery(query, error);
        if (!words)
            return { "error" };
        bool more = false;
        return Paths(index.Store().Search(*words, 100, 0, more));
    }

    vembatest::TempFolder m_root { "vembaindex" };
    SharedFolderList m_shares;
    SteadyClock m_clock;
    vembatest::IndexNoticeLog m_log;
};

TEST_F(LibraryIndexTest, TheWalkIndexesVideosAsTheListingsShowThem)
{
    Touch(Media() + "/a.mkv");
    Touch(Media() + "/notes.txt");
    Touch(Media() + "/.hidden.mp4");
    Touch(Media() + "/Kids/b.mp4");
    Touch(Media() + "/.secret/c.mp4");
    Touch(Media() + "/Kids/Deeper/d.AVI");
    fs::create_directory_symlink("/usr", Media() + "/outside");
    fs::create_directory_symlink(Media() + "/Kids", Media() + "/Kids/Deeper/loop");

    LibraryIndex index(Database(), m_shares, m_clock);
    StartAndWalk(index);
    bool more = false;
    EXPECT_EQ(Paths(index.Store().Recent(100, 0, more)),
        (std::vector<std::string> {
            "/Movies/Kids/Deeper/d.AVI", "/Movies/Kids/b.mp4", "/Movies/a.mkv" }));
}

TEST_F(LibraryIndexTest, FilesMadeRenamedAndDeletedChangeTheirRows)
{
    LibraryIndex index(Database(), m_shares, m_clock);
    StartAndWalk(index);

    size_t mark = m_log.Mark();
    Touch(Media() + "/new.mkv");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileIndexed, "Movies", "new.mkv", mark));
    std::optional<IndexedFile> made = index.Store().Find("Movies", "new.mkv");
    ASSERT_TRUE(made);

    mark = m_log.Mark();
    fs::rename(Media() + "/new.mkv", Media() + "/renamed.mkv");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileIndexed, "Movies", "renamed.mkv", mark));
    ASSERT_TRUE(m_log.WaitFor(Kind::FileRemoved, "Movies", "new.mkv", mark));
    std::optional<IndexedFile> renamed = index.Store().Find("Movies", "renamed.mkv");
    ASSERT_TRUE(renamed);
    EXPECT_FALSE(index.Store().Find("Movies", "new.mkv"));
    // A rename is no new arrival.
    EXPECT_EQ(renamed->addedNs, made->addedNs);

    // A folder made elsewhere and moved in is walked, and watched from then on.
    mark = m_log.Mark();
    Touch(m_root.Path() + "/incoming/Series/e01.mp4");
    fs::rename(m_root.Path() + "/incoming/Series", Media() + "/Series");
    ASSERT_TRUE(m_log.WaitFor(Kind::FolderIndexed, "Movies", "Series", mark));
    EXPECT_TRUE(index.Store().Find("Movies", "Series/e01.mp4"));
    mark = m_log.Mark();
    Touch(Media() + "/Series/e02.mp4");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileIndexed, "Movies", "Series/e02.mp4", mark));

    mark = m_log.Mark();
    fs::remove(Media() + "/renamed.mkv");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileRemoved, "Movies", "renamed.mkv", mark));
    fs::rename(Media() + "/Series", m_root.Path() + "/gone");
    ASSERT_TRUE(m_log.WaitFor(Kind::FolderRemoved, "Movies", "Series", mark));
    EXPECT_EQ(index.Store().Count(), 0u);

    // Moved out, the folder is no longer watched: a file made there is not the share's.
    mark = m_log.Mark();
    Touch(m_root.Path() + "/gone/e03.mp4");
    Touch(Media() + "/after.mp4");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileIndexed, "Movies", "after.mp4", mark));
    EXPECT_FALSE(m_log.Named("e03.mp4", mark));
    EXPECT_FALSE(index.Store().Find("Movies", "Series/e03.mp4"));
}

TEST_F(LibraryIndexTest, NamesAreFoundByAnyPartKoreanAndShortWordsIncluded)
{
    Touch(Media() + "/겨울왕국 2.mkv");
    Touch(Media() + "/사랑의 불시착 01.mp4");
    Touch(Media() + "/Up.mp4");
    Touch(Media() + "/The Matrix (1999).mkv");
    Touch(Media() + "/100%_real.mp4");
    // Hangul stored as separate letters, as some disks keep names: 기생충 (parasite).
    Touch(Media() + "/\u1100\u1175\u1109\u1162\u11BC\u110E\u116E\u11BC.mp4");

    LibraryIndex index(Database(), m_shares, m_clock);
    StartAndWalk(index);
    EXPECT_EQ(Search(index, "왕국"), std::vector<std::string> { "/Movies/겨울왕국 2.mkv" });
    EXPECT_EQ(Search(index, "겨울왕국"), std::vector<std::string> { "/Movies/겨울왕국 2.mkv" });
    EXPECT_EQ(
        Search(index, "불시착 01"), std::vector<std::string> { "/Movies/사랑의 불시착 01.mp4" });
    EXPECT_EQ(Search(index, "생"),
        std::vector<std::string> {
            "/Movies/\u1100\u1175\u1109\u1162\u11BC\u110E\u116E\u11BC.mp4" });
    EXPECT_EQ(Search(index, "기생충").size(), 1u);
    EXPECT_EQ(Search(index, "up"), std::vector<std::string> { "/Movies/Up.mp4" });
    EXPECT_EQ(
        Search(index, "MATRIX 99"), std::vector<std::string> { "/Movies/The Matrix (1999).mkv" });
    // Search syntax and LIKE wildcards are plain text here.
    EXPECT_EQ(Search(index, "%"), std::vector<std::string> { "/Movies/100%_real.mp4" });
    EXPECT_EQ(Search(index, "0%_"), std::vector<std::string> { "/Movies/100%_real.mp4" });
    EXPECT_EQ(Search(index, "\"ma*"), std::vector<std::string> {});
    EXPECT_EQ(Search(index, "matrix OR up"), std::vector<std::string> {});
    EXPECT_EQ(Search(index, "왕국 matrix"), std::vector<std::string> {});
}

// The first share into an empty database is written in bulk (the table's indexes made
// after its rows); a second share of the same folder goes row by row. Both must answer
// alike, and the bulk rows must take later changes like any other.
TEST_F(LibraryIndexTest, TheFirstBuildInBulkIndexesAsTheRowByRowPathDoes)
{
    const std::vector<std::string> names = { "겨울왕국 2.mkv", "Kids/사랑의 불시착 01.mp4",
        "Up.mp4", "Kids/Old/The Matrix (1999).mkv",
        "\u1100\u1175\u1109\u1162\u11BC\u110E\u116E\u11BC.mp4" };
    for (const std::string& name : names)
        Touch(Media() + "/" + name);
    m_shares.RemoveSharedFolder("Movies");
    ASSERT_TRUE(m_shares.AddSharedFolder(Media(), "A")); // first: the empty database's bulk
    ASSERT_TRUE(m_shares.AddSharedFolder(Media(), "B")); // then row by row beside A's rows
    LibraryIndex index(Database(), m_shares, m_clock);
    StartAndWalk(index, { "A", "B" });

    // The found paths of one share, without the share.
    auto found = [&](const std::string& query, const std::string& share) {
        std::vector<std::string> paths;
        for (const std::string& path : Search(index, query)) {
            if (path.starts_with("/" + share + "/"))
                paths.push_back(path.substr(share.size() + 2));
        }
        return paths;
    };
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        { "왕국", { "겨울왕국 2.mkv" } },
        { "겨울왕국", { "겨울왕국 2.mkv" } },
        { "불시착 01", { "Kids/사랑의 불시착 01.mp4" } },
        { "생", { names[4] } },
        { "기생충", { names[4] } },
        { "matrix 99", { "Kids/Old/The Matrix (1999).mkv" } },
        { "up", { "Up.mp4" } },
        { "mkv", { "Kids/Old/The Matrix (1999).mkv", "겨울왕국 2.mkv" } },
    };
    for (const auto& [query, paths] : expected) {
        EXPECT_EQ(found(query, "A"), paths) << query;
        EXPECT_EQ(found(query, "B"), paths) << query;
    }
    bool more = false;
    std::vector<std::string> recentA, recentB;
    for (const IndexedFile& file :
        index.Store().Recent(100, 0, more).value_or(std::vector<IndexedFile> {}))
        (file.share == "A" ? recentA : recentB).push_back(file.relativePath);
    EXPECT_EQ(recentA.size(), names.size());
    EXPECT_EQ(recentA, recentB);

    // A bulk row goes from the trigram table too, and a new one is found at once.
    size_t mark = m_log.Mark();
    fs::remove(Media() + "/겨울왕국 2.mkv");
    Touch(Media() + "/왕국의 아이들.mp4");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileRemoved, "A", "겨울왕국 2.mkv", mark));
    ASSERT_TRUE(m_log.WaitFor(Kind::FileIndexed, "A", "왕국의 아이들.mp4", mark));
    EXPECT_EQ(found("왕국", "A"), std::vector<std::string> { "왕국의 아이들.mp4" });
    EXPECT_EQ(found("겨울왕국", "A"), std::vector<std::string> {});

    // The bulk build left the table's indexes in place: a path is still one row.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(Database().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    {
        SqlStatement indexes(db,
            "SELECT count(*) FROM sqlite_master WHERE type = 'index'"
            " AND name IN ('files_by_path', 'files_by_added')");
        EXPECT_EQ(indexes.Step(), SQLITE_ROW);
        EXPECT_EQ(indexes.Int(0), 2);
    }
    sqlite3_close_v2(db);
}

TEST_F(LibraryIndexTest, AShareRemovedOrMovedLeavesNoRows)
{
    vembatest::TempFolder other("vembaindex");
    Touch(Media() + "/a.mkv");
    Touch(other.Path() + "/b.mkv");
    Touch(other.Path() + "/c.mkv");
    m_shares.AddSharedFolder(other.Path(), "Other");
    LibraryIndex index(Database(), m_shares, m_clock);
    m_shares.SetListener([&index] { index.SharesChanged(); });
    StartAndWalk(index, { "Movies", "Other" });
    ASSERT_EQ(index.Store().Count(), 3u);

    size_t mark = m_log.Mark();
    m_shares.RemoveSharedFolder("Other");
    ASSERT_TRUE(m_log.WaitFor(Kind::ShareDropped, "Other", "", mark));
    EXPECT_EQ(Search(index, "mkv"), std::vector<std::string> { "/Movies/a.mkv" });

    // Another folder under the same name: nothing of the old one stays.
    mark = m_log.Mark();
    m_shares.AddSharedFolder(other.Path(), "Movies");
    ASSERT_TRUE(m_log.WaitFor(Kind::ShareDropped, "Movies", "", mark));
    ASSERT_TRUE(m_log.WaitFor(Kind::ShareIndexed, "Movies", "", mark));
    EXPECT_EQ(
        Search(index, "mkv"), (std::vector<std::string> { "/Movies/b.mkv", "/Movies/c.mkv" }));
    m_shares.SetListener({});
}

TEST_F(LibraryIndexTest, SharesGoneWhileTheServerWasOffAreDroppedAtStart)
{
    vembatest::TempFolder other("vembaindex");
    Touch(other.Path() + "/b.mkv");
    m_shares.AddSharedFolder(other.Path(), "Other");
    {
        LibraryIndex index(Database(), m_shares, m_clock);
        StartAndWalk(index, { "Movies", "Other" });
        ASSERT_EQ(index.Store().Count(), 1u);
    }
    m_shares.RemoveSharedFolder("Other");
    LibraryIndex index(Database(), m_shares, m_clock);
    size_t mark = m_log.Mark();
    StartAndWalk(index);
    EXPECT_TRUE(m_log.WaitFor(Kind::ShareDropped, "Other", "", mark));
    EXPECT_EQ(index.Store().Count(), 0u);
}

TEST_F(LibraryIndexTest, TheSharesFollowTheSettingsFolderList)
{
    vembatest::TestSettingsFolder data;
    LibraryContext server(data.Parts());
    Touch(Media() + "/a.mkv");
    server.Settings().SaveFolderList({ { "Movies", Media() } });
    ASSERT_EQ(server.SharedFolders().FindSharedFolderPath("Movies"), Media());
    server.Index().SetObserver(m_log.Observer());
    server.Index().Start();
    ASSERT_TRUE(m_log.WaitFor(Kind::ShareIndexed, "Movies"));
    ASSERT_EQ(server.Index().Store().Count(), 1u);

    // Settings that leave the list as it is change no share.
    server.Settings().WriteText("Port", "1234");
    EXPECT_EQ(server.SharedFolders().GetSharedFolders().size(), 1u);

    size_t mark = m_log.Mark();
    server.Settings().SaveFolderList({});
    EXPECT_TRUE(server.SharedFolders().GetSharedFolders().empty());
    ASSERT_TRUE(m_log.WaitFor(Kind::ShareDropped, "Movies", "", mark));
    EXPECT_EQ(server.Index().Store().Count(), 0u);
}

TEST_F(LibraryIndexTest, BeyondTheWatchLimitTheShareIsWalkedAgainInTime)
{
    auto clock = std::make_shared<vembatest::ManualClock>();
    Touch(Media() + "/a.mkv");
    fs::create_directories(Media() + "/Unwatched");
    LibraryIndex index(Database(), m_shares, *clock);
    index.SetWatchBound(1); // the share's folder alone
    StartAndWalk(index);
    ASSERT_TRUE(m_log.WaitFor(Kind::WatchLimitReached, "Movies"));

    // The watched folder still reports at once.
    size_t mark = m_log.Mark();
    Touch(Media() + "/b.mkv");
    ASSERT_TRUE(m_log.WaitFor(Kind::FileIndexed, "Movies", "b.mkv", mark));
    Touch(Media() + "/Unwatched/c.mkv");
    EXPECT_FALSE(index.Store().Find("Movies", "Unwatched/c.mkv"));

    mark = m_log.Mark();
    clock->Advance(kLimitedRescanInterval);
    index.Wake();
    ASSERT_TRUE(m_log.WaitFor(Kind::ShareIndexed, "Movies", "", mark));
    EXPECT_TRUE(index.Store().Find("Movies", "Unwatched/c.mkv"));
}

TEST_F(LibraryIndexTest, ADamagedDatabaseIsReplaced)
{
    std::ofstream(Database()) << std::string(8192, 'z');
    Touch(Media() + "/a.mkv");
    LibraryIndex index(Database(), m_shares, m_clock);
    StartAndWalk(index);
    EXPECT_EQ(index.Store().Count(), 1u);
}

TEST(SearchQuery, RefusesWhatIsNoQuery)
{
    SearchQueryError error;
    EXPECT_FALSE(ParseSearchQuery("  \t ", error));
    EXPECT_EQ(error, SearchQueryError::Empty);
    EXPECT_FALSE(ParseSearchQuery("ab\xff", error));
    EXPECT_EQ(error, SearchQueryError::NotText);
    EXPECT_FALSE(ParseSearchQuery("a\nb", error));
    EXPECT_EQ(error, SearchQueryError::NotText);
    EXPECT_FALSE(ParseSearchQuery(std::string(kMaxSearchQueryChars + 1, 'a'), error));
    EXPECT_EQ(error, SearchQueryError::TooLong);
    EXPECT_FALSE(ParseSearchQuery("a b c d e f g h i", error));
    EXPECT_EQ(error, SearchQueryError::TooManyWords);
    std::optional<SearchWords> words = ParseSearchQuery("  왕국  matrix x ", error);
    ASSERT_TRUE(words);
    EXPECT_EQ(words->trigramWords, std::vector<std::string> { "matrix" });
    EXPECT_EQ(words->shortWords, (std::vector<std::string> { "왕국", "x" }));
}

} // namespace
