#include "desktop_fixture.h"
#include "platform/places.h"
#include "platform/single_copy.h"
#include "support/test_support.h"

#include <filesystem>

namespace fs = std::filesystem;

class SingleCopyTest : public DesktopTest {
protected:
    SingleCopyTest()
    {
        fs::create_directories(Path("run"));
        fs::permissions(Path("run"), fs::perms::owner_all);
    }

    // Runs a program of the program folder with the test's folders; its output ends
    // with "exit=<code>".
    std::string Run(const std::string& program)
    {
        std::string output;
        vembatest::RunCommand(
            "QT_QPA_PLATFORM=offscreen VEMBACAST_SHUTDOWN_COMMAND=true timeout 120 "
                + vembatest::ShellQuote(GetProgramFolder() + "/" + program) + " 2>&1; echo exit=$?",
            &output);
        return output;
    }

    // The programs started here read their folders from the environment, as at a real
    // start.
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.DataFolder() };
    ScopedEnv m_runtime { "XDG_RUNTIME_DIR", Path("run") };
};

TEST_F(SingleCopyTest, ASecondCopyWakesTheFirstAndEndsWithZero)
{
    CSingleCopy first;
    ASSERT_EQ(first.Claim(GetRuntimeFolder(), m_data.DataFolder()), SingleCopyRole::First);
    EXPECT_FALSE(first.TakeWakeRequests());
    std::string output = Run("vembacast");
    EXPECT_NE(output.find("exit=0"), std::string::npos) << output;
    EXPECT_TRUE(first.TakeWakeRequests());
    EXPECT_FALSE(fs::exists(Path("data/VembaCast.lock")))
        << "the second copy must not reach the server's start";
}

TEST_F(SingleCopyTest, CopiesForOtherDataFoldersDoNotMeet)
{
    CSingleCopy first;
    ASSERT_EQ(first.Claim(GetRuntimeFolder(), m_data.DataFolder()), SingleCopyRole::First);
    CSingleCopy other;
    EXPECT_EQ(
        other.Claim(GetRuntimeFolder(), m_data.DataFolder() + "-other"), SingleCopyRole::First);
    EXPECT_NE(SingleCopyName("/a"), SingleCopyName("/b"));
}

TEST_F(SingleCopyTest, TheApplicationRefusesADataFolderADaemonServes)
{
    CDataFolderLock daemon;
    ASSERT_TRUE(daemon.Acquire(m_data.DataFolder()));
    std::string output = Run("vembacast");
    EXPECT_NE(output.find("exit=1"), std::string::npos) << output;
    EXPECT_NE(output.find("already uses"), std::string::npos) << output;
}

TEST_F(SingleCopyTest, TheDaemonRefusesADataFolderTheApplicationServes)
{
    CDataFolderLock application;
    ASSERT_TRUE(application.Acquire(m_data.DataFolder()));
    std::string output = Run("vembacastd");
    EXPECT_NE(output.find("exit=1"), std::string::npos) << output;
    EXPECT_NE(output.find("already uses"), std::string::npos) << output;
    CDataFolderLock second;
    EXPECT_FALSE(second.Acquire(m_data.DataFolder()))
        << "the lock is exclusive within one process too";
}
