// "/serverOff" through the core controller: the answer comes first, then the server
// stops and the shutdown command runs (here a harmless one that leaves a marker).

#include "config/settings.h"
#include "config/texts.h"
#include "core/core_controller.h"
#include "core/session_hooks.h"
#include "http/answer.h"
#include "server/http/session_http_fixture.h"
#include "skin/message_loop.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

class QuietView : public ICoreView {
public:
    void ShowProgress(const char*) override { }
    void CloseProgress() override { }
    void ServerStateChanged(bool running) override { m_running = running; }
    void ShowServerError(int, const char*) override { }
    std::atomic<bool> m_running { false };
};

// The main window of the test: messages posted to frame index 2 reach the controller.
class MainWindow : public veneta::IMessageTarget {
public:
    MainWindow() { veneta::CPXFrameMSG::SetTarget(veneta::kFrameMainWindow, this, &m_loop); }
    ~MainWindow() override
    {
        veneta::CPXFrameMSG::ClearTarget(veneta::kFrameMainWindow, this);
        m_loop.Stop();
    }
    veneta::LResult OnMessage(
        veneta::MessageId message, veneta::WParam w, veneta::LParam l) override
    {
        return m_controller ? m_controller->HandleMessage(message, w, l) : 0;
    }
    CCoreController* m_controller = nullptr;

private:
    veneta::CMessageLoopThread m_loop;
};

class ServerOffTest : public SessionHttpTest {
protected:
    // Starts the server through the controller, as the daemon does.
    void StartThroughController()
    {
        StartServer(); // writes the settings; the controller runs its own server
        m_server->Stop();
        m_server.reset();
        CoreHooks hooks = DefaultCoreHooks();
        hooks.server.refreshExternalIp = [] { return true; };
        m_controller = std::make_unique<CCoreController>(m_view, hooks);
        m_window.m_controller = m_controller.get();
        ASSERT_TRUE(m_controller->StartStopServer());
        ASSERT_TRUE(WaitFor(
            [&] { return m_controller->IsServerRunning() && !m_controller->IsWorkerBusy(); }));
    }

    template <typename Condition> static bool WaitFor(Condition condition)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    ~ServerOffTest() override
    {
        if (m_controller) {
            m_controller->StopServerAndWait();
            m_controller->Shutdown(); // as the daemon exits: joins the thumbnail kick-off
        }
        m_window.m_controller = nullptr;
    }

    QuietView m_view;
    MainWindow m_window;
    std::unique_ptr<CCoreController> m_controller;
};

TEST_F(ServerOffTest, TheClientIsAnsweredThenTheServerStopsAndTheShutdownCommandRuns)
{
    std::string marker = m_data / "powered-off";
    ScopedEnv command("VEMBACAST_SHUTDOWN_COMMAND", "touch '" + marker + "'");
    StartThroughController();
    HttpReply reply = Get("/serverOff?anything=1");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_EQ(PlistValue(reply.body, "message"), "");
    EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(marker); }));
    EXPECT_FALSE(m_controller->IsServerRunning());
    EXPECT_FALSE(Get("/connect").connected); // nobody listens any more
}

TEST_F(ServerOffTest, AFailingShutdownCommandStillAnswersSuccessAndLeavesTheServerStopped)
{
    std::string marker = m_data / "tried";
    ScopedEnv command("VEMBACAST_SHUTDOWN_COMMAND", "touch '" + marker + "'; exit 1");
    StartThroughController();
    HttpReply reply = Get("/serverOff");
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(marker); }));
    EXPECT_TRUE(WaitFor([&] { return !m_controller->IsServerRunning(); }));
}

} // namespace

namespace {

TEST_F(ServerOffTest, SwitchedOffBySettingItIsRefusedAndTheServerKeepsRunning)
{
    std::string marker = m_data / "powered-off";
    ScopedEnv command("VEMBACAST_SHUTDOWN_COMMAND", "touch '" + marker + "'");
    StartThroughController();
    SetSettingString("", kSettingSection, kKeyAllowServerOff, "0");
    HttpReply reply = Get("/serverOff");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(PlistValue(reply.body, "result"), "-18");
    EXPECT_EQ(PlistValue(reply.body, "message"), XmlEscape(LookupText(kTextServerOffRefused)));
    EXPECT_NE(LookupText(kTextServerOffRefused), kTextServerOffRefused);
    // The server still answers, so no stop was started behind the refusal.
    EXPECT_EQ(Get("/connect").status, 200);
    EXPECT_TRUE(m_controller->IsServerRunning());
    EXPECT_FALSE(std::filesystem::exists(marker));

    SetSettingString("", kSettingSection, kKeyAllowServerOff, "1");
    EXPECT_EQ(PlistValue(Get("/serverOff").body, "result"), "0");
    EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(marker); }));
}

} // namespace
