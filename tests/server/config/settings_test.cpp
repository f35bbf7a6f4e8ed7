#include "config/settings.h"
#include "platform/ini_file.h"
#include "server/platform/temp_folder.h"
#include "server/platform/text_shape.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

class SettingsStore : public ::testing::Test {
protected:
    TempFolder m_data;
    ScopedEnv m_dataEnv { "VEMBACAST_DATA_DIR", m_data.path() };

    std::string settingsFile() const { return m_data / "VembaCast.ini"; }
    std::string folderFile() const { return m_data / "VembaCastFolder.ini"; }
};

TEST_F(SettingsStore, MissingFileReadsAsZeroAndEmptyWhateverTheDefault)
{
    EXPECT_EQ(GetSettingInt("Setting", kKeyMaxLiveClient, kDefaultMaxLiveClient), 0);
    EXPECT_EQ(GetSettingString(kKeyGeneralLanguage, kDefaultGeneralLanguage), "");
    EXPECT_EQ(GetSettingString("path0", "x", kFolderSection, kFolderListFileName), "");
}

TEST_F(SettingsStore, MissingKeyReadsAsTheDefault)
{
    WriteFileText(settingsFile(), "[Setting]\nSET=1\n");
    EXPECT_EQ(GetSettingInt("Setting", kKeyMaxLiveClient, kDefaultMaxLiveClient), 4);
    EXPECT_EQ(GetSettingString(kKeyGeneralLanguage, kDefaultGeneralLanguage), "kor");
    EXPECT_EQ(GetSettingString(kKeyPassword), "");
    EXPECT_EQ(GetSettingInt("Setting", kKeySet, 0), 1);
}

TEST_F(SettingsStore, IntegersReadTheirLeadingDigits)
{
    WriteFileText(settingsFile(),
        "[Setting]\na=12abc\nb=-5\nc=abc\nd=\ne= 7 \nf=99999999999\n[Subtitle]\nSize=18\n");
    EXPECT_EQ(GetSettingInt("Setting", "a", 3), 12);
    EXPECT_EQ(GetSettingInt("Setting", "b", 3), -5);
    EXPECT_EQ(GetSettingInt("Setting", "c", 3), 0);
    EXPECT_EQ(GetSettingInt("Setting", "d", 3), 3);
    EXPECT_EQ(GetSettingInt("Setting", "e", 3), 7);
    EXPECT_EQ(GetSettingInt("Setting", "f", 3), 2147483647);
    EXPECT_EQ(GetSettingInt("Subtitle", "Size", 0), 18);
}

TEST_F(SettingsStore, LongTextsAreCutAt259Characters)
{
    std::string latin(300, 'x');
    std::string korean;
    for (int i = 0; i < 300; ++i)
        korean += "\xED\x95\x9C"; // one Hangul syllable, three bytes
    ASSERT_TRUE(SetSettingString("", "Setting", "Latin", latin));
    ASSERT_TRUE(SetSettingString("", "Setting", "Korean", korean));
    EXPECT_EQ(GetSettingString("Latin"), latin.substr(0, 259));
    EXPECT_EQ(GetSettingString("Korean"), korean.substr(0, 259 * 3));
    EXPECT_EQ(GetSettingString("Missing", latin), latin.substr(0, 259));
}

TEST_F(SettingsStore, SetSettingIntWritesUnsignedDecimalUnderSetting)
{
    ASSERT_TRUE(SetSettingInt(kKeyAutoStart, 1));
    EXPECT_EQ(ReadFileText(settingsFile()), "[Setting]\nAutoStart=1\n");
    ASSERT_TRUE(SetSettingInt(kKeyAutoStart, 4294967295u));
    EXPECT_EQ(ini::ReadValue(settingsFile(), "Setting", "AutoStart"), "4294967295");
    ASSERT_TRUE(SetSettingString("", "Setting", kKeyInPort, "47002"));
    EXPECT_EQ(GetSettingString(kKeyInPort), "47002");
    EXPECT_EQ(GetSettingInt("Setting", kKeyInPort, 0), 47002);
}

