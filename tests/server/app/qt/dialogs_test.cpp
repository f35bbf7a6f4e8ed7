#include "desktop_fixture.h"
#include "password_dialog.h"
#include "select_nic_dialog.h"
#include "set_path_dialog.h"
#include "settings_check.h"

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

namespace fs = std::filesystem;

class PasswordDialogTest : public DesktopTest {
protected:
    PasswordDialogTest() { m_dialog.show(); }
    CSetPasswordDialog m_dialog { QString(), Texts(), m_seams, nullptr };
};

TEST_F(PasswordDialogTest, ALetterIsRefusedWithTheFormatMessage)
{
    QTest::keyClicks(m_dialog.Field(), "1a2");
    EXPECT_EQ(m_dialog.Field()->text(), "12");
    EXPECT_TRUE(Shown("IDS_WORD_PASSWORD_FORMAT_INFO"));
}

TEST_F(PasswordDialogTest, FiveDigitsLeaveTheFirstFour)
{
    QTest::keyClicks(m_dialog.Field(), "12345");
    EXPECT_EQ(m_dialog.Field()->text(), "1234");
    EXPECT_TRUE(Shown("IDS_WORD_PASSWORD_FORMAT_INFO"));
}

TEST_F(PasswordDialogTest, EnterShowsTheFormatMessageInsteadOfConfirming)
{
    QTest::keyClicks(m_dialog.Field(), "12");
    QTest::keyClick(m_dialog.Field(), Qt::Key_Return);
    EXPECT_TRUE(m_dialog.isVisible());
    EXPECT_TRUE(Shown("IDS_WORD_PASSWORD_FORMAT_INFO"));
    QTest::keyClick(m_dialog.Field(), Qt::Key_Escape);
    EXPECT_TRUE(m_dialog.isVisible());
}

TEST_F(PasswordDialogTest, PastingDigitsAndLettersEmptiesTheField)
{
    QApplication::clipboard()->setText("12ab");
    m_dialog.Field()->paste();
    EXPECT_EQ(m_dialog.Field()->text(), "");
    EXPECT_TRUE(Shown("IDS_WORD_PASSWORD_FORMAT_INFO"));
}

TEST_F(PasswordDialogTest, AnEmptyPasswordIsNotSet)
{
    m_dialog.SetButton()->click();
    EXPECT_TRUE(Shown("IDS_WORD_PASSWORD_FORMAT_INFO2"));
    EXPECT_EQ(m_dialog.result(), QDialog::Rejected);
    QTest::keyClicks(m_dialog.Field(), "7");
    m_dialog.SetButton()->click();
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_dialog.Password(), "7");
}

class FolderDialogTest : public DesktopTest {
protected:
    FolderDialogTest() { fs::create_directories(Path("Kids.2010")); }
    int Submit(FolderDialogMode mode, const std::string& path, const std::string& name)
    {
        CSetPathDlg dialog(mode, { { "Movies", Path("media") } }, Texts(), m_seams, nullptr);
        dialog.show();
        QTest::keyClicks(dialog.PathField(), QString::fromStdString(path));
        QTest::keyClicks(dialog.NameField(), QString::fromStdString(name));
        dialog.OkButton()->click();
        m_name = dialog.DisplayName().toStdString();
        return dialog.result();
    }
    std::string m_name;
};

TEST_F(FolderDialogTest, EachRuleShowsItsMessageAndKeepsTheDialogOpen)
{
    EXPECT_EQ(Submit(FolderDialogMode::Add, Path("missing"), "X"), QDialog::Rejected);
    EXPECT_TRUE(Shown("IDS_ERROR_WRONG_FOLDERPATH"));
    EXPECT_EQ(Submit(FolderDialogMode::Add, Path("Kids.2010"), "Why?"), QDialog::Rejected);
    EXPECT_TRUE(Shown("IDS_ERROR_WRONG_CHARACTER"));
    EXPECT_EQ(Submit(FolderDialogMode::Add, Path("Kids.2010"), "Movies"), QDialog::Rejected);
    EXPECT_TRUE(Shown("IDS_ERROR_DUPLICATE_NAME"));
    EXPECT_EQ(Submit(FolderDialogMode::Edit, Path("Kids.2010"), "Movies"), QDialog::Accepted);
    EXPECT_EQ(Submit(FolderDialogMode::Add, Path("Kids.2010"), ""), QDialog::Accepted);
    EXPECT_EQ(m_name, "Kids");
}

TEST_F(FolderDialogTest, BrowseFillsThePathAndTheName)
{
    m_seams.chooseFolder
        = [this](QWidget*, const QString&) { return QString::fromStdString(Path("Kids.2010")); };
    CSetPathDlg dialog(FolderDialogMode::Add, {}, Texts(), m_seams, nullptr);
    dialog.BrowseButton()->click();
    EXPECT_EQ(dialog.FolderPath().toStdString(), Path("Kids.2010"));
    EXPECT_EQ(dialog.DisplayName(), "Kids.2010");
}

TEST_F(DesktopTest, AdapterChoiceListsAddressAndNameAndPresetsTheChosenOne)
{
    std::vector<Adapter> adapters { { "192.168.0.2", "eth0", "AA:BB:CC:DD:EE:01" },
        { "10.0.0.5", "wlan0", "AA:BB:CC:DD:EE:02" } };
    CSelectNICDlg dialog(adapters, 1, Texts(), nullptr);
    ASSERT_EQ(dialog.List()->count(), 2);
    EXPECT_EQ(dialog.List()->itemText(0), "192.168.0.2 : eth0");
    EXPECT_EQ(dialog.Selected(), 1);
}

// The desktop program before it makes its server: a damaged settings file is told in
// a message box; without a good copy the box offers fresh settings.
TEST_F(DesktopTest, ADamagedSettingsFileIsToldAndFreshSettingsAreOnlyTakenWhenAccepted)
{
    Settings().WriteTexts({ { "RequirePassword", "1" }, { kKeyPassword, "1234" } });
    const std::string file = Settings().SettingsFilePath();
    const std::string whole = ReadFileText(file);
    const std::string cut = whole.substr(0, whole.find("RequirePassword"));
    std::filesystem::remove(file + ".bak");
    WriteFileText(file, cut);
    const std::string resources = m_data.Parts().places.resourceFolder;

    m_messageAnswer = veneta::kButtonNo;
    {
        SettingsStore store(m_data.DataFolder());
        TextTable texts(resources, &store);
        EXPECT_FALSE(ConfirmSettingsFiles(store, texts, m_seams));
    }
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find(file), std::string::npos) << m_messages[0];
    EXPECT_EQ(ReadFileText(file), cut) << "declined: left for the next start to meet";

    m_messageAnswer = veneta::kButtonYes;
    SettingsStore store(m_data.DataFolder());
    TextTable texts(resources, &store);
    EXPECT_TRUE(ConfirmSettingsFiles(store, texts, m_seams));
    EXPECT_EQ(m_messages.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(store.WriteInt(kKeySet, 1)) << "fresh settings are written again";

    // A damaged file with a good copy beside it: told once, and the copy is used.
    WriteFileText(file + ".bak", whole);
    WriteFileText(file, cut);
    SettingsStore restored(m_data.DataFolder());
    TextTable restoredTexts(resources, &restored);
    EXPECT_TRUE(ConfirmSettingsFiles(restored, restoredTexts, m_seams));
    ASSERT_EQ(m_messages.size(), 3u);
    EXPECT_NE(m_messages[2].find("set aside"), std::string::npos) << m_messages[2];
    EXPECT_EQ(restored.ReadInt("RequirePassword", 0), 1);
}
