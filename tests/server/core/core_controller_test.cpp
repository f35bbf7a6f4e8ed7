// The core controller over a real server object on a data folder of the test's own:
// the start/stop worker, a client's power-off request over real HTTP, the folder list
// and the conversion changes reaching the view. The test waits on what the view is
// told, never on the clock.

#include "config/settings.h"
#include "config/settings_store.h"
#include "core/core_controller.h"
#include "core/server_errors.h"
#include "core/shutdown_command.h"
#include "support/http_client.h"
#include "support/step_log.h"
#include "support/test_server.h"

#include <algorithm>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Records what a window would show, in order; ServerStateChanged(true) may be held at
// a gate, which keeps the worker busy.
class RecordingView : public ICoreView {
public:
    void ShowProgress(const char* textKey) override { Add(std::string("progress ") + textKey); }
    void CloseProgress() override { Add("close"); }
    void ServerStateChanged(bool running) override
    {
        if (running && m_gate)
            m_gate->wait();
        Add(running ? "running" : "stopped");
    }
    void ShowServerError(int code, const char* textKey) override
    {
        Add("error " + std::to_string(code) + " " + textKey);
    }
    void DismissMessages() override { Add("dismiss"); }
    void ServerShutDown(bool succeeded) override
    {
        Add(succeeded ? "shut down" : "shutdown failed");
    }
    void ConversionChanged(ConversionChange change, const ConvertInfo_t& job) override
    {
        if (change == ConversionChange::Added)
            Add("added " + job.strConvertID);
    }

    void Add(const std::string& event) { m_log.Add(event); }
    std::vector<std::string> Events() { return m_log.Events(); }
    // Waits until event was shown; false when it was not within the guard (a hang).
    bool WaitFor(const std::string& event) { return m_log.WaitFor(event); }
    void HoldStart(std::shared_future<void> gate) { m_gate = std::move(gate); }

private:
    vembatest::StepLog<std::string> m_log;
    std::optional<std::shared_future<void>> m_gate; // set before the worker starts
};

} // namespace

class CoreControllerTest : public ::testing::Test {
protected:
    CCoreController& Controller()
    {
        if (!m_controller)
            m_controller = std::make_unique<CCoreController>(m_view, Server(), m_hooks);
        return *m_controller;
    }
    CVembaServer& Server()
    {
        if (!m_server)
            m_server = std::make_unique<CVembaServer>(m_data.Parts());
        return *m_server;
    }
    void WriteGoodSettings() { m_port = vembatest::WriteServedSettings(m_data.Settings()); }
    void Finish() { Controller().WaitWhileBusy(CCoreController::WhileWaiting::Block); }

    vembatest::TestSettingsFolder m_data;
    int m_port = 0;
    RecordingView m_view;
    CoreHooks m_hooks;
    std::unique_ptr<CVembaServer> m_server;
    std::unique_ptr<CCoreController> m_controller; // goes before the server
};

TEST_F(CoreControllerTest, TheCommandStartsAndThenStopsTheServerOnAWorker)
{
    WriteGoodSettings();
    ASSERT_TRUE(Controller().StartStopServer());
    Finish();
    EXPECT_TRUE(Controller().IsServerRunning());
    EXPECT_EQ(HttpGetRaw(m_port, "/index.html").status, 200);

    ASSERT_TRUE(Controller().StartStopServer());
    Finish();
    EXPECT_FALSE(Controller().IsServerRunning());
    EXPECT_FALSE(HttpGetRaw(m_port, "/index.html").connected);
    EXPECT_EQ(m_view.Events(),
        (std::vector<std::string> { "dismiss", "progress IDS_WORD_BTN_STARTSERVER", "running",
            "close", "dismiss", "progress IDS_WORD_BTN_STOPSERVER", "stopped", "close" }));
}

TEST_F(CoreControllerTest, AFailedStartIsShownWithItsCodeAndText)
{
    ASSERT_TRUE(Controller().StartStopServer()); // never set up: code 1
    Finish();
    EXPECT_EQ(m_view.Events(),
        (std::vector<std::string> { "dismiss", "progress IDS_WORD_BTN_STARTSERVER", "close",
            "error 1 IDS_WORD_NOT_SETTING" }));
    EXPECT_EQ(Controller().LastServerError(), 1);
    EXPECT_FALSE(Controller().IsServerRunning());
}

TEST_F(CoreControllerTest, ASecondCommandWhileTheWorkerIsBusyIsRefused)
{
    std::promise<void> release;
    m_view.HoldStart(release.get_future().share());
    WriteGoodSettings();
    ASSERT_TRUE(Controller().StartStopServer());
    EXPECT_TRUE(Controller().IsWorkerBusy());
    EXPECT_FALSE(Controller().StartStopServer());
    release.set_value();
    Finish();
    EXPECT_TRUE(Controller().IsServerRunning());
    Controller().StopServerAndWait(CCoreController::WhileWaiting::Block);
    EXPECT_FALSE(Controller().IsServerRunning());
}

