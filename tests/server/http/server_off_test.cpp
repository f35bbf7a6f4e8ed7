// "/serverOff" through the core controller: the answer comes first, then the server
// stops and the server's shutdown command runs (here a harmless one that leaves a
// marker, and fails while a "fail" file is there).

#include "config/settings.h"
#include "config/texts.h"
#include "core/core_controller.h"
#include "http/answer.h"
#include "server/http/session_http_fixture.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>

namespace {

using namespace std::chrono_literals;

// The controller's view: tells when a power-off request has been carried out.
class QuietView : public ICoreView {
public:
    void ShowProgress(const char*) override { }
    void CloseProgress() override { }
    void ServerStateChanged(bool) override { }
    void ShowServerError(int, const char*) override { }
    void ServerShutDown(bool succeeded) override
    {
        std::lock_guard lock(m_lock);
        m_shutDown = succeeded;
        m_changed.notify_all();
    }
    // How the power-off ended; nothing when none ended within the bound.
    std::optional<bool> WaitShutDown()
    {
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, 20s, [&] { return m_shutDown.has_value(); });
        return m_shutDown;
    }
    bool ShutDownYet()
    {
        std::lock_guard lock(m_lock);
        return m_shutDown.has_value();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::optional<bool> m_shutDown; // guarded by m_lock
};

// The marker folder is made before the server, whose shutdown command names it.
struct MarkerFolder {
    TempFolder marks;
    LoopbackOptions Options() const
    {
        LoopbackOptions options;
        options.shutdownCommand = "touch " + vembatest::ShellQuote(marks / "powered-off")
            + "; test ! -e " + vembatest::ShellQuote(marks / "fail");
        return options;
    }
};

class ServerOffTest : protected MarkerFolder, public SessionHttpTest {
protected:
    ServerOffTest()
        : SessionHttpTest(Options())
    {
    }
    ~ServerOffTest() override
    {
        if (m_controller) {
            m_controller->StopServerAndWait(CCoreController::WhileWaiting::Block);
            m_controller->Shutdown(); // as the daemon exits: joins the thumbnail kick-off
        }
    }

    // Starts the server through the controller, as the daemon does.
    void StartThroughController()
    {
        m_controller = std::make_unique<CCoreController>(m_view, Server());
        ASSERT_TRUE(m_controller->StartStopServer());
        m_controller->WaitWhileBusy(CCoreController::WhileWaiting::Block);
        ASSERT_TRUE(m_controller->IsServerRunning()) << m_controller->LastServerError();
    }
    bool PoweredOff() const { return std::filesystem::exists(marks / "powered-off"); }

    QuietView m_view;
    std::unique_ptr<CCoreController> m_controller;
};

TEST_F(ServerOffTest, TheClientIsAnsweredThenTheServerStopsAndTheShutdownCommandRuns)
{
    StartThroughController();
    HttpReply reply = Get("/serverOff?anything=1");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_EQ(PlistValue(reply.body, "message"), "");
    EXPECT_EQ(m_view.WaitShutDown(), std::optional<bool>(true));
    EXPECT_TRUE(PoweredOff());
    EXPECT_FALSE(m_controller->IsServerRunning());
    EXPECT_FALSE(Get("/connect").connected); // nobody listens any more
}

TEST_F(ServerOffTest, AFailingShutdownCommandStillAnswersSuccessAndLeavesTheServerStopped)
{
    WriteFileText(marks / "fail", "");
    StartThroughController();
    HttpReply reply = Get("/serverOff");
    EXPECT_EQ(PlistValue(reply.body, "result"), "0");
    EXPECT_EQ(m_view.WaitShutDown(), std::optional<bool>(false));
    EXPECT_TRUE(PoweredOff()) << "the command was not run";
    EXPECT_FALSE(m_controller->IsServerRunning());
}

TEST_F(ServerOffTest, SwitchedOffBySettingItIsRefusedAndTheServerKeepsRunning)
{
    StartThroughController();
    SetSetting(kKeyAllowServerOff, "0");
    HttpReply reply = Get("/serverOff");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(PlistValue(reply.body, "result"), "-18");
    const std::string refused = Server().Texts().Lookup(kTextServerOffRefused);
    EXPECT_EQ(PlistValue(reply.body, "message"), XmlEscape(refused));
    EXPECT_NE(refused, kTextServerOffRefused);
    // The server still answers, so no stop was started behind the refusal.
    EXPECT_EQ(Get("/connect").status, 200);
    EXPECT_TRUE(m_controller->IsServerRunning());
    EXPECT_FALSE(m_view.ShutDownYet());
    EXPECT_FALSE(PoweredOff());

    SetSetting(kKeyAllowServerOff, "1");
    EXPECT_EQ(PlistValue(Get("/serverOff").body, "result"), "0");
    EXPECT_EQ(m_view.WaitShutDown(), std::optional<bool>(true));
    EXPECT_TRUE(PoweredOff());
}

} // namespace
