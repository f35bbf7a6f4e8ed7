#include "config/app_messages.h"
#include "config/settings.h"
#include "core/core_controller.h"
#include "core/shutdown_command.h"
#include "platform/places.h"
#include "server/platform/temp_folder.h"
#include "skin/message_loop.h"
#include "support/http_client.h"

#include <chrono>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Records what a window would show, in order.
class RecordingView : public ICoreView {
public:
    void ShowProgress(const char* textKey) override { Add(std::string("progress ") + textKey); }
    void CloseProgress() override { Add("close"); }
    void ServerStateChanged(bool running) override { Add(running ? "running" : "stopped"); }
    void ShowServerError(int code, const char* textKey) override
    {
        Add("error " + std::to_string(code) + " " + textKey);
    }
    void Add(const std::string& event)
    {
        std::lock_guard lock(m_lock);
        m_events.push_back(event);
    }
    std::vector<std::string> Events()
    {
        std::lock_guard lock(m_lock);
        return m_events;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_events;
};

// The main window's stand-in: frame 2 on a loop of its own, forwarding to the controller.
class MainTarget : public veneta::IMessageTarget {
public:
    veneta::LResult OnMessage(
        veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam) override
    {
        return controller ? controller->HandleMessage(message, wParam, lParam) : 0;
    }
    CCoreController* controller = nullptr;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

} // namespace

class CoreControllerTest : public ::testing::Test {
protected:
    CoreControllerTest()
    {
        m_hooks.server.refreshExternalIp = [] { return true; };
        m_hooks.startThumbnails = [this] { m_view.Add("thumbnails"); };
        m_hooks.shutdownComputer = [this] {
            m_view.Add(
                std::string("shutdown ") + (IsWebServerRunning() ? "while running" : "after stop"));
            return true;
        };
        veneta::CPXFrameMSG::SetTarget(veneta::kFrameMainWindow, &m_target, &m_loop);
    }
    ~CoreControllerTest() override
    {
        veneta::CPXFrameMSG::ClearTarget(veneta::kFrameMainWindow, &m_target);
    }

    std::unique_ptr<CCoreController> MakeController()
    {
        auto controller = std::make_unique<CCoreController>(m_view, m_hooks);
        m_target.controller = controller.get();
        return controller;
    }

    void WriteGoodSettings()
    {
        for (const auto& [key, value] :
            std::initializer_list<std::pair<const char*, std::string>> { { "InIP", "127.0.0.1" },
                { "InPort", std::to_string(m_port) }, { "ExtIP", "127.0.0.1" },
                { "ExtPort", std::to_string(m_port) }, { "MACA", "02:00:00:00:00:01" } })
            SetSettingString("", kSettingSection, key, value);
        SetSettingInt("SET", 1);
    }

    TempFolder m_data;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };
    ScopedEnv m_traceEnv { "VEMBACAST_TRACE_DIR", m_data.path() };
    int m_port = PickFreePort();
    RecordingView m_view;
    CoreHooks m_hooks;
    veneta::CMessageLoopThread m_loop;
    MainTarget m_target;
};

TEST_F(CoreControllerTest, TheCommandStartsAndThenStopsTheServerOnAWorker)
{
    WriteGoodSettings();
    auto controller = MakeController();
    ASSERT_TRUE(controller->StartStopServer());
    ASSERT_TRUE(WaitFor([&] { return !controller->IsWorkerBusy(); }));
    EXPECT_TRUE(controller->IsServerRunning());
    EXPECT_EQ(HttpGetRaw(m_port, "/index.html").status, 200);

    ASSERT_TRUE(controller->StartStopServer());
    ASSERT_TRUE(WaitFor([&] { return !controller->IsWorkerBusy(); }));
    EXPECT_FALSE(controller->IsServerRunning());
    EXPECT_EQ(m_view.Events(),
        (std::vector<std::string> { "progress IDS_WORD_BTN_STARTSERVER", "thumbnails", "running",
            "close", "progress IDS_WORD_BTN_STOPSERVER", "stopped", "close" }));
}

TEST_F(CoreControllerTest, AFailedStartIsPostedToTheMainWindowWithItsCode)
{
    auto controller = MakeController(); // no settings: code 1
    ASSERT_TRUE(controller->StartStopServer());
    ASSERT_TRUE(WaitFor([&] { return m_view.Events().size() == 3; }));
    EXPECT_EQ(m_view.Events(),
        (std::vector<std::string> {
            "progress IDS_WORD_BTN_STARTSERVER", "close", "error 1 IDS_WORD_NOT_SETTING" }));
    EXPECT_EQ(controller->LastServerError(), 1);
    EXPECT_FALSE(controller->IsServerRunning());
}

TEST_F(CoreControllerTest, ASecondCommandWhileTheWorkerIsBusyIsRefused)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    m_hooks.server.refreshExternalIp = [released] {
        released.wait();
        return true;
    };
    WriteGoodSettings();
    auto controller = MakeController();
    ASSERT_TRUE(controller->StartStopServer());
    EXPECT_TRUE(controller->IsWorkerBusy());
    EXPECT_FALSE(controller->StartStopServer());
    release.set_value();
    ASSERT_TRUE(WaitFor([&] { return !controller->IsWorkerBusy(); }));
    EXPECT_TRUE(controller->IsServerRunning());
    controller->StopServerAndWait();
    EXPECT_FALSE(controller->IsServerRunning());
}

