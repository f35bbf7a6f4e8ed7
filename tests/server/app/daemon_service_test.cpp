// The daemon as systemd runs it: readiness, the watchdog and the stop notice read from
// a notify socket of the test's own, log lines with priorities when standard error is
// the journal, and the system service's shares file.

#include "config/settings_store.h"
#include "daemon_process.h"
#include "platform/adapters.h"
#include "support/http_client.h"
#include "support/notify_listener.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

class DaemonServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ListAdapters().empty())
            GTEST_SKIP() << "no network adapter: the server cannot be set up here";
        fs::create_directories(m_out);
        fs::create_directories(m_media);
    }

    // The test's environment with the variables given added.
    static std::vector<std::string> Environment(const std::vector<std::string>& added)
    {
        std::vector<std::string> environment(added);
        for (char** variable = environ; *variable; ++variable)
            environment.emplace_back(*variable);
        return environment;
    }

    std::unique_ptr<DaemonProcess> Run(
        std::vector<std::string> arguments, const std::vector<std::string>& added = {})
    {
        arguments.insert(arguments.begin(), { "--data-dir", m_data });
        return std::make_unique<DaemonProcess>(
            GetProgramFolder() + "/vembacastd", arguments, m_out, Environment(added));
    }

    TempFolder m_root;
    std::string m_data = m_root / "data";
    std::string m_out = m_root / "out";
    std::string m_media = m_root / "media";
    int m_port = PickFreePort();
};

TEST_F(DaemonServiceTest, ReadyOnceItListensWatchdogWhileItAnswersStoppingAtTheEnd)
{
    vembatest::NotifyListener systemd(m_root / "notify");
    ASSERT_TRUE(systemd.Bound());
    auto daemon = Run({ "--port", std::to_string(m_port), "--share", "Movies=" + m_media },
        { "NOTIFY_SOCKET=" + systemd.Path(), "WATCHDOG_USEC=2000000" });

    std::optional<std::string> ready = systemd.Next();
    ASSERT_TRUE(ready) << daemon->Out() << daemon->Err();
    EXPECT_EQ(*ready, "READY=1\nSTATUS=serving on port " + std::to_string(m_port));
    // Ready means serving: the page is there by the time the notice is.
    EXPECT_EQ(HttpGetRaw(m_port, "/index.html").status, 200);

    // Each round asks the server for a static file before it vouches for it.
    EXPECT_EQ(systemd.NextStartingWith("WATCHDOG=1"), "WATCHDOG=1");
    EXPECT_EQ(systemd.NextStartingWith("WATCHDOG=1"), "WATCHDOG=1");

    daemon->Signal(SIGTERM);
    EXPECT_EQ(systemd.NextStartingWith("STOPPING=1"), "STOPPING=1");
    EXPECT_EQ(daemon->WaitExit(), 0);
}

TEST_F(DaemonServiceTest, AStartThatFailsIsNeverAnnouncedAsReady)
{
    vembatest::NotifyListener systemd(m_root / "notify");
    ASSERT_TRUE(systemd.Bound());
    std::string key = m_root / "missing.key";
    auto daemon
        = Run({ "--port", std::to_string(m_port), "--tls-port", std::to_string(PickFreePort()),
                  "--tls-cert", m_root / "missing.pem", "--tls-key", key },
            { "NOTIFY_SOCKET=" + systemd.Path() });
    EXPECT_EQ(daemon->WaitExit(), 1);
    std::optional<std::string> notice = systemd.Next(std::chrono::milliseconds(0));
    EXPECT_FALSE(notice && notice->starts_with("READY=1")) << notice.value_or("");
}

TEST_F(DaemonServiceTest, UnderTheJournalEveryLineGoesToStandardErrorWithItsPriority)
{
    // The journal's stream is the daemon's standard error file: its device and inode.
    std::string stderrFile = m_out + "/stderr";
    WriteFileText(stderrFile, "");
    struct stat info { };
    ASSERT_EQ(stat(stderrFile.c_str(), &info), 0);
    std::string stream = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    auto daemon = Run({ "--port", std::to_string(m_port) }, { "JOURNAL_STREAM=" + stream });

    ASSERT_TRUE(daemon->WaitForError("<5>vembacastd: listening on port " + std::to_string(m_port)))
        << daemon->Err() << daemon->Out();
    EXPECT_NE(daemon->Err().find("<6>vembacastd: open http://127.0.0.1:"), std::string::npos);
    // Nothing shared yet: a notice that says how to share.
    EXPECT_NE(daemon->Err().find("<5>vembacastd: No folder is shared yet"), std::string::npos);
    daemon->Signal(SIGTERM);
    EXPECT_EQ(daemon->WaitExit(), 0);
    EXPECT_NE(daemon->Err().find("<5>vembacastd: stopped\n"), std::string::npos);
    EXPECT_EQ(daemon->Out(), "") << "under the journal nothing goes to standard output";

    // A start error is an error.
    auto again = Run({ "--port", "0" }, { "JOURNAL_STREAM=" + stream });
    EXPECT_EQ(again->WaitExit(), 2);
    EXPECT_EQ(again->Err().rfind("<3>vembacastd: --port wants", 0), 0u) << again->Err();
}

TEST_F(DaemonServiceTest, TheSharesFileIsTheListAndEveryShareThatCannotBeReadIsNamed)
{
    std::string shares = m_root / "shares";
    std::string gone = m_root / "gone";
    WriteFileText(shares,
        "# the folders of this machine\n\n  Movies = " + m_media
            + "  \r\n#Old=/nowhere\nLost Films=" + gone + "\n");
    auto daemon = Run({ "--port", std::to_string(m_port), "--shares-file", shares });
    ASSERT_TRUE(daemon->WaitForOutput("listening on port")) << daemon->Err();
    EXPECT_NE(daemon->Err().find(
                  "cannot read the share 'Lost Films' (" + gone + "): No such file or directory"),
        std::string::npos)
        << daemon->Err();
    EXPECT_EQ(daemon->Err().find("'Movies'"), std::string::npos) << daemon->Err();
    SettingsStore settings(m_data);
    std::vector<FolderListEntry> folders = settings.LoadFolderList();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].displayName, "Movies");
    EXPECT_EQ(folders[0].path, m_media);
    EXPECT_EQ(folders[1].displayName, "Lost Films");
    daemon->Signal(SIGTERM);
    ASSERT_EQ(daemon->WaitExit(), 0);

    // An emptied file empties the list; a line that is no share stops the start.
    WriteFileText(shares, "# nothing shared now\n");
    auto empty = Run({ "--shares-file", shares });
    ASSERT_TRUE(empty->WaitForOutput("No folder is shared yet")) << empty->Err();
    empty->Signal(SIGTERM);
    ASSERT_EQ(empty->WaitExit(), 0);
    EXPECT_TRUE(SettingsStore(m_data).LoadFolderList().empty());

    WriteFileText(shares, "Movies=" + m_media + "\n\nrelative=films\n");
    auto bad = Run({ "--shares-file", shares });
    EXPECT_EQ(bad->WaitExit(), 2);
    EXPECT_NE(
        bad->Err().find(shares + ":3: relative: 'films' is no absolute path"), std::string::npos)
        << bad->Err();
    auto missing = Run({ "--shares-file", m_root / "none" });
    EXPECT_EQ(missing->WaitExit(), 2);
    EXPECT_NE(missing->Err().find("cannot be read: No such file or directory"), std::string::npos);
}

} // namespace
