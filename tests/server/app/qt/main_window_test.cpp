#include "app_messages.h"
#include "desktop_fixture.h"
#include "main_window.h"
#include "password_dialog.h"
#include "platform/adapters.h"
#include "set_path_dialog.h"
#include "settings_dialog.h"
#include "skin/qt/image_button.h"
#include "skin/qt/progress_box.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

namespace fs = std::filesystem;

class MainWindowTest : public DesktopTest {
protected:
    MainWindowTest()
    {
        fs::create_directories(Path("media"));
        Settings().WriteText(kKeyInPort, std::to_string(m_port));
        Settings().WriteInt(kKeySet, 1);
    }

    std::unique_ptr<CVembaCastDlg> OpenWindow()
    {
        auto window = std::make_unique<CVembaCastDlg>(Server(), m_seams);
        window->Controller().StartEmbeddedConsole();
        window->Controller().FillSettingDefaults();
        window->show();
        window->OnInitDialog();
        window->OnLoad();
        return window;
    }

    void SkipWithoutAdapters()
    {
        if (ListAdapters().empty())
            GTEST_SKIP() << "no network adapter: the server cannot be set up here";
    }

    // Presses the start/stop button and waits until the window shows the new state.
    bool PressStartStop(CVembaCastDlg& window, bool expectRunning)
    {
        window.StartStopButton()->click();
        return RunEventsUntil([&] {
            return window.StartStopButton()->Image() == (expectRunning ? 1 : 0)
                && !window.Controller().IsWorkerBusy() && !window.ProgressBox()->isVisible();
        });
    }

    void DriveFolderDialog(const std::string& path, const std::string& name)
    {
        ExpectDialog([path, name](QDialog& dialog) {
            auto& folder = dynamic_cast<CSetPathDlg&>(dialog);
            QTest::keyClicks(folder.PathField(), QString::fromStdString(path));
            QTest::keyClicks(folder.NameField(), QString::fromStdString(name));
            folder.OkButton()->click();
        });
    }

    bool Running() { return Server().WebServer().IsRunning(); }

    int m_port = PickFreePort();
};

TEST_F(MainWindowTest, AddedFolderIsListedSavedAndServedOnceTheServerStarts)
{
    SkipWithoutAdapters();
    auto window = OpenWindow();
    ASSERT_TRUE(window->StartStopButton()->isEnabled());
    DriveFolderDialog(Path("media"), "Movies");
    (window->findChild<QToolButton*>("button1003"))->click();
    ASSERT_EQ(window->FolderList()->topLevelItemCount(), 1);
    EXPECT_EQ(window->FolderList()->topLevelItem(0)->text(0), "Movies");
    std::vector<FolderListEntry> saved = Settings().LoadFolderList();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].path, Path("media"));

    ASSERT_TRUE(PressStartStop(*window, true)) << ::testing::PrintToString(m_messages);
    HttpReply connect = HttpGetRaw(m_port, "/connect");
    EXPECT_EQ(connect.status, 200);
    EXPECT_NE(connect.body.find("<key>result</key>"), std::string::npos) << connect.body;
    EXPECT_TRUE(window->StatusLine()->text().contains(QString::number(m_port)));
    HttpReply list = HttpGetRaw(m_port, "/getList?path=%2FMovies");
    EXPECT_EQ(list.status, 200);

    ASSERT_TRUE(PressStartStop(*window, false));
    EXPECT_FALSE(Running());
    EXPECT_FALSE(HttpGetRaw(m_port, "/connect").connected);
    ASSERT_TRUE(PressStartStop(*window, true));
    EXPECT_EQ(HttpGetRaw(m_port, "/connect").status, 200);
    ASSERT_TRUE(PressStartStop(*window, false));
}

TEST_F(MainWindowTest, AutoStartStartsTheServerWhenTheWindowHasLoaded)
{
    SkipWithoutAdapters();
    Settings().WriteInt(kKeyAutoStart, 1);
    auto window = OpenWindow();
    ASSERT_TRUE(RunEventsUntil([&] { return window->StartStopButton()->Image() == 1; }));
    EXPECT_EQ(HttpGetRaw(m_port, "/connect").status, 200);
    ASSERT_TRUE(PressStartStop(*window, false));
}

