// The desktop windows over the real parts: a file dropped on the conversion window is
// converted by the core's queue with the real engine, and the settings dialog
// registers the PIN code at the real standalone console.

#include "app_messages.h"
#include "conversion_window.h"
#include "desktop_fixture.h"
#include "main_window.h"
#include "platform/adapters.h"
#include "remote/console_answer.h"
#include "remote/relay_server.h"
#include "server/app/daemon_process.h"
#include "settings_dialog.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QUrl>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

class DesktopWiringTest : public DesktopTest {
protected:
    std::unique_ptr<CVembaCastDlg> OpenWindow()
    {
        auto window = std::make_unique<CVembaCastDlg>(Server(), m_seams);
        window->Controller().StartEmbeddedConsole();
        window->Controller().FillSettingDefaults();
        return window;
    }
    std::vector<ConversionRow> Rows() { return ReadConversionRows(Server().ConvertQueue()); }
};

const ConversionRow* RowFor(const std::vector<ConversionRow>& rows, const std::string& source)
{
    for (const ConversionRow& row : rows) {
        if (row.sourcePath == source)
            return &row;
    }
    return nullptr;
}

TEST_F(DesktopWiringTest, ADroppedFileOutsideEveryShareConvertsBesideItself)
{
    const std::string folder = Path("not shared");
    fs::create_directories(folder);
    const std::string clip = folder + "/clip one.mp4";
    ASSERT_TRUE(vembatest::RunCommand("ffmpeg -nostdin -y -loglevel error -f lavfi -i "
                                      "testsrc2=size=320x240:rate=24:duration=3 -f lavfi -i "
                                      "sine=frequency=440:duration=3 -c:v libx264 -preset "
                                      "ultrafast -pix_fmt yuv420p -c:a aac -shortest "
        + vembatest::ShellQuote(clip)));
    auto window = OpenWindow();
    CConversionWindow& conversions = *window->ConversionWindow();
    QMimeData drop;
    drop.setUrls({ QUrl::fromLocalFile(QString::fromStdString(clip)) });
    ASSERT_EQ(conversions.HandleDrop(drop), 1);

    // The window learns of every step from the queue's notices, on the GUI thread.
    ASSERT_TRUE(RunEventsUntil([&] {
        const ConversionRow* row = conversions.Model()->RowAt(0);
        return row && (row->state == kConvertComplete || row->state == kConvertFailed);
    })) << ReadFileText(Path("trace"));
    const ConversionRow* row = conversions.Model()->RowAt(0);
    ASSERT_EQ(row->state, kConvertComplete);
    EXPECT_EQ(row->progress, 100);
    EXPECT_EQ(row->outputPath, folder + "/clip one-vembacast.m4v");
    EXPECT_EQ(conversions.SortModel()
                  ->index(0, CConversionModel::kColumnStatus)
                  .data()
                  .toString()
                  .toStdString(),
        Texts().Lookup("IDS_WORD_CONV_COMPLETE"));
    std::error_code error;
    EXPECT_GT(fs::file_size(row->outputPath, error), 1000u);
    EXPECT_FALSE(fs::exists(folder + "/clip one-vembacast.m4vtmp"));
    std::string probe;
    ASSERT_TRUE(
        vembatest::RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "
                + vembatest::ShellQuote(row->outputPath),
            &probe));
    EXPECT_NE(probe.find("h264"), std::string::npos) << probe;

    // A second drop of the same file does not overwrite the first output.
    ASSERT_EQ(conversions.HandleDrop(drop), 1);
    ASSERT_TRUE(RunEventsUntil([&] {
        std::vector<ConversionRow> rows = Rows();
        return rows.size() == 2 && rows[1].state != kConvertWaiting
            && rows[1].state != kConvertConverting;
    }));
    EXPECT_EQ(Rows()[1].state, kConvertComplete);
    EXPECT_TRUE(fs::exists(folder + "/clip one-vembacast (2).m4v"));
    EXPECT_NE(RowFor(Rows(), clip), nullptr);
}

