#include "desktop_fixture.h"
#include "password_dialog.h"
#include "select_nic_dialog.h"
#include "set_path_dialog.h"

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
