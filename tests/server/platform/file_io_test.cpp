// Whole-file replacement and full writes: readers and concurrent writers never see
// a part, failures leave nothing behind.

#include "platform/file_io.h"
#include "server/platform/temp_folder.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

TEST(FileIo, TwoWritersAtOnceLeaveOneWholeFileAndNoTemporaries)
{
    TempFolder folder;
    const std::string path = folder / "movie1.m3u8";
    const std::string first(200000, 'a');
    const std::string second(150000, 'b');
    std::atomic<bool> go = false;
    std::atomic<int> failures = 0;
    auto writer = [&](const std::string& text) {
        while (!go) { }
        for (int i = 0; i < 20; ++i) {
            if (!ReplaceFileWhole(path, text))
                ++failures;
        }
    };
    std::atomic<int> torn = 0;
    std::atomic<bool> done = false;
    std::thread reader([&] {
        while (!done) {
            std::string seen = ReadFileText(path);
            if (!seen.empty() && seen != first && seen != second)
                ++torn;
        }
    });
    std::thread a(writer, first);
    std::thread b(writer, second);
    go = true;
    a.join();
    b.join();
    done = true;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(torn, 0) << "a reader saw a mixed or partly written file";
    std::string final = ReadFileText(path);
    EXPECT_TRUE(final == first || final == second);
    EXPECT_EQ(ListFolder(folder.path(), FolderEntries::Files),
        std::vector<std::string> { "movie1.m3u8" });
}

TEST(FileIo, AFailedReplaceKeepsTheOldFileAndLeavesNothing)
{
    TempFolder folder;
    const std::string path = folder / "Setting.ini";
    ASSERT_TRUE(ReplaceFileWhole(path, "old"));
    // Renaming over a folder fails after the temporary is written.
    ASSERT_EQ(mkdir((folder / "taken").c_str(), 0755), 0);
    EXPECT_FALSE(ReplaceFileWhole(folder / "taken", "new"));
    EXPECT_FALSE(ReplaceFileWhole(folder / "missing/x.ini", "new"));
    EXPECT_EQ(ReadFileText(path), "old");
    auto names = ListFolder(folder.path(), FolderEntries::Files);
    EXPECT_EQ(names, std::vector<std::string> { "Setting.ini" });
}

TEST(FileIo, ReadFileUpToStopsAtTheLimitAndRefusesWhatItCannotRead)
{
    TempFolder folder;
    const std::string path = folder / "texts.lng";
    std::string big(20000, 'x');
    big[19999] = 'y';
    ASSERT_TRUE(ReplaceFileWhole(path, big));
    EXPECT_EQ(ReadFileUpTo(path, 100), std::string(100, 'x'));
    EXPECT_EQ(ReadFileUpTo(path, 1 << 20), big) << "more than one read's worth, whole";
    EXPECT_EQ(ReadFileUpTo(path, 0), std::string());
    EXPECT_FALSE(ReadFileUpTo(folder / "missing.lng", 100));
    EXPECT_FALSE(ReadFileUpTo(folder.path(), 100)) << "a folder is not read";
}

TEST(FileIo, WriteFullyCompletesShortWritesAndReportsAClosedReader)
{
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    // More than a pipe holds at once: the writes come back short and go on.
    std::string text(1 << 20, 'x');
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t got;
        while ((got = read(readEnd.Get(), buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<size_t>(got));
    });
    EXPECT_TRUE(WriteFully(writeEnd.Get(), text.data(), text.size()));
    writeEnd.Reset();
    reader.join();
    EXPECT_EQ(received.size(), text.size());

    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    UniqueFd gone(ends[0]);
    UniqueFd orphan(ends[1]);
    gone.Reset();
    signal(SIGPIPE, SIG_IGN);
    EXPECT_FALSE(WriteFully(orphan.Get(), "x", 1));
}

} // namespace
