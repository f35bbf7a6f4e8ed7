// The server's seek previews with the real engine: a pass waits while the machine is
// busy and runs when woken, one per file; a file without pictures is remembered, a
// changed file gets new previews, and the folders stay under the disk bound, the
// ones used longest ago going first.

#include "library/media_properties_cache.h"
#include "live_test_support.h"
#include "platform/places.h"
#include "streaming/seek_previews.h"

#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// What the maker reports, waited for through its observer.
class Events {
public:
    void Add(const std::string& subject, SeekPreviews::Event event)
    {
        std::lock_guard lock(m_lock);
        m_seen.emplace_back(subject, event);
        m_changed.notify_all();
    }
    bool WaitFor(const std::string& subject, SeekPreviews::Event event, size_t times = 1)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 120s, [&] { return CountLocked(subject, event) >= times; });
    }
    size_t Count(const std::string& subject, SeekPreviews::Event event)
    {
        std::lock_guard lock(m_lock);
        return CountLocked(subject, event);
    }

private:
    size_t CountLocked(const std::string& subject, SeekPreviews::Event event) const
    {
        return size_t(std::count(m_seen.begin(), m_seen.end(), std::make_pair(subject, event)));
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::pair<std::string, SeekPreviews::Event>> m_seen; // guarded by m_lock
};

MediaFileVersion VersionOf(const std::string& path)
{
    MediaFileStamp stamp;
    EXPECT_TRUE(StampRegularFile(path, stamp)) << path;
    return { path, stamp.size, stamp.modifiedNs };
}

int64_t FolderBytes(const std::string& folder)
{
    int64_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        struct stat info { };
        if (lstat(entry.path().c_str(), &info) == 0)
            bytes += int64_t(info.st_blocks) * 512;
    }
    return bytes;
}

void SetUsed(const std::string& folder, time_t seconds)
{
    timespec times[2] = { { seconds, 0 }, { seconds, 0 } };
    ASSERT_EQ(utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
}

class SeekPreviewsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeTestClip(m_media.Path() + "/twelve.mp4", 12, 320, 240));
        ASSERT_TRUE(MakeTestClip(m_media.Path() + "/longer.mp4", 25, 320, 240));
        std::ofstream(m_media.Path() + "/list.mp4") << "milk, eggs, bread\n";
    }

    std::unique_ptr<SeekPreviews> Make()
    {
        EngineLaunch launch;
        launch.spawner = MakePosixSpawner();
        launch.enginePath = GetProgramFolder() + "/vembacast-engine";
        auto previews = std::make_unique<SeekPreviews>(
            launch, m_services.Path(), [this] { return m_busy.load(); },
            [this] { return m_bound.load(); });
        previews->SetObserver([this](const std::string& subject, SeekPreviews::Event event) {
            m_events.Add(subject, event);
        });
        return previews;
    }

    std::string Media(const std::string& name) const { return m_media.Path() + "/" + name; }
    std::string FolderOf(const SeekPreviews& previews, const std::string& name) const
    {
        return previews.Folder() + "/" + SeekPreviews::KeyOf(VersionOf(Media(name)));
    }

    vembatest::TempFolder m_media { "vemba-preview-media" };
    vembatest::TempFolder m_services { "vemba-preview-services" };
    std::atomic<bool> m_busy { false };
    std::atomic<int64_t> m_bound { int64_t(64) << 20 };
    Events m_events;
};

TEST_F(SeekPreviewsTest, APassWaitsWhileTheMachineIsBusyAndRunsOncePerFileWhenWoken)
{
    m_busy = true;
    std::unique_ptr<SeekPreviews> previews = Make();
    const MediaFileVersion twelve = VersionOf(Media("twelve.mp4"));
    EXPECT_EQ(previews->Find(twelve).state, SeekPreviews::State::Pending);
    ASSERT_TRUE(m_events.WaitFor(twelve.path, SeekPreviews::Event::Deferred));
    EXPECT_EQ(previews->Find(twelve).state, SeekPreviews::State::Pending); // not queued twice
    EXPECT_FALSE(fs::exists(FolderOf(*previews, "twelve.mp4")));

    m_busy = false;
    previews->Wake();
    ASSERT_TRUE(m_events.WaitFor(twelve.path, SeekPreviews::Event::Made));
    const SeekPreviews::Lookup found = previews->Find(twelve);
    ASSERT_EQ(found.state, SeekPreviews::State::Ready);
    EXPECT_EQ(found.index.pictures, 2); // 0 s and 10 s
    EXPECT_EQ(found.index.grid.tileHeight, 120);
    EXPECT_FALSE(previews->SheetFile(twelve, 0).empty());
    EXPECT_TRUE(previews->SheetFile(twelve, 1).empty());
    EXPECT_TRUE(previews->SheetFile(twelve, -1).empty());

    // The queue runs in order: had the second ask queued a pass, it would be done
    // before this one.
    const MediaFileVersion longer = VersionOf(Media("longer.mp4"));
    EXPECT_EQ(previews->Find(longer).state, SeekPreviews::State::Pending);
    ASSERT_TRUE(m_events.WaitFor(longer.path, SeekPreviews::Event::Made));
    EXPECT_EQ(m_events.Count(twelve.path, SeekPreviews::Event::Made), 1u);
    EXPECT_EQ(previews->Find(longer).index.pictures, 3);
}