TEST_F(CoreControllerTest, EngineNoticesReachTheirHookUnlessTheSessionIsNull)
{
    std::vector<std::pair<veneta::MessageId, veneta::LParam>> notices;
    m_hooks.engineNotice = [&](veneta::MessageId message, veneta::LParam session) {
        notices.emplace_back(message, session);
    };
    auto controller = MakeController();
    veneta::CPXFrameMSG::Send(veneta::kFrameMainWindow, WM_APP_ENC_COMPLETE, 0, 0x1234);
    veneta::CPXFrameMSG::Send(veneta::kFrameMainWindow, WM_APP_ENC_ERROR, 0, 0);
    veneta::CPXFrameMSG::Send(veneta::kFrameMainWindow, WM_APP_ENC_ERROR, 0, 0x5678);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], std::make_pair(WM_APP_ENC_COMPLETE, veneta::LParam { 0x1234 }));
    EXPECT_EQ(notices[1], std::make_pair(WM_APP_ENC_ERROR, veneta::LParam { 0x5678 }));
}

TEST_F(CoreControllerTest, ServerErrorCodesShowTheirTextsAndOthersNothing)
{
    auto controller = MakeController();
    for (int code : { 0, 1, 2, 3, 4, 5, 6, 7, 8, 99 })
        veneta::CPXFrameMSG::Send(
            veneta::kFrameMainWindow, WM_APP_SERVER_ERROR, static_cast<veneta::WParam>(code));
    EXPECT_EQ(m_view.Events(),
        (std::vector<std::string> { "error 1 IDS_WORD_NOT_SETTING",
            "error 2 IDS_WORD_NEED_RESETTING", "error 3 IDS_WORD_INVAILD_SETTING",
            "error 4 IDS_WORD_ALREADY_RUN", "error 5 IDS_ERROR_FAILED_SERVER_START",
            "error 6 IDS_ERROR_FAILED_SERVER_START", "error 7 IDS_WORD_NO_UPNPDEVICE" }));
}

TEST_F(CoreControllerTest, AShutdownRequestStopsTheServerFirst)
{
    WriteGoodSettings();
    auto controller = MakeController();
    controller->StartStopServer();
    ASSERT_TRUE(
        WaitFor([&] { return controller->IsServerRunning() && !controller->IsWorkerBusy(); }));
    veneta::CPXFrameMSG::Send(veneta::kFrameMainWindow, WM_APP_SHUTDOWN_PC);
    EXPECT_FALSE(controller->IsServerRunning());
    EXPECT_EQ(m_view.Events().back(), "shutdown after stop");
}

TEST_F(CoreControllerTest, TheFolderListIsLoadedRegisteredAndSavedBack)
{
    SaveFolderListFile({ { "Movies", "/srv/movies" }, { "Kids", "/srv/kids" } });
    std::vector<std::string> registered;
    m_hooks.registerSharedFolder
        = [&](const FolderListEntry& entry) { registered.push_back(entry.displayName); };
    auto controller = MakeController();
    controller->LoadFolderList();
    EXPECT_EQ(registered, (std::vector<std::string> { "Movies", "Kids" }));
    ASSERT_EQ(controller->Rows().size(), 2u);

    std::vector<std::string> order;
    m_hooks.stopThumbnailPool = [&] { order.push_back("thumbnails"); };
    m_hooks.endSessions = [&] { order.push_back("sessions"); };
    m_hooks.cancelConversions = [&] { order.push_back("conversions"); };
    controller = MakeController(); // with the recording shutdown hooks
    controller->SetRows({ { "Kids", "/srv/kids" } });
    controller->Shutdown();
    EXPECT_EQ(order, (std::vector<std::string> { "thumbnails", "sessions", "conversions" }));
    std::vector<FolderListEntry> saved = LoadFolderListFile();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].displayName, "Kids");
    EXPECT_EQ(saved[0].path, "/srv/kids");
}

TEST_F(CoreControllerTest, TheServicesFolderIsCreatedWithItsParents)
{
    ScopedEnv deeper("VEMBACAST_DATA_DIR", m_data / "a/b/c");
    auto controller = MakeController();
    EXPECT_TRUE(controller->CreateServicesFolder());
    EXPECT_TRUE(std::filesystem::is_directory(m_data / "a/b/c/Services"));
}

TEST(ShutdownCommand, RunsTheConfiguredCommandAndReportsItsResult)
{
    TempFolder folder;
    {
        ScopedEnv command("VEMBACAST_SHUTDOWN_COMMAND", "touch '" + (folder / "down") + "'");
        EXPECT_TRUE(RunShutdownCommand());
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "down"));
    ScopedEnv refused("VEMBACAST_SHUTDOWN_COMMAND", "exit 1");
    EXPECT_FALSE(RunShutdownCommand());
}