TEST_F(SettingsStore, WritesFailWithoutTheDataFolder)
{
    ScopedEnv gone("VEMBACAST_DATA_DIR", m_data / "not-made");
    EXPECT_FALSE(SetSettingInt(kKeySet, 1));
    EXPECT_FALSE(SetSettingString("", "Setting", kKeyPCName, "pc"));
    EXPECT_FALSE(std::filesystem::exists(m_data / "not-made"));
}

TEST_F(SettingsStore, FileNamesCannotLeaveTheDataFolder)
{
    EXPECT_FALSE(SetSettingString("../escape.ini", "S", "k", "v"));
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::path(m_data.path()).parent_path() / "escape.ini"));
    EXPECT_EQ(GetSettingString("k", "d", "S", "../escape.ini"), "");
}

TEST_F(SettingsStore, DamagedSettingsFileReadsAsWhatItCan)
{
    WriteFileText(settingsFile(),
        "\x01\x02garbage\n[Setting\n[Setting]\nPCName=caf\xE9\n\0\0\nInPort=47010"s);
    EXPECT_EQ(GetSettingString(kKeyPCName), "caf\xEF\xBF\xBD");
    EXPECT_EQ(GetSettingString(kKeyInPort), "47010");
    EXPECT_EQ(GetSettingInt("Setting", kKeyInPort, 0), 47010);
}

TEST_F(SettingsStore, FolderListStopsAtTheFirstGap)
{
    WriteFileText(folderFile(), "[Folder]\npath0=Movies|/media/movies\npath2=Lost|/media/lost\n");
    auto entries = LoadFolderListFile();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].displayName, "Movies");
    EXPECT_EQ(entries[0].path, "/media/movies");
    WriteFileText(folderFile(), "[Folder]\npath0=A|/a\npath1=\npath2=C|/c\n");
    EXPECT_EQ(LoadFolderListFile().size(), 1u);
    std::filesystem::remove(folderFile());
    EXPECT_TRUE(LoadFolderListFile().empty());
}

TEST_F(SettingsStore, SavingTheFolderListRemovesKeysOfRemovedEntries)
{
    ASSERT_TRUE(SaveFolderListFile({ { "A", "/a" }, { "B", "/b" }, { "C", "/c" } }));
    ASSERT_TRUE(SaveFolderListFile({ { "A", "/a" }, { "C", "/c" } }));
    EXPECT_EQ(ReadFileText(folderFile()), "[Folder]\npath0=A|/a\npath1=C|/c\n");
    auto entries = LoadFolderListFile();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].displayName, "C");
    EXPECT_EQ(entries[1].path, "/c");
}

TEST_F(SettingsStore, FolderListKeepsLongPathsAndSplitsAtTheFirstBar)
{
    std::string longPath = "/media/" + std::string(400, 'p');
    ASSERT_TRUE(SaveFolderListFile({ { "Bar|Name", "/x" }, { "Long", longPath } }));
    auto entries = LoadFolderListFile();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].displayName, "Bar");
    EXPECT_EQ(entries[0].path, "Name|/x");
    EXPECT_EQ(entries[1].path, longPath);
}

TEST_F(SettingsStore, VersionTextIsDottedNumbers)
{
    EXPECT_TRUE(IsDottedNumbers(GetFileVersionText(), 1, 4, 5)) << GetFileVersionText();
}

class StartupShortcutTest : public ::testing::Test {
protected:
    TempFolder m_config;
    ScopedEnv m_configEnv { "XDG_CONFIG_HOME", m_config.path() };
    std::string shortcut() const { return m_config / "autostart/Vemba Cast.desktop"; }
};

TEST_F(StartupShortcutTest, OnWritesAnAutostartEntryForThisProgram)
{
    SetStartupShortcut(StartupShortcut::On);
    std::string entry = ReadFileText(shortcut());
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof(exe) - 1), 0);
    EXPECT_NE(entry.find("Exec=\"" + std::string(exe) + "\"\n"), std::string::npos) << entry;
    SetStartupShortcut(StartupShortcut::On); // replaces, does not fail
    EXPECT_EQ(ReadFileText(shortcut()), entry);
}

TEST_F(StartupShortcutTest, OffRemovesOnlyTheEntry)
{
    SetStartupShortcut(StartupShortcut::On);
    WriteFileText(m_config / "autostart/other.desktop", "[Desktop Entry]\n");
    SetStartupShortcut(StartupShortcut::Off);
    EXPECT_FALSE(std::filesystem::exists(shortcut()));
    EXPECT_TRUE(std::filesystem::exists(m_config / "autostart/other.desktop"));
}

