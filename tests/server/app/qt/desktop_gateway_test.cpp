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
