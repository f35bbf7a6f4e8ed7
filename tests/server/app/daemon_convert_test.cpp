// The daemon converts, and stopping it during a conversion leaves no engine and no
// partial output behind.

#include "daemon_process.h"
#include "platform/adapters.h"
#include "support/http_client.h"
#include "support/test_support.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// Processes whose command line mentions text (engines carry their output path).
int CountProcessesNaming(const std::string& text)
{
    int count = 0;
    DIR* proc = opendir("/proc");
    if (!proc)
        return -1;
    while (dirent* entry = readdir(proc)) {
        std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
        std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string state((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t close = state.rfind(')');
        bool zombie = close != std::string::npos && state.compare(close + 2, 1, "Z") == 0;
        if (!zombie && line.find(text) != std::string::npos)
            ++count;
    }
    closedir(proc);
    return count;
}

} // namespace

TEST(DaemonConversion, StoppingDuringAConversionLeavesNoEngineAndNoPartialFile)
{
    if (ListAdapters().empty())
        GTEST_SKIP() << "no network adapter: the server cannot be set up here";
    TempFolder root;
    const std::string media = root / "media";
    fs::create_directories(media);
    ASSERT_TRUE(vembatest::RunCommand("ffmpeg -nostdin -y -loglevel error -f lavfi -i "
                                      "testsrc2=size=640x360:rate=24:duration=90 -c:v libx264 "
                                      "-preset ultrafast -pix_fmt yuv420p "
        + vembatest::ShellQuote(media + "/long.mp4")));
    const int port = PickFreePort();
    fs::create_directories(root / "out");
    DaemonProcess daemon({ "--data-dir", root / "data", "--share", "Movies=" + media, "--port",
                             std::to_string(port) },
        root / "out");
    ASSERT_TRUE(daemon.WaitForOutput("listening on port " + std::to_string(port))) << daemon.Err();

    HttpReply answer = HttpGetRaw(port, "/convert?path=/Movies/long.mp4");
    ASSERT_NE(answer.body.find("<key>result</key><string>0</string>"), std::string::npos)
        << answer.body;
    const std::string temp = media + "/long-vembacast.m4vtmp";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(fs::exists(temp) && CountProcessesNaming(temp) > 0)
        && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(temp)) << "the daemon converts";
    ASSERT_GT(CountProcessesNaming(temp), 0);

    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.WaitExit(std::chrono::seconds(30)), 0) << daemon.Err();
    EXPECT_EQ(CountProcessesNaming(temp), 0) << "no engine outlives the daemon";
    EXPECT_FALSE(fs::exists(temp)) << "the partial output is deleted";
    EXPECT_FALSE(fs::exists(media + "/long-vembacast.m4v"));
    EXPECT_TRUE(fs::exists(media + "/long.mp4"));
}

namespace {

std::string ConvertId(const HttpReply& answer)
{
    const std::string key = "<key>convertid</key><string>";
    size_t at = answer.body.find(key);
    return at == std::string::npos ? std::string() : answer.body.substr(at + key.size(), 32);
}

std::vector<std::string> LeftOverTemporaries(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".m4vtmp")
            found.push_back(entry.path().filename());
    }
    return found;
}

} // namespace

TEST(DaemonConversion, AfterAKillDuringAConversionARestartRemovesThePartialFileAndFinishesEveryJob)
{
    if (ListAdapters().empty())
        GTEST_SKIP() << "no network adapter: the server cannot be set up here";
    TempFolder root;
    const std::string media = root / "media";
    fs::create_directories(media);
    for (const auto& [name, seconds] : { std::pair { "first", 40 }, std::pair { "second", 4 } }) {
        ASSERT_TRUE(vembatest::RunCommand(
            "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=640x360:rate=24:duration="
            + std::to_string(seconds) + " -c:v libx264 -preset ultrafast -pix_fmt yuv420p "
            + vembatest::ShellQuote(media + "/" + name + ".mp4")));
    }
    const int port = PickFreePort();
    const std::vector<std::string> arguments { "--data-dir", root / "data", "--share",
        "Movies=" + media, "--port", std::to_string(port) };
    fs::create_directories(root / "out1");
    auto daemon = std::make_unique<DaemonProcess>(arguments, root / "out1");
    ASSERT_TRUE(daemon->WaitForOutput("listening on port " + std::to_string(port)))
        << daemon->Err();
    const std::string first = ConvertId(HttpGetRaw(port, "/convert?path=/Movies/first.mp4"));
    const std::string second = ConvertId(HttpGetRaw(port, "/convert?path=/Movies/second.mp4"));
    ASSERT_EQ(first.size(), 32u);
    ASSERT_EQ(second.size(), 32u);
    const std::string temp = media + "/first-vembacast.m4vtmp";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(fs::exists(temp) && fs::file_size(temp) > 0 && CountProcessesNaming(temp) > 0)
        && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GT(CountProcessesNaming(temp), 0) << "the first job converts";

    daemon->Signal(SIGKILL);
    ASSERT_TRUE(daemon->WaitExit().has_value());
    ASSERT_TRUE(fs::exists(temp)) << "the kill left the partial file";

    fs::create_directories(root / "out2");
    daemon = std::make_unique<DaemonProcess>(arguments, root / "out2");
    ASSERT_TRUE(daemon->WaitForOutput("listening on port " + std::to_string(port)))
        << daemon->Err();
    // Both jobs run to their end under the ids they were given.
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    std::string list;
    auto finished = [&] {
        HttpReply answer = HttpGetRaw(port, "/convertList");
        const std::string key = "<key>fileurl</key><string>";
        size_t at = answer.body.find(key);
        if (at == std::string::npos)
            return false;
        std::string url = answer.body.substr(at + key.size());
        url = url.substr(0, url.find('<'));
        list = HttpGetRaw(port, url.substr(url.find("/xml/"))).body;
        size_t complete = list.find("<key>convertComplete</key>");
        size_t waiting = list.find("<key>convertWait</key>");
        return complete != std::string::npos && list.find(first) > complete
            && list.find(first) < waiting && list.find(second) > complete
            && list.find(second) < waiting;
    };
    while (!finished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(finished()) << list;
    EXPECT_EQ(list.find("<key>status</key><string>-1</string>"), std::string::npos) << list;
    EXPECT_TRUE(fs::exists(media + "/first-vembacast.m4v"));
    EXPECT_TRUE(fs::exists(media + "/second-vembacast.m4v"));
    EXPECT_EQ(LeftOverTemporaries(media), std::vector<std::string>());

    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitExit(std::chrono::seconds(30)), 0) << daemon->Err();
    EXPECT_EQ(LeftOverTemporaries(media), std::vector<std::string>());
}
