#include "platform/event.h"
#include "platform/guid.h"
#include "platform/temp_names.h"
#include "server/platform/temp_folder.h"
#include "server/platform/text_shape.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(ManualResetEvent, StaysSetUntilReset)
{
    ManualResetEvent event;
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(20ms));
    event.Set();
    EXPECT_TRUE(event.Wait(0ms));
    EXPECT_TRUE(event.Wait(0ms)) << "a manual-reset event does not reset on waking";
    event.Reset();
    EXPECT_FALSE(event.Wait(10ms));
    ManualResetEvent initiallySet(EventState::Set);
    EXPECT_TRUE(initiallySet.IsSet());
}

TEST(ManualResetEvent, SetReleasesEveryWaiter)
{
    ManualResetEvent event;
    std::atomic<int> released { 0 };
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.Wait(10s))
                ++released;
        });
    std::this_thread::sleep_for(20ms);
    event.Set();
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released.load(), 3);
}

TEST(Guid, HexFormIsThirtyTwoUpperCaseDigitsAndNew)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string id = CreateGuidHex();
        EXPECT_TRUE(HasShape(id, std::string(32, 'F'))) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
    Guid guid {};
    guid[0] = 0xAB;
    guid[15] = 0x0C;
    EXPECT_EQ(GuidToHex(guid), "AB00000000000000000000000000000C");
}

TEST(TempNames, CreatedNamesAreUniqueFilesOfTheListForm)
{
    TempFolder folder;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        std::string path = CreateTempListFile(folder.path());
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(path.substr(0, folder.path().size() + 1), folder.path() + "/");
        std::string name = path.substr(folder.path().size() + 1);
        EXPECT_TRUE(HasShape(name, "fil" + std::string(32, 'F') + ".tmp")) << name;
        EXPECT_TRUE(IsTempListFileName(name)) << name;
        EXPECT_TRUE(std::filesystem::is_regular_file(path));
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 200u);
    EXPECT_EQ(CreateTempListFile(folder / "missing"), "");
}

TEST(TempNames, NeverReusesAFileThatExists)
{
    TempFolder folder;
    std::string first = CreateTempListFile(folder.path());
    WriteFileText(first, "listing in flight");
    for (int i = 0; i < 100; ++i)
        ASSERT_NE(CreateTempListFile(folder.path()), first);
    EXPECT_EQ(ReadFileText(first), "listing in flight");
}

TEST(TempNames, RecognisesOnlyListFileNames)
{
    const std::string digits = "0123456789ABCDEF0123456789ABCDEF";
    EXPECT_TRUE(IsTempListFileName("fil" + digits + ".tmp"));
    EXPECT_TRUE(IsTempListFileName("fil" + std::string(32, '0') + ".tmp"));
    // The short names of the first design could be guessed one after another.
    EXPECT_FALSE(IsTempListFileName("filA3F.tmp"));
    EXPECT_FALSE(IsTempListFileName("filFFFF.tmp"));
    EXPECT_FALSE(IsTempListFileName("fil" + digits.substr(1) + ".tmp"));
    EXPECT_FALSE(IsTempListFileName("fil" + digits + "0.tmp"));
    EXPECT_FALSE(IsTempListFileName("fil" + digits.substr(1) + "G.tmp"));
    EXPECT_FALSE(IsTempListFileName("fil" + digits.substr(1) + "a.tmp"));
    EXPECT_FALSE(IsTempListFileName("../" + digits.substr(3) + "fil.tmp"));
    EXPECT_FALSE(IsTempListFileName("fil" + digits + ".tmp.m3u8"));
    EXPECT_FALSE(IsTempListFileName("fil" + digits + ".TMP"));
    EXPECT_FALSE(IsTempListFileName("FIL" + digits + ".tmp"));
}

} // namespace
