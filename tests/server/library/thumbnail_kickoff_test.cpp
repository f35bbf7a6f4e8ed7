// Thumbnail making for every shared folder in the background (server start, a share
// added).

#include "library_server.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The real spawner behind a gate: every engine start waits until the test opens it,
// so the test knows a picture is being made while it looks at the kick-off.
class GatedSpawner final : public ProcessSpawner {
public:
    std::unique_ptr<ChildProcess> Spawn(const SpawnRequest& request) override
    {
        {
            std::unique_lock lock(m_lock);
            ++m_entered;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_open; });
        }
        return m_real->Spawn(request);
    }
    // False when no engine start came within the bound.
    bool WaitEntered(std::chrono::seconds bound)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, bound, [this] { return m_entered > 0; });
    }
    void Open()
    {
        std::lock_guard lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }

private:
    const std::shared_ptr<ProcessSpawner> m_real = MakePosixSpawner();
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_entered = 0; // guarded by m_lock
    bool m_open = false; // guarded by m_lock
};

// Opens the gate when the test ends, before the server goes, so no kick-off waits on it.
struct OpenGateOnExit {
    std::shared_ptr<GatedSpawner> gate;
    ~OpenGateOnExit() { gate->Open(); }
};

LoopbackOptions GatedOptions(std::shared_ptr<GatedSpawner> spawner)
{
    LoopbackOptions options;
    options.spawner = std::move(spawner);
    options.start = false;
    return options;
}

} // namespace

TEST(ThumbnailKickOff, TheStartMakesTheMissingThumbnailsOfEveryShareInTheBackground)
{
    auto spawner = std::make_shared<GatedSpawner>();
    LoopbackServer server(GatedOptions(spawner));
    OpenGateOnExit openAtEnd { spawner };
    ThumbnailService& thumbnails = server.Server().Thumbnails();
    const std::string second = server.Root() + "/second";
    fs::create_directories(second + "/Deeper");
    ASSERT_TRUE(server.Server().SharedFolders().AddSharedFolder(second, "Second"));
    ASSERT_TRUE(MakeVideo(server.MediaFolder() + "/one.mp4", 1, 160, 120, ""));
    ASSERT_TRUE(MakeVideo(second + "/two.mkv", 1, 160, 120, "", "mpeg4"));
    ASSERT_TRUE(MakeVideo(second + "/three.mp4", 1, 160, 120, ""));
    fs::copy_file(second + "/two.mkv", second + "/Deeper/below.mkv");
    const std::string services = server.ServicesFolder();
    fs::create_directories(services + "/Second");
    WriteFile(services + "/Second/three.mp4_s.jpg", "already made");

    // The start returns while the first picture's engine is still held at the gate.
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(spawner->WaitEntered(120s));
    EXPECT_TRUE(thumbnails.IsShareThumbnailKickOffRunning());
    EXPECT_FALSE(thumbnails.ReapShareThumbnailKickOff());

    // The kick-off queued every job before it started the round; waiting for that
    // round waits for every picture.
    spawner->Open();
    ASSERT_TRUE(thumbnails.Pool().Start(120s));

    int width = 0, height = 0;
    EXPECT_TRUE(JpegSize(ReadFile(services + "/Movies/one.mp4_s.jpg"), width, height));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 50);
    EXPECT_TRUE(JpegSize(ReadFile(services + "/Second/two.mkv_s.jpg"), width, height));
    EXPECT_EQ(ReadFile(services + "/Second/three.mp4_s.jpg"), "already made");
    // The share's own folder only, as its first listing shows it.
    EXPECT_FALSE(fs::exists(services + "/Second/Deeper/below.mkv_s.jpg"));

    EXPECT_TRUE(thumbnails.QZ_StopThumbnailThreads());
}
