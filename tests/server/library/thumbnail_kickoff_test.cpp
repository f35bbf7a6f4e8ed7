// Thumbnail making for every shared folder after the server has started.

#include "core/core_controller.h"
#include "library/shared_folders.h"
#include "library/thumbnail_kickoff.h"
#include "library_server.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(ThumbnailKickOff, StartHookMakesTheMissingThumbnailsOfEveryShareInTheBackground)
{
    LoopbackServer server;
    ASSERT_TRUE(server.Running());
    const std::string second = server.Root() + "/second";
    fs::create_directories(second + "/Deeper");
    ASSERT_TRUE(AddSharedFolder(second, "Second"));
    ASSERT_TRUE(MakeVideo(server.MediaFolder() + "/one.mp4", 1, 160, 120, ""));
    ASSERT_TRUE(MakeVideo(second + "/two.mkv", 1, 160, 120, "", "mpeg4"));
    ASSERT_TRUE(MakeVideo(second + "/three.mp4", 1, 160, 120, ""));
    fs::copy_file(second + "/two.mkv", second + "/Deeper/below.mkv");
    const std::string services = server.ServicesFolder();
    fs::create_directories(services + "/Second");
    WriteFile(services + "/Second/three.mp4_s.jpg", "already made");

    const CoreHooks hooks = DefaultCoreHooks();
    ASSERT_TRUE(hooks.startThumbnails);
    const auto before = std::chrono::steady_clock::now();
    hooks.startThumbnails();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s); // the start worker is not held up
    for (int i = 0; i < 600 && IsShareThumbnailKickOffRunning(); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_FALSE(IsShareThumbnailKickOffRunning());

    int width = 0, height = 0;
    EXPECT_TRUE(JpegSize(ReadFile(services + "/Movies/one.mp4_s.jpg"), width, height));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 50);
    EXPECT_TRUE(JpegSize(ReadFile(services + "/Second/two.mkv_s.jpg"), width, height));
    EXPECT_EQ(ReadFile(services + "/Second/three.mp4_s.jpg"), "already made");
    // The share's own folder only, as its first listing shows it.
    EXPECT_FALSE(fs::exists(services + "/Second/Deeper/below.mkv_s.jpg"));

    ASSERT_TRUE(hooks.stopThumbnailPool);
    hooks.stopThumbnailPool();
}
