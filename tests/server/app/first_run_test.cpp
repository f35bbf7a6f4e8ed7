// What a newcomer meets on the first `make run`: the wrapper script and the daemon on
// a fresh home with no settings, no ~/Videos and a plain locale.

#include "platform/places.h"
#include "platform/ports.h"
#include "server/app/daemon_process.h"
#include "support/http_client.h"
#include "support/port_holder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class FirstRun : public ::testing::Test {
protected:
    // tools/run-daemon as `make run` calls it, with a clean environment.
    std::unique_ptr<DaemonProcess> RunWrapper(int port, const std::string& share,
        const std::string& locale, const std::string& outputName)
    {
        std::string output = m_home.path() + "/" + outputName;
        fs::create_directories(output);
        std::string buildFolder = fs::path(GetProgramFolder()).parent_path().string();
        std::vector<std::string> environment { "HOME=" + m_home.path(), "LANG=" + locale,
            "PATH=/usr/bin:/bin", "VEMBACAST_DATA_DIR=" + DataFolder(),
            "VEMBACAST_SHUTDOWN_COMMAND=true" };
        return std::make_unique<DaemonProcess>(
            std::string(VEMBACAST_SOURCE_DIR) + "/tools/run-daemon",
            std::vector<std::string> { buildFolder, std::to_string(port), share }, output,
            environment);
    }

    std::string DataFolder() const { return m_home.path() + "/data"; }

    // The port the daemon says it listens on, or 0.
    static int ListeningPort(const std::string& out)
    {
        const std::string marker = "listening on port ";
        size_t at = out.find(marker);
        return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + marker.size());
    }

    static bool Answers(int port)
    {
        HttpReply reply = SendRawRequest(port, "GET /connect HTTP/1.0\r\n\r\n");
        return reply.status == 200 && reply.body.find("<key>result</key>") != std::string::npos;
    }

    TempFolder m_home;
};

TEST_F(
    FirstRun, AFreshHomeSpeaksTheLocalesLanguageSaysNothingIsSharedAndKeepsOneServerPerDataFolder)
{
    int port = FindFreePort(47100, 47999);
    ASSERT_GT(port, 0);
    auto first = RunWrapper(port, "", "C.UTF-8", "first");
    ASSERT_TRUE(first->WaitForOutput("No folder is shared yet")) << first->Out() << first->Err();
    std::string out = first->Out();
    EXPECT_NE(out.find("--share NAME=PATH"), std::string::npos) << out;
    EXPECT_EQ(out.find("서버"), std::string::npos) << "a plain locale gets English: " << out;
    EXPECT_EQ(ListeningPort(out), port);
    EXPECT_TRUE(Answers(port));
    std::string settings = ReadFileText(DataFolder() + "/VembaCast.ini");
    EXPECT_NE(settings.find("General_language=eng"), std::string::npos) << settings;

    // A second server on the same data folder stops before it writes anything.
    int otherPort = FindFreePort(port + 1, 47999);
    auto second = RunWrapper(otherPort, "", "C.UTF-8", "second");
    EXPECT_EQ(second->WaitExit(), 1);
    EXPECT_NE(second->Err().find("already uses this data folder"), std::string::npos)
        << second->Err();
    EXPECT_EQ(ReadFileText(DataFolder() + "/VembaCast.ini"), settings);
    EXPECT_TRUE(Answers(port));

    first->Signal(SIGTERM);
    EXPECT_EQ(first->WaitExit(), 0);
}

TEST_F(FirstRun, AKoreanLocaleGetsKoreanMessagesThatNameTheDaemonsOptions)
{
    int port = FindFreePort(47100, 47999);
    auto run = RunWrapper(port, "", "ko_KR.UTF-8", "korean");
    ASSERT_TRUE(run->WaitForOutput("--share")) << run->Out() << run->Err();
    EXPECT_NE(run->Out().find("공유한 폴더가 없어"), std::string::npos) << run->Out();
    EXPECT_EQ(run->Out().find("[Apply]"), std::string::npos);
    run->Signal(SIGTERM);
    EXPECT_EQ(run->WaitExit(), 0);
}

TEST_F(FirstRun, SharesSeparatedBySemicolonsMayHoldBlanks)
{
    fs::create_directories(m_home.path() + "/My Videos");
    fs::create_directories(m_home.path() + "/Kids");
    int port = FindFreePort(47100, 47999);
    auto run = RunWrapper(port,
        "My Videos=" + m_home.path() + "/My Videos ; Kids=" + m_home.path() + "/Kids", "C.UTF-8",
        "shares");
    ASSERT_TRUE(run->WaitForOutput("listening on port")) << run->Out() << run->Err();
    EXPECT_EQ(run->Out().find("No folder is shared yet"), std::string::npos);
    std::string folders = ReadFileText(DataFolder() + "/VembaCastFolder.ini");
    EXPECT_NE(folders.find("My Videos|" + m_home.path() + "/My Videos\n"), std::string::npos)
        << folders;
    EXPECT_NE(folders.find("Kids|" + m_home.path() + "/Kids"), std::string::npos) << folders;
    run->Signal(SIGTERM);
    EXPECT_EQ(run->WaitExit(), 0);
}

TEST_F(FirstRun, WithATakenPortTheAddressPrintedIsTheOneThatAnswers)
{
    // Taken on every address, as another program would hold it (the kernel picks it).
    vembatest::PortHolder holder;
    const int taken = holder.Port();
    ASSERT_GT(taken, 0);

    auto run = RunWrapper(taken, "", "C.UTF-8", "taken");
    ASSERT_TRUE(run->WaitForOutput("listening on port")) << run->Out() << run->Err();
    int port = ListeningPort(run->Out());
    EXPECT_NE(port, taken);
    EXPECT_NE(run->Out().find("http://127.0.0.1:" + std::to_string(port) + "/"), std::string::npos);
    EXPECT_EQ(run->Out().find(":" + std::to_string(taken) + "/"), std::string::npos) << run->Out();
    EXPECT_TRUE(Answers(port));
    run->Signal(SIGTERM);
    EXPECT_EQ(run->WaitExit(), 0);
}

} // namespace