TEST_F(MainWindowTest, AWindowThatWasNeverSetUpSaysSoAndOpensTheSettings)
{
    SkipWithoutAdapters();
    Settings().WriteInt(kKeySet, 0);
    ExpectDialog([](QDialog& dialog) {
        auto& settings = dynamic_cast<CSettingDialog&>(dialog);
        settings.SetButton()->click();
    });
    auto window = OpenWindow();
    EXPECT_TRUE(Shown("IDS_WORD_NOT_SETTING"));
    EXPECT_FALSE(window->StartStopButton()->isEnabled());
    // The settings command arrives as a posted message.
    ASSERT_TRUE(RunEventsUntil([&] { return m_dialogDrivers.empty(); }));
    EXPECT_TRUE(window->StartStopButton()->isEnabled());
    EXPECT_EQ(Settings().ReadInt(kKeySet, 0), 1);
    EXPECT_FALSE(Shown("IDS_WORD_RESTART_SETTINGAPPLY")) << "the server was not running";
}

TEST_F(MainWindowTest, PasswordSetInTheSettingsIsHandedOutByConnectAfterARestartNotice)
{
    SkipWithoutAdapters();
    auto window = OpenWindow();
    ASSERT_TRUE(PressStartStop(*window, true));
    EXPECT_EQ(HttpGetRaw(m_port, "/connect").body.find("<string>4321</string>"), std::string::npos);

    int newPort = PickFreePort();
    ExpectDialog([&](QDialog& dialog) {
        auto& settings = dynamic_cast<CSettingDialog&>(dialog);
        EXPECT_FALSE(settings.PasswordButton()->isVisible());
        settings.PasswordModeBox()->click();
        EXPECT_TRUE(settings.PasswordButton()->isVisible());
        settings.PasswordButton()->click();
        settings.PortField()->selectAll();
        QTest::keyClicks(settings.PortField(), QString::number(newPort));
        settings.SetButton()->click();
    });
    ExpectDialog([](QDialog& dialog) {
        auto& password = dynamic_cast<CSetPasswordDialog&>(dialog);
        QTest::keyClicks(password.Field(), "4321");
        password.SetButton()->click();
    });
    (window->findChild<QToolButton*>("button1009"))->click();
    EXPECT_TRUE(m_dialogDrivers.empty());
    EXPECT_TRUE(Shown("IDS_WORD_RESTART_SETTINGAPPLY"));
    EXPECT_EQ(m_data.Get(kKeyInPort), std::to_string(newPort));

    // The password is handed out at once; the port takes effect after a restart.
    HttpReply connect = HttpGetRaw(m_port, "/connect");
    EXPECT_NE(connect.body.find("<string>4321</string>"), std::string::npos) << connect.body;
    ASSERT_TRUE(PressStartStop(*window, false));
    ASSERT_TRUE(PressStartStop(*window, true));
    EXPECT_NE(
        HttpGetRaw(newPort, "/connect").body.find("<string>4321</string>"), std::string::npos);
    ASSERT_TRUE(PressStartStop(*window, false));
}

// The mapping box's probe reaches the server from outside, so a stopped server serves
// while the dialog is open and is stopped again when it closes.
TEST_F(MainWindowTest, TheSettingsCommandServesForTheDialogAndStopsAfterwards)
{
    SkipWithoutAdapters();
    auto window = OpenWindow();
    ASSERT_FALSE(Running());
    bool servedDuringDialog = false;
    ExpectDialog([&](QDialog& dialog) {
        servedDuringDialog = Running() && HttpGetRaw(m_port, "/connect").status == 200;
        dynamic_cast<CSettingDialog&>(dialog).CloseButton()->click();
    });
    (window->findChild<QToolButton*>("button1009"))->click();
    EXPECT_TRUE(m_dialogDrivers.empty());
    EXPECT_TRUE(servedDuringDialog);
    EXPECT_FALSE(Running());
    EXPECT_FALSE(HttpGetRaw(m_port, "/connect").connected);
    ASSERT_TRUE(RunEventsUntil([&] { return window->StartStopButton()->Image() == 0; }));
    EXPECT_FALSE(Shown("IDS_WORD_RESTART_SETTINGAPPLY"));
}

TEST_F(MainWindowTest, ClosingTheSettingsPutsThePasswordBack)
{
    SkipWithoutAdapters();
    m_data.Set(kKeyPassword, "11");
    auto window = OpenWindow();
    ExpectDialog([this](QDialog& dialog) {
        auto& settings = dynamic_cast<CSettingDialog&>(dialog);
        settings.PasswordModeBox()->click();
        settings.PasswordButton()->click();
        EXPECT_EQ(m_data.Get(kKeyPassword), "99");
        settings.CloseButton()->click();
    });
    ExpectDialog([](QDialog& dialog) {
        auto& password = dynamic_cast<CSetPasswordDialog&>(dialog);
        QTest::keyClicks(password.Field(), "99");
        password.SetButton()->click();
    });
    (window->findChild<QToolButton*>("button1009"))->click();
    EXPECT_EQ(m_data.Get(kKeyPassword), "11");
    EXPECT_EQ(Settings().ReadInt(kKeyPasswordMode, 0), 0);
}

