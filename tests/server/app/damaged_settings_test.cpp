// The daemon, started as `make run` starts it, over a settings file that does not
// read back whole: cut at every byte offset, or random bytes. It never serves with the
// password requirement off when it was on, and never hands out the password.

#include "config/settings.h"
#include "daemon_process.h"
#include "platform/adapters.h"
#include "support/http_client.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;

namespace {

class DamagedSettingsDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ListAdapters().empty())
            GTEST_SKIP() << "no network adapter: the server cannot be set up here";
        fs::create_directories(m_media);
        // The settings a user made: a password the server checks itself.
        auto first = Run({ "--password", "1234", "--require-password" });
        ASSERT_TRUE(first->WaitForOutput(Listening())) << first->Err();
        first->Signal(SIGTERM);
        ASSERT_EQ(first->WaitExit(), 0);
        m_whole = ReadFileText(SettingsFile());
        ASSERT_NE(m_whole.find("RequirePassword=1"), std::string::npos) << m_whole;
    }

    // The daemon with what tools/run-daemon passes it, and more.
    std::unique_ptr<DaemonProcess> Run(std::vector<std::string> more = {})
    {
        std::vector<std::string> arguments { "--data-dir", m_data, "--port", std::to_string(m_port),
            "--share", "Videos=" + m_media };
        arguments.insert(arguments.end(), more.begin(), more.end());
        const std::string out = m_root / ("run" + std::to_string(++m_runs));
        fs::create_directories(out);
        return std::make_unique<DaemonProcess>(arguments, out);
    }

    std::string Listening() const { return "listening on port " + std::to_string(m_port); }
    std::string SettingsFile() const { return m_data + "/VembaCast.ini"; }

    void RemoveSetAsideFiles() const
    {
        for (const auto& entry : fs::directory_iterator(m_data)) {
            if (entry.path().filename().string().starts_with("VembaCast.ini.damaged-"))
                fs::remove(entry.path());
        }
    }

    TempFolder m_root;
    std::string m_data = m_root / "data";
    std::string m_media = m_root / "media";
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_root / "trace" };
    int m_port = PickFreePort();
    int m_runs = 0;
    std::string m_whole;
};

TEST_F(DamagedSettingsDaemon, WithoutAGoodCopyItRefusesToStartAtEveryCutAndNamesTheFile)
{
    std::mt19937 random(5);
    std::string bytes(600, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    std::vector<std::string> damaged { bytes };
    for (size_t cut = 0; cut + 1 < m_whole.size(); ++cut)
        damaged.push_back(m_whole.substr(0, cut));
    for (const std::string& file : damaged) {
        WriteFileText(SettingsFile(), file);
        fs::remove(SettingsFile() + ".bak");
        auto daemon = Run();
        ASSERT_EQ(daemon->WaitExit(), 1) << file.size() << ": " << daemon->Out();
        EXPECT_NE(daemon->Err().find(SettingsFile()), std::string::npos) << daemon->Err();
        EXPECT_EQ(daemon->Out().find("listening"), std::string::npos);
        EXPECT_EQ(ReadFileText(SettingsFile()), file) << "nothing written over it";
    }
}

TEST_F(DamagedSettingsDaemon, WithAGoodCopyEveryCutStartsWithThePasswordRequired)
{
    for (size_t cut = 0; cut + 1 < m_whole.size(); ++cut) {
        WriteFileText(SettingsFile(), m_whole.substr(0, cut));
        WriteFileText(SettingsFile() + ".bak", m_whole);
        auto daemon = Run();
        ASSERT_TRUE(daemon->WaitForOutput(Listening())) << cut << ": " << daemon->Err();
        HttpReply answer = HttpGetRaw(m_port, "/connect");
        EXPECT_NE(answer.body.find("<key>result</key><string>-17</string>"), std::string::npos)
            << cut << ": " << answer.body;
        EXPECT_EQ(answer.body.find("1234"), std::string::npos) << cut << ": " << answer.body;
        EXPECT_NE(
            daemon->Out().find("set aside as " + SettingsFile() + ".damaged-"), std::string::npos)
            << daemon->Out();
        daemon->Signal(SIGTERM);
        ASSERT_EQ(daemon->WaitExit(), 0);
        EXPECT_NE(ReadFileText(SettingsFile()).find("RequirePassword=1"), std::string::npos);
        RemoveSetAsideFiles();
    }
}

} // namespace
