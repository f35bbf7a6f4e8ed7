// Key frame index passes of a server's library: the real engine run in the
// background, the result kept in the media-properties cache for exactly that version
// of the file, and passes that never end killed at their bound or at the server's
// end, never waited for.

#include "library/library_context.h"
#include "support/step_log.h"
#include "support/test_server.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <signal.h>

namespace {

using State = KeyframeIndexer::State;

// The real spawner, counting what it starts; with hang set, every program it is
// asked for is replaced by one that never ends (a pass stuck on a hostile file).
class CountingSpawner : public ProcessSpawner {
public:
    std::unique_ptr<ChildProcess> Spawn(const SpawnRequest& request) override
    {
        SpawnRequest actual = request;
        if (hang) {
            actual.program = "/bin/sleep";
            actual.args = { "600" };
        }
        std::unique_ptr<ChildProcess> child = m_real->Spawn(actual);
        if (child)
            started.Add(child->Pid());
        return child;
    }

    std::atomic<bool> hang { false };
    vembatest::StepLog<pid_t> started;

private:
    std::shared_ptr<ProcessSpawner> m_real = MakePosixSpawner();
};

class KeyframeIndexerTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        media = new vembatest::TempFolder("vemba-keyframes");
        ASSERT_TRUE(vembatest::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i "
                                          "testsrc=duration=6:size=160x120:rate=25 -c:v libx264 "
                                          "-preset ultrafast -g 25 -pix_fmt yuv420p "
            + vembatest::ShellQuote(media->Path() + "/clip.mkv")));
        std::ofstream(media->Path() + "/notes.mkv") << "not a video";
    }
    static void TearDownTestSuite() { delete media; }

    std::unique_ptr<LibraryContext> MakeLibrary()
    {
        auto library = std::make_unique<LibraryContext>(folder.Parts(nullptr, spawner));
        library->Keyframes().SetPassObserver([this](const std::string& path, State state) {
            passes.Add({ path, state });
        });
        return library;
    }

    std::string Clip() const { return media->Path() + "/clip.mkv"; }

    static vembatest::TempFolder* media;
    vembatest::TestDataFolder folder;
    std::shared_ptr<CountingSpawner> spawner = std::make_shared<CountingSpawner>();
    vembatest::StepLog<std::pair<std::string, State>> passes;
};

vembatest::TempFolder* KeyframeIndexerTest::media = nullptr;

} // namespace

TEST_F(KeyframeIndexerTest, AnIndexIsMadeOnceForEachVersionOfTheFile)
{
    std::string clip = folder.Root() + "/clip.mkv";
    std::filesystem::copy_file(Clip(), clip);
    {
        std::unique_ptr<LibraryContext> library = MakeLibrary();
        EXPECT_EQ(library->Keyframes().Find(clip).state, State::Unknown);
        library->Keyframes().Request(clip);
        ASSERT_TRUE(passes.WaitFor({ clip, State::Ready }));
        KeyframeIndexer::Lookup found = library->Keyframes().Find(clip);
        ASSERT_EQ(found.state, State::Ready);
        EXPECT_EQ(found.index->keyframes.size(), 6u);
        EXPECT_TRUE(found.index->copyable);
        // Known now: asking again starts nothing.
        library->Keyframes().Request(clip);
    }
    EXPECT_EQ(spawner->started.Events().size(), 1u);

    // Another server over the same data folder finds it in the cache.
    std::unique_ptr<LibraryContext> again = MakeLibrary();
    EXPECT_EQ(again->Keyframes().Find(clip).state, State::Ready);
    EXPECT_EQ(spawner->started.Events().size(), 1u);
    // A changed file is another version: not indexed yet.
    std::ofstream(clip, std::ios::app) << "more";
    EXPECT_EQ(again->Keyframes().Find(clip).state, State::Unknown);
}

TEST_F(KeyframeIndexerTest, AFileWithoutVideoIsRememberedAsSuch)
{
    std::string notes = media->Path() + "/notes.mkv";
    std::unique_ptr<LibraryContext> library = MakeLibrary();
    library->Keyframes().Request(notes);
    library->Keyframes().Request(notes); // queued once
    ASSERT_TRUE(passes.WaitFor({ notes, State::NoIndex }));
    EXPECT_EQ(library->Keyframes().Find(notes).state, State::NoIndex);
    library->Keyframes().Request(notes);
    EXPECT_EQ(spawner->started.Events().size(), 1u);
    // Nothing that is not a regular file is looked at.
    EXPECT_EQ(library->Keyframes().Find(media->Path()).state, State::Unknown);
}

TEST_F(KeyframeIndexerTest, APassThatNeverEndsIsKilledAndNotKept)
{
    spawner->hang = true;
    std::unique_ptr<LibraryContext> library = MakeLibrary();
    library->Keyframes().SetPassTimeout(std::chrono::milliseconds(200));
    library->Keyframes().Request(Clip());
    ASSERT_TRUE(passes.WaitFor({ Clip(), State::Unknown }));
    ASSERT_EQ(spawner->started.Events().size(), 1u);
    const pid_t first = spawner->started.Events()[0];
    EXPECT_NE(kill(first, 0), 0) << "the pass was killed and reaped";
    EXPECT_EQ(library->Keyframes().Find(Clip()).state, State::Unknown);
    // Not kept: the next play asks again.
    library->Keyframes().Request(Clip());
    ASSERT_TRUE(spawner->started.WaitForMatch([first](pid_t pid) { return pid != first; }));
}

TEST_F(KeyframeIndexerTest, TheServersEndKillsAPassUnderWay)
{
    spawner->hang = true;
    std::unique_ptr<LibraryContext> library = MakeLibrary();
    library->Keyframes().Request(Clip());
    ASSERT_TRUE(spawner->started.WaitForMatch([](pid_t) { return true; }));
    pid_t pass = spawner->started.Events()[0];
    EXPECT_EQ(kill(pass, 0), 0);
    library.reset(); // the default bound is two minutes: the end does not wait for it
    EXPECT_NE(kill(pass, 0), 0);
    EXPECT_TRUE(passes.WaitFor({ Clip(), State::Unknown })) << "ended, and not kept";
}
