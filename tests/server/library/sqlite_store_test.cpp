// The data folder's SQLite files: a file of another layout or a damaged one is started
// afresh, a store without a file fails every call, and a failed step rolls back.

#include "library/sqlite_store.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

constexpr const char* kSetup = "CREATE TABLE IF NOT EXISTS items(name TEXT PRIMARY KEY);";

int Insert(sqlite3* db, const std::string& name)
{
    SqlStatement insert(db, "INSERT INTO items(name) VALUES (?1)");
    return insert.Bind(1, name).Run();
}

int64_t Count(SqliteStore& store)
{
    int64_t count = -1;
    store.Run([&](sqlite3* db) {
        SqlStatement query(db, "SELECT count(*) FROM items");
        const int code = query.Step();
        count = code == SQLITE_ROW ? query.Int(0) : -1;
        return code == SQLITE_ROW ? SQLITE_OK : code;
    });
    return count;
}

TEST(SqliteStore, AnotherLayoutOrDamageStartsAfresh)
{
    vembatest::TempFolder folder("vembastore");
    const std::string file = folder.Path() + "/store.sqlite";
    {
        SqliteStore first(file, kSetup, 1);
        ASSERT_TRUE(first.Run([](sqlite3* db) { return Insert(db, "a"); }));
        EXPECT_EQ(Count(first), 1);
    }
    {
        SqliteStore same(file, kSetup, 1);
        EXPECT_EQ(Count(same), 1);
        // A unique name twice fails the call and keeps the rows.
        EXPECT_FALSE(same.Run([](sqlite3* db) { return Insert(db, "a"); }));
        EXPECT_EQ(Count(same), 1);
    }
    {
        SqliteStore newer(file, kSetup, 2);
        EXPECT_EQ(Count(newer), 0);
    }
    std::ofstream(file, std::ios::trunc) << std::string(4096, 'x');
    SqliteStore damaged(file, kSetup, 2);
    EXPECT_TRUE(damaged.Run([](sqlite3* db) { return Insert(db, "b"); }));
    EXPECT_EQ(Count(damaged), 1);

    SqliteStore none("", kSetup, 1);
    EXPECT_FALSE(none.Run([](sqlite3*) { return SQLITE_OK; }));
}

TEST(SqliteStore, AnUncommittedTransactionLeavesNothing)
{
    vembatest::TempFolder folder("vembastore");
    SqliteStore store(folder.Path() + "/store.sqlite", kSetup, 1);
    EXPECT_FALSE(store.Run([](sqlite3* db) {
        SqlTransaction transaction(db);
        Insert(db, "a");
        return Insert(db, "a"); // fails: the transaction is not committed
    }));
    EXPECT_EQ(Count(store), 0);
}

} // namespace
