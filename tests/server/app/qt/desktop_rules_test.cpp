#include "conversion/conversion_context.h"
#include "conversion_queue.h"
#include "server/platform/temp_folder.h"
#include "settings_dialog.h"
#include "shared_folder_rules.h"
#include "support/test_server.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

class SharedFolderRulesTest : public ::testing::Test {
protected:
    SharedFolderRulesTest()
    {
        fs::create_directories(m_root / "Movies");
        fs::create_directories(m_root / "Kids.2010");
        m_rows = { { "Movies", m_root / "Movies" } };
    }
    TempFolder m_root;
    std::vector<FolderListEntry> m_rows;
};

TEST_F(SharedFolderRulesTest, AMissingFolderIsRefusedAndNotCreated)
{
    FolderCheck check = CheckSharedFolder("New", m_root / "nowhere", FolderDialogMode::Add, m_rows);
    EXPECT_STREQ(check.errorKey, "IDS_ERROR_WRONG_FOLDERPATH");
    EXPECT_FALSE(fs::exists(m_root / "nowhere"));
    EXPECT_STREQ(CheckSharedFolder("New", "   ", FolderDialogMode::Add, m_rows).errorKey,
        "IDS_ERROR_WRONG_FOLDERPATH");
}

TEST_F(SharedFolderRulesTest, AnEmptyNameIsTakenFromTheFolderUpToItsLastDot)
{
    FolderCheck check = CheckSharedFolder(
        "", "  " + (m_root / "Kids.2010") + "/ ", FolderDialogMode::Add, m_rows);
    EXPECT_EQ(check.errorKey, nullptr);
    EXPECT_TRUE(check.nameFilled);
    EXPECT_EQ(check.name, "Kids");
    EXPECT_EQ(check.path, m_root / "Kids.2010/");
}

TEST_F(SharedFolderRulesTest, NamesWithForbiddenCharactersOrDotNamesAreRefused)
{
    for (const char* name :
        { "what?", "a/b", "a\\b", "x:y", "<a>", "p|q", "\"q\"", "star*", ".", ".." })
        EXPECT_STREQ(
            CheckSharedFolder(name, m_root / "Kids.2010", FolderDialogMode::Add, m_rows).errorKey,
            "IDS_ERROR_WRONG_CHARACTER")
            << name;
    EXPECT_STREQ(
        CheckSharedFolder("   ", m_root / "Kids.2010", FolderDialogMode::Add, m_rows).errorKey,
        "IDS_ERROR_FAILED_INPUT");
}

TEST_F(SharedFolderRulesTest, DuplicatesAreCaseSensitiveAndOnlyCheckedWhenAdding)
{
    EXPECT_STREQ(
        CheckSharedFolder("Movies", m_root / "Kids.2010", FolderDialogMode::Add, m_rows).errorKey,
        "IDS_ERROR_DUPLICATE_NAME");
    EXPECT_EQ(
        CheckSharedFolder("movies", m_root / "Kids.2010", FolderDialogMode::Add, m_rows).errorKey,
        nullptr);
    EXPECT_STREQ(
        CheckSharedFolder("Films", m_root / "Movies", FolderDialogMode::Add, m_rows).errorKey,
        "IDS_ERROR_DUPLICATE_FOLDER");
    EXPECT_EQ(
        CheckSharedFolder("Movies", m_root / "Kids.2010", FolderDialogMode::Edit, m_rows).errorKey,
        nullptr);
}

TEST(ServicesSubfolderTest, OnlyPlainNamesMayBeDeletedUnderTheServicesFolder)
{
    EXPECT_TRUE(IsSafeServicesSubfolder("Movies"));
    EXPECT_FALSE(IsSafeServicesSubfolder(""));
    EXPECT_FALSE(IsSafeServicesSubfolder(".."));
    EXPECT_FALSE(IsSafeServicesSubfolder("."));
    EXPECT_FALSE(IsSafeServicesSubfolder("../../home"));
}

TEST(PortFieldTest, AcceptsOnlyPortNumbers)
{
    EXPECT_EQ(ParsePortField(" 47002 "), 47002);
    EXPECT_EQ(ParsePortField("1"), 1);
    EXPECT_EQ(ParsePortField("65535"), 65535);
    for (const char* bad : { "", "0", "65536", "99999", "-1", "12a", "4 7", "\xd9\xa3" })
        EXPECT_FALSE(ParsePortField(QString::fromUtf8(bad))) << bad;
}

TEST(ConversionOutputTest, TakenNamesGetTheNextNumber)
{
    TempFolder root;
    std::string source = root / "clip.avi";
    EXPECT_EQ(ConversionOutputPath(source, {}), root / "clip-vembacast.m4v");
    WriteFileText(root / "clip-vembacast.m4v", "x");
    EXPECT_EQ(ConversionOutputPath(source, {}), root / "clip-vembacast (2).m4v");
    auto queued = [&](const std::string& name) { return name == root / "clip-vembacast (2).m4v"; };
    EXPECT_EQ(ConversionOutputPath(source, queued), root / "clip-vembacast (3).m4v");
}

TEST(DesktopJobsTest, DroppedFilesAreQueuedByTheirOwnPathWhileTheQueueTakesJobs)
{
    vembatest::TestDataFolder data;
    const std::string root = data.Root();
    WriteFileText(root + "/clip.avi", "x");
    ConversionContext server(data.Parts()); // its worker is not started: the jobs stay queued
    CConvertQueue& queue = server.ConvertQueue();
    EXPECT_FALSE(QueueLocalFile(server, root + "/missing.avi"));
    EXPECT_FALSE(QueueLocalFile(server, root));
    ASSERT_TRUE(QueueLocalFile(server, root + "/clip.avi"));
    ASSERT_TRUE(QueueLocalFile(server, root + "/clip.avi"));
    std::vector<ConvertJobPtr> jobs = queue.Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_NE(jobs[0]->strConvertID, jobs[1]->strConvertID);
    EXPECT_EQ(jobs[0]->strConvertID.size(), 32u);
    EXPECT_EQ(jobs[0]->strLocalSource, root + "/clip.avi");
    EXPECT_EQ(jobs[0]->strOutputPath, root + "/clip-vembacast.m4vtmp");
    EXPECT_EQ(jobs[1]->FinalOutputPath(), root + "/clip-vembacast (2).m4v");

    std::vector<ConversionRow> rows = ReadConversionRows(queue);
    ASSERT_EQ(rows.size(), 2u);
    CancelConversion(queue, rows[1].convertId);
    CancelConversion(queue, "unknown");
    EXPECT_EQ(jobs[0]->nState, kConvertWaiting);
    EXPECT_EQ(jobs[1]->nState, kConvertRemoved);

    queue.Stop(); // the program ends: nothing more is taken
    EXPECT_FALSE(QueueLocalFile(server, root + "/clip.avi"));
    EXPECT_TRUE(queue.Jobs().empty());
}