TEST(ServerErrors, CodesOneToSevenHaveTextsAndOthersNone)
{
    const std::pair<int, const char*> rows[] = { { 1, "IDS_WORD_NOT_SETTING" },
        { 2, "IDS_WORD_NEED_RESETTING" }, { 3, "IDS_WORD_INVAILD_SETTING" },
        { 4, "IDS_WORD_ALREADY_RUN" }, { 5, "IDS_ERROR_FAILED_SERVER_START" },
        { 6, "IDS_ERROR_FAILED_SERVER_START" }, { 7, "IDS_WORD_NO_UPNPDEVICE" } };
    for (const auto& [code, key] : rows) {
        ASSERT_NE(ServerErrorTextKey(code), nullptr) << code;
        EXPECT_STREQ(ServerErrorTextKey(code), key);
    }
    for (int code : { 0, 8, 99, -1 })
        EXPECT_EQ(ServerErrorTextKey(code), nullptr) << code;
}

TEST_F(CoreControllerTest, AClientsPowerOffStopsTheServerFirstAndReportsTheOutcome)
{
    m_hooks.shutdownComputer = [this] {
        m_view.Add(std::string("shutdown ")
            + (Server().WebServer().IsRunning() ? "while running" : "after stop"));
        return true;
    };
    WriteGoodSettings();
    Controller().StartStopServer();
    Finish();
    ASSERT_TRUE(Controller().IsServerRunning());
    // The answer goes out before the stop, which would otherwise wait for this request.
    HttpReply answer = HttpGetRaw(m_port, "/serverOff");
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("<key>result</key><string>0</string>"), std::string::npos);
    ASSERT_TRUE(m_view.WaitFor("shut down"));
    EXPECT_FALSE(Controller().IsServerRunning());
    std::vector<std::string> events = m_view.Events();
    auto at = [&](const std::string& event) {
        return std::find(events.begin(), events.end(), event) - events.begin();
    };
    EXPECT_LT(at("stopped"), at("shutdown after stop"));
    EXPECT_LT(at("shutdown after stop"), at("shut down"));
}

TEST_F(CoreControllerTest, WithoutAHookTheServersOwnShutdownCommandRunsAndAFailureIsReported)
{
    ServerParts parts = m_data.Parts();
    parts.shutdownCommand = "false";
    m_server = std::make_unique<CVembaServer>(std::move(parts));
    WriteGoodSettings();
    Controller().StartStopServer();
    Finish();
    EXPECT_EQ(HttpGetRaw(m_port, "/serverOff").status, 200);
    ASSERT_TRUE(m_view.WaitFor("shutdown failed"));
    EXPECT_FALSE(Controller().IsServerRunning()) << "the server stays stopped";
    // Started again by hand, it serves as before.
    Controller().StartStopServer();
    Finish();
    EXPECT_EQ(HttpGetRaw(m_port, "/connect").status, 200);
}

TEST_F(CoreControllerTest, TheFolderListIsLoadedSharedAndSavedBackAtShutdown)
{
    m_data.Settings().SaveFolderList({ { "Movies", "/srv/movies" }, { "Kids", "/srv/kids" } });
    Controller().LoadFolderList();
    std::vector<SharedFolder> shares = Server().SharedFolders().GetSharedFolders();
    ASSERT_EQ(shares.size(), 2u);
    EXPECT_EQ(shares[0].name, "Movies");
    EXPECT_EQ(shares[1].path, "/srv/kids");
    ASSERT_EQ(Controller().Rows().size(), 2u);

    Controller().SetRows({ { "Kids", "/srv/kids" } });
    Controller().Shutdown();
    std::vector<FolderListEntry> saved = m_data.Settings().LoadFolderList();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].displayName, "Kids");
    EXPECT_EQ(saved[0].path, "/srv/kids");
    // The conversions have ended with it: the queue takes no more jobs.
    auto job = std::make_shared<ConvertInfo_t>(Server());
    job->strSourcePath = "/Kids/late.avi";
    EXPECT_FALSE(Server().ConvertQueue().AddJob(job));
}

TEST_F(CoreControllerTest, ConversionChangesReachTheView)
{
    auto job = std::make_shared<ConvertInfo_t>(Server());
    job->strConvertID = "A1";
    job->strSourcePath = "/Nowhere/a.avi";
    Controller();
    ASSERT_TRUE(Server().ConvertQueue().AddJob(job));
    // Told on the thread that added the job, before AddJob returned.
    std::vector<std::string> events = m_view.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "added A1"), events.end());
}

TEST(CoreControllerFolders, TheServicesFolderIsCreatedWithItsParents)
{
    vembatest::TestDataFolder root;
    CVembaServer server(vembatest::TestServerParts(root.Root() + "/a/b/c"));
    RecordingView view;
    CCoreController controller(view, server);
    EXPECT_TRUE(controller.CreateServicesFolder());
    EXPECT_TRUE(std::filesystem::is_directory(root.Root() + "/a/b/c/Services"));
}

TEST(ShutdownCommand, RunsTheGivenCommandAndReportsItsResult)
{
    vembatest::TestDataFolder folder;
    EXPECT_TRUE(RunShutdownCommand("touch " + vembatest::ShellQuote(folder.Root() + "/down")));
    EXPECT_TRUE(std::filesystem::exists(folder.Root() + "/down"));
    EXPECT_FALSE(RunShutdownCommand("exit 1"));
}