// The real standalone console on loopback, with a database of its own.
class ConsoleProcess {
public:
    explicit ConsoleProcess(const std::string& folder)
        : m_process(GetProgramFolder() + "/vembacast-console",
            { "--address", "127.0.0.1", "--port", "0", "--database", folder + "/pins.sqlite" },
            folder, {})
    {
    }
    ~ConsoleProcess()
    {
        m_process.Signal(SIGTERM);
        m_process.WaitExit();
    }
    // The console's root URL, empty when it did not come up.
    std::string Root()
    {
        if (!m_process.WaitForOutput("listening on 127.0.0.1:"))
            return {};
        std::string out = m_process.Out();
        std::string root = "http://127.0.0.1:" + out.substr(out.find("127.0.0.1:") + 10);
        return root.substr(0, root.find('\n')) + "/";
    }

private:
    DaemonProcess m_process;
};

TEST_F(DesktopWiringTest, ThePinBoxRegistersAtTheConsoleWhereAPhoneFindsTheServer)
{
    std::vector<Adapter> adapters = ListAdapters();
    if (adapters.empty() || adapters.front().hardwareAddress.empty())
        GTEST_SKIP() << "no network adapter with a hardware address here";
    std::string consoleFolder = Path("console");
    fs::create_directories(consoleFolder);
    ConsoleProcess console(consoleFolder);
    std::string root = console.Root();
    ASSERT_FALSE(root.empty());
    m_data.Set(kKeyTestServerURL, root);
    auto window = OpenWindow();
    m_data.Set(kKeyInPort, "47123");
    m_data.Set(kKeyExtPort, "47123");
    ASSERT_TRUE(m_data.Get(kKeyPINCode).empty());

    CSettingDialog dialog(adapters, true, window->Remote(), m_seams, window.get());
    dialog.show();
    dialog.PinModeBox()->click();
    std::string pin = m_data.Get(kKeyPINCode);
    ASSERT_EQ(pin.size(), 8u) << "messages: " << m_messages.size();
    EXPECT_TRUE(dialog.PinModeBox()->isChecked());
    EXPECT_TRUE(dialog.PinText()->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.PinText()->text().contains(QString::fromStdString(pin)));
    EXPECT_TRUE(m_messages.empty());

    // A phone with nothing but the console's address and the code.
    vembatest::TestSettingsFolder phone;
    phone.Set(kKeyTestServerURL, root);
    std::shared_ptr<IHttpTransport> transport = MakeConsoleTransport();
    CRelayServer relay(phone.Settings(), *transport);
    ServerInfo info;
    EXPECT_EQ(ParseServerInfoAnswer(relay.GetServerInfoFromPinCode(pin, "EN"), info), "");
    EXPECT_EQ(info.port, "47123");
    EXPECT_EQ(info.ip, m_data.Get(kKeyExtIP));

    dialog.SetButton()->click();
    EXPECT_EQ(Settings().ReadInt(kKeyPINCodeMode, 0), 1);
}

TEST_F(DesktopWiringTest, AConsoleThatRefusesLeavesThePinBoxUncheckedWithItsMessage)
{
    std::vector<Adapter> adapters = ListAdapters();
    if (adapters.empty())
        GTEST_SKIP() << "no network adapter here";
    // A port nothing listens on: the registration cannot succeed.
    m_data.Set(kKeyTestServerURL, "http://127.0.0.1:" + std::to_string(PickFreePort()) + "/");
    auto window = OpenWindow();
    CSettingDialog dialog(adapters, true, window->Remote(), m_seams, window.get());
    dialog.show();
    dialog.PinModeBox()->click();
    EXPECT_FALSE(dialog.PinModeBox()->isChecked());
    EXPECT_FALSE(dialog.PinText()->isVisibleTo(&dialog));
    EXPECT_TRUE(Shown("IDS_WORD_INVAILD_SETTING"));
    EXPECT_TRUE(m_data.Get(kKeyPINCode).empty());
}

} // namespace