TEST_F(StartupShortcutTest, OffWithoutAnEntryLeavesTheFolderAlone)
{
    SetStartupShortcut(StartupShortcut::Off);
    EXPECT_FALSE(std::filesystem::exists(m_config / "autostart"));
}

TEST_F(SettingsStore, KeyFirstFunctionsReadAndWriteWhereTheEarlierFormsDo)
{
    EXPECT_TRUE(WriteSettingInt(kKeyMaxLiveClient, 7));
    EXPECT_TRUE(WriteSettingText(kKeyPCName, "den"));
    EXPECT_TRUE(WriteSettingText(kKeyDebugID, "job", kDebugSection));
    EXPECT_TRUE(WriteSettingText("path0", "Movies|/m", kFolderSection, kFolderListFileName));
    // Each written value is seen by both forms, wherever it lives.
    EXPECT_EQ(ReadSettingInt(kKeyMaxLiveClient, 4), 7);
    EXPECT_EQ(GetSettingInt(kSettingSection, kKeyMaxLiveClient, 4), 7);
    EXPECT_EQ(ReadSettingText(kKeyPCName), "den");
    EXPECT_EQ(ReadSettingText(kKeyDebugID, "", kDebugSection), "job");
    EXPECT_EQ(ReadSettingText(kKeyDebugID), "") << "another section is another key";
    EXPECT_EQ(ReadSettingText("path0", "", kFolderSection, kFolderListFileName), "Movies|/m");
    EXPECT_EQ(ReadSettingInt(kKeyPINCodeMode, kDefaultPINCodeMode), 0);
    EXPECT_EQ(ReadSettingInt(kKeyFixedBandwidth, kDefaultFixedBandwidth), 1);
    // The earlier forms write where the new ones read.
    EXPECT_TRUE(SetSettingString("", kSettingSection, kKeyPassword, "pw"));
    EXPECT_TRUE(SetSettingInt(kKeyPasswordMode, 1));
    EXPECT_EQ(ReadSettingText(kKeyPassword), "pw");
    EXPECT_EQ(ReadSettingInt(kKeyPasswordMode, 0), 1);
    EXPECT_TRUE(WriteSettingInt(kKeyDebugID, 3, kDebugSection));
    EXPECT_EQ(ReadSettingInt(kKeyDebugID, 0, kDebugSection), 3);
    EXPECT_EQ(ReadSettingText(kKeyPCName), "den") << "a write to another section changed this";
}

TEST(PathFunctions, SplitAtTheLastSlashAndDot)
{
    EXPECT_EQ(GetFileNameOf("/media/a.b/movie.mkv"), "movie.mkv");
    EXPECT_EQ(GetFileNameOf("movie.mkv"), "movie.mkv");
    EXPECT_EQ(GetFolderOf("/media/a.b/movie.mkv"), "/media/a.b");
    EXPECT_EQ(GetFolderOf("movie.mkv"), "");
    EXPECT_EQ(GetFileTitleOf("/media/a.b/movie.x.mkv"), "movie.x");
    EXPECT_EQ(GetFileTitleOf("/media/a.b/README"), "README");
    EXPECT_EQ(GetExtensionOf("/media/movie.MKV"), "MKV");
    EXPECT_EQ(GetExtensionOf("noext"), "");
}

TEST(PathFunctions, FoldersAreMadeAndDeletedWhole)
{
    TempFolder root;
    std::string deep = root / "a/b/c";
    EXPECT_FALSE(EnsureFolder(deep, CreateIfMissing::No));
    EXPECT_TRUE(EnsureFolder(deep, CreateIfMissing::Yes));
    EXPECT_TRUE(FileExists(deep));
    EXPECT_TRUE(EnsureFolder(deep, CreateIfMissing::No)) << "an empty folder exists";
    WriteFileText(deep + "/f.ts", "x");
    EXPECT_TRUE(DeleteFolderTree(root / "a"));
    EXPECT_FALSE(FileExists(root / "a"));
    EXPECT_FALSE(DeleteFolderTree(root / "a"));
}

} // namespace
