// The settings dialog's mapping box over the real mapping worker and gateway library,
// in a network namespace of its own (this program only): with no gateway the
// mapping fails with code 7, the main window says so and the box is unchecked.

#include "app_messages.h"
#include "desktop_fixture.h"
#include "main_window.h"
#include "settings_dialog.h"
#include "skin/qt/progress_box.h"
#include "support/upnp_gateway.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

class DesktopGatewayTest : public DesktopTest {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0 || !vembatest::RunCommand("command -v ip"))
            GTEST_SKIP() << "needs root and the ip command for a network namespace";
        std::string error;
        ASSERT_TRUE(vembatest::UpnpGateway::EnterPrivateNetwork(error)) << error;
    }
};

TEST_F(DesktopGatewayTest, WithoutAGatewayTheMappingBoxIsUncheckedWithTheMainWindowsMessage)
{
    CVembaCastDlg window(Server(), m_seams);
    Settings().WriteTexts({ { kKeyInPort, "47002" }, { kKeyExtPort, "47002" },
        { kKeyInIP, "127.0.0.1" }, { kKeyAutoPortMapMode, "0" } });
    std::vector<Adapter> adapters { { "127.0.0.1", "lo", "" } };
    CSettingDialog dialog(adapters, false, window.Remote(), m_seams, &window);
    dialog.show();

    dialog.AutoMapBox()->click();
    ASSERT_TRUE(dialog.AutoMapBox()->isChecked()); // until the worker answers
    ASSERT_TRUE(RunEventsUntil([&] { return Shown("IDS_WORD_NO_UPNPDEVICE"); }));
    ASSERT_TRUE(RunEventsUntil([&] { return !dialog.AutoMapBox()->isChecked(); }));
    EXPECT_EQ(m_messages.size(), 1u) << "code 7 is shown once, by the main window";

    // Close puts the mode back as it was; no mapping was left behind to remove.
    dialog.CloseButton()->click();
    window.Remote().WaitForMapping();
    EXPECT_EQ(Settings().ReadInt(kKeyAutoPortMapMode, 0), 0);
}

} // namespace

namespace {

// A real miniupnpd gateway in a namespace of its own, reached from the test's.
class DesktopBehindGateway : public DesktopTest {
protected:
    void SetUp() override
    {
        std::string why = vembatest::UpnpGateway::WhyUnavailable();
        if (!why.empty())
            GTEST_SKIP() << "real UPnP gateway test skipped: " << why;
        std::string error;
        ASSERT_TRUE(vembatest::UpnpGateway::EnterPrivateNetwork(error)) << error;
        ASSERT_TRUE(m_gateway.BuildNetwork(error)) << error;
        ASSERT_TRUE(m_gateway.StartDaemon(error)) << error;
    }
    vembatest::UpnpGateway m_gateway;
};

// The stored external address is still the adapter's own (as the defaults leave it
// before the console answers): the box maps anyway, since a gateway answers. A port
// changed in the dialog with mapping on takes the mapping along.
TEST_F(DesktopBehindGateway, TheBoxMapsWhenAGatewayAnswersAndANewPortMovesTheMapping)
{
    CVembaCastDlg window(Server(), m_seams);
    Settings().WriteTexts({ { kKeyInPort, "47002" }, { kKeyExtPort, "47002" },
        { kKeyInIP, vembatest::kTestLanAddress }, { kKeyExtIP, vembatest::kTestLanAddress },
        { kKeyAutoPortMapMode, "0" } });
    std::vector<Adapter> adapters { { vembatest::kTestLanAddress, "vemba-lan", "" } };
    CSettingDialog dialog(adapters, false, window.Remote(), m_seams, &window);
    dialog.show();

    dialog.AutoMapBox()->click();
    window.Remote().WaitForMapping();
    ASSERT_TRUE(
        RunEventsUntil([&] { return !dialog.findChild<veneta::CPXProgressBox*>()->isVisible(); }));
    EXPECT_TRUE(dialog.AutoMapBox()->isChecked());
    EXPECT_FALSE(Shown("IDS_WORD_NO_UPNPDEVICE"));
    EXPECT_NE(m_gateway.Listing().find("TCP 47002->192.168.77.2:47002"), std::string::npos)
        << m_gateway.Listing();

    dialog.PortField()->selectAll();
    QTest::keyClicks(dialog.PortField(), "47010");
    dialog.SetButton()->click();
    window.Remote().WaitForMapping();
    const std::string listing = m_gateway.Listing();
    EXPECT_NE(listing.find("TCP 47010->192.168.77.2:47010"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("47002->"), std::string::npos) << listing;
    EXPECT_EQ(Settings().ReadText(kKeyExtPort), "47010");
    EXPECT_EQ(Settings().ReadInt(kKeyAutoPortMapMode, 0), 1);
}

} // namespace