TEST_F(SeekPreviewsTest, AFileWithoutPicturesIsRememberedAndAChangedFileIsMadeAgain)
{
    std::unique_ptr<SeekPreviews> previews = Make();
    const MediaFileVersion list = VersionOf(Media("list.mp4"));
    EXPECT_EQ(previews->Find(list).state, SeekPreviews::State::Pending);
    ASSERT_TRUE(m_events.WaitFor(list.path, SeekPreviews::Event::Failed));
    EXPECT_EQ(previews->Find(list).state, SeekPreviews::State::Failed);
    // Nothing half-made is left behind.
    for (const auto& entry : fs::directory_iterator(previews->Folder()))
        ADD_FAILURE() << "left behind: " << entry.path();

    const std::string clip = Media("clip.mp4");
    fs::copy_file(Media("twelve.mp4"), clip);
    const MediaFileVersion before = VersionOf(clip);
    previews->Find(before);
    ASSERT_TRUE(m_events.WaitFor(clip, SeekPreviews::Event::Made));
    EXPECT_EQ(previews->Find(before).index.pictures, 2);

    fs::copy_file(Media("longer.mp4"), clip, fs::copy_options::overwrite_existing);
    const MediaFileVersion after = VersionOf(clip);
    ASSERT_FALSE(after == before);
    EXPECT_EQ(previews->Find(after).state, SeekPreviews::State::Pending);
    ASSERT_TRUE(m_events.WaitFor(clip, SeekPreviews::Event::Made, 2));
    EXPECT_EQ(previews->Find(after).index.pictures, 3);
    EXPECT_EQ(m_events.Count(list.path, SeekPreviews::Event::Failed), 1u);
}

TEST_F(SeekPreviewsTest, TheFoldersStayUnderTheDiskBoundTheLeastRecentlyUsedGoingFirst)
{
    std::unique_ptr<SeekPreviews> previews = Make();
    for (const char* name : { "twelve.mp4", "longer.mp4" }) {
        previews->Find(VersionOf(Media(name)));
        ASSERT_TRUE(m_events.WaitFor(Media(name), SeekPreviews::Event::Made));
    }
    const std::string twelve = FolderOf(*previews, "twelve.mp4");
    const std::string longer = FolderOf(*previews, "longer.mp4");
    // Twelve was made first, but is watched again now: longer is the one used longest ago.
    SetUsed(twelve, time(nullptr) - 200);
    SetUsed(longer, time(nullptr) - 100);
    ASSERT_EQ(previews->Find(VersionOf(Media("twelve.mp4"))).state, SeekPreviews::State::Ready);

    // A copy of longer makes a folder of the same size: one must go.
    fs::copy_file(Media("longer.mp4"), Media("copy.mp4"));
    m_bound = FolderBytes(twelve) + FolderBytes(longer) + 1;
    previews->Find(VersionOf(Media("copy.mp4")));
    ASSERT_TRUE(m_events.WaitFor(Media("copy.mp4"), SeekPreviews::Event::Made));
    EXPECT_EQ(m_events.Count(fs::path(longer).filename(), SeekPreviews::Event::Evicted), 1u);
    EXPECT_FALSE(fs::exists(longer));
    EXPECT_TRUE(fs::exists(twelve));
    const std::string copy = FolderOf(*previews, "copy.mp4");
    EXPECT_LE(FolderBytes(twelve) + FolderBytes(copy), m_bound.load());
    EXPECT_EQ(previews->Find(VersionOf(Media("longer.mp4"))).state, SeekPreviews::State::Pending);

    // Previews larger than the whole bound are not kept, nor made again at every ask.
    ASSERT_TRUE(m_events.WaitFor(Media("longer.mp4"), SeekPreviews::Event::Made));
    m_bound = 1;
    fs::copy_file(Media("twelve.mp4"), Media("big.mp4"));
    previews->Find(VersionOf(Media("big.mp4")));
    ASSERT_TRUE(m_events.WaitFor(Media("big.mp4"), SeekPreviews::Event::Made));
    EXPECT_EQ(previews->Find(VersionOf(Media("big.mp4"))).state, SeekPreviews::State::Failed);
    EXPECT_TRUE(fs::is_empty(previews->Folder()));

    m_bound = 0; // off
    EXPECT_EQ(previews->Find(VersionOf(Media("twelve.mp4"))).state, SeekPreviews::State::Off);
}

TEST_F(SeekPreviewsTest, AStartClearsWhatAStoppedPassLeft)
{
    const std::string part
        = m_services.Path() + "/" + kPreviewFolderName + "/0123456789abcdef.part";
    fs::create_directories(part);
    std::ofstream(part + "/0.jpg") << "half";
    std::unique_ptr<SeekPreviews> previews = Make();
    EXPECT_FALSE(fs::exists(part));
}

} // namespace