TEST_F(MainWindowTest, DeletingFoldersRemovesTheirRowsAndWorkFoldersOnly)
{
    fs::create_directories(Path("media2"));
    Settings().SaveFolderList(
        { { "One", Path("media") }, { "Two", Path("media2") }, { "..", Path("media") } });
    fs::create_directories(Path("data/Services/One/x"));
    fs::create_directories(Path("data/Services/Two"));
    auto window = OpenWindow();
    ASSERT_EQ(window->FolderList()->topLevelItemCount(), 3);
    for (int i = 0; i < 3; ++i)
        window->FolderList()->topLevelItem(i)->setSelected(true);
    (window->findChild<QToolButton*>("button1002"))->click();
    EXPECT_EQ(window->FolderList()->topLevelItemCount(), 0);
    EXPECT_FALSE(fs::exists(Path("data/Services/One")));
    EXPECT_FALSE(fs::exists(Path("data/Services/Two")));
    EXPECT_TRUE(fs::exists(Path("data/VembaCast.ini")))
        << "a '..' row must not delete the data folder";
    EXPECT_TRUE(Settings().LoadFolderList().empty());
}

TEST_F(MainWindowTest, ClosingHidesInTheTrayAndATrayClickBringsTheWindowBack)
{
    auto window = OpenWindow();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->IsTrayIconShown());
    veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, WM_APP_TRAY_NOTIFY, 0, kTrayLeftButtonDown);
    ASSERT_TRUE(RunEventsUntil([&] { return window->isVisible(); }));
    EXPECT_FALSE(window->IsTrayIconShown());
}

TEST_F(MainWindowTest, AClientsPowerOffWithAFailingCommandIsReportedAndTheServerStaysStopped)
{
    SkipWithoutAdapters();
    m_shutdownCommand = "false";
    auto window = OpenWindow();
    ASSERT_TRUE(PressStartStop(*window, true));
    // A phone of the home network presses its power button.
    EXPECT_EQ(HttpGetRaw(m_port, "/serverOff").status, 200);
    ASSERT_TRUE(RunEventsUntil([&] { return Shown("IDS_ERROR_FAILED_SHUTDOWN"); }));
    EXPECT_FALSE(Running());
    EXPECT_EQ(window->StartStopButton()->Image(), 0);
    EXPECT_EQ(
        window->StatusLine()->text().toStdString(), Texts().Lookup("IDS_ERROR_FAILED_SHUTDOWN"));
    // Started again by hand, the server runs as before.
    ASSERT_TRUE(PressStartStop(*window, true));
    ASSERT_TRUE(PressStartStop(*window, false));
}

TEST_F(MainWindowTest, AStartErrorShowsItsMessageAndTheButtonKeepsItsStartImage)
{
    SkipWithoutAdapters();
    auto window = OpenWindow();
    veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, WM_APP_SERVER_ERROR, 3);
    veneta::CPXFrameMSG::Post(veneta::kFrameMainWindow, WM_APP_SERVER_ERROR, 99);
    ASSERT_TRUE(RunEventsUntil([&] { return Shown("IDS_WORD_INVAILD_SETTING"); }));
    QApplication::processEvents();
    EXPECT_EQ(m_messages.size(), 1u) << "an unknown code shows nothing";
    EXPECT_EQ(window->StartStopButton()->Image(), 0);
}

TEST_F(MainWindowTest, ExitAsksFirstAndStopsTheServer)
{
    SkipWithoutAdapters();
    auto window = OpenWindow();
    ASSERT_TRUE(PressStartStop(*window, true));
    QSignalSpy exits(window.get(), &CVembaCastDlg::ExitRequested);
    m_messageAnswer = veneta::kButtonNo;
    window->RunCommand(kCmdExit);
    EXPECT_TRUE(Shown("IDS_WORD_COMMON_EXIT"));
    EXPECT_TRUE(Running());
    EXPECT_EQ(exits.count(), 0);
    m_messageAnswer = veneta::kButtonYes;
    window->TrayMenu()->actions().last()->trigger();
    EXPECT_FALSE(Running());
    EXPECT_EQ(exits.count(), 1);
}
