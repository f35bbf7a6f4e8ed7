#include "config/settings.h"
#include "config/settings_file.h"
#include "config/settings_store.h"
#include "platform/ini_file.h"
#include "server/platform/temp_folder.h"
#include "server/platform/text_shape.h"
#include "support/test_server.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

class SettingsStoreTest : public ::testing::Test {
protected:
    TempFolder m_data;
    SettingsStore m_store { m_data.path() };

    std::string settingsFile() const { return m_data / "VembaCast.ini"; }
    std::string folderFile() const { return m_data / "VembaCastFolder.ini"; }

    // How another program replaces a file: a temporary beside it, then rename.
    void replaceOnDisk(const std::string& path, const std::string& text) const
    {
        WriteFileText(path + ".other", text);
        ASSERT_EQ(std::rename((path + ".other").c_str(), path.c_str()), 0);
    }
};

TEST_F(SettingsStoreTest, MissingFileReadsAsZeroAndEmptyWhateverTheDefault)
{
    EXPECT_EQ(m_store.ReadInt(kKeyMaxLiveClient, kDefaultMaxLiveClient), 0);
    EXPECT_EQ(m_store.ReadText(kKeyGeneralLanguage, kDefaultGeneralLanguage), "");
    EXPECT_TRUE(m_store.LoadFolderList().empty());
    EXPECT_FALSE(m_store.Current()->SettingsFileExists());
}

TEST_F(SettingsStoreTest, MissingKeyReadsAsTheDefault)
{
    WriteFileText(settingsFile(), "[Setting]\nSET=1\n");
    EXPECT_EQ(m_store.ReadInt(kKeyMaxLiveClient, kDefaultMaxLiveClient), 4);
    EXPECT_EQ(m_store.ReadText(kKeyGeneralLanguage, kDefaultGeneralLanguage), "kor");
    EXPECT_EQ(m_store.ReadText(kKeyPassword), "");
    EXPECT_EQ(m_store.ReadInt(kKeySet, 0), 1);
}

TEST_F(SettingsStoreTest, IntegersReadTheirLeadingDigits)
{
    WriteFileText(settingsFile(),
        "[Setting]\na=12abc\nb=-5\nc=abc\nd=\ne= 7 \nf=99999999999\n[Subtitle]\nSize=18\n");
    EXPECT_EQ(m_store.ReadInt("a", 3), 12);
    EXPECT_EQ(m_store.ReadInt("b", 3), -5);
    EXPECT_EQ(m_store.ReadInt("c", 3), 0);
    EXPECT_EQ(m_store.ReadInt("d", 3), 3);
    EXPECT_EQ(m_store.ReadInt("e", 3), 7);
    EXPECT_EQ(m_store.ReadInt("f", 3), 2147483647);
    EXPECT_EQ(m_store.ReadInt("Size", 0, kSubtitleSection), 18);
}

TEST_F(SettingsStoreTest, LongTextsAreCutAt259Characters)
{
    std::string latin(300, 'x');
    std::string korean;
    for (int i = 0; i < 300; ++i)
        korean += "\xED\x95\x9C"; // one Hangul syllable, three bytes
    ASSERT_TRUE(m_store.WriteText("Latin", latin));
    ASSERT_TRUE(m_store.WriteText("Korean", korean));
    EXPECT_EQ(m_store.ReadText("Latin"), latin.substr(0, 259));
    EXPECT_EQ(m_store.ReadText("Korean"), korean.substr(0, 259 * 3));
    EXPECT_EQ(m_store.ReadText("Missing", latin), latin.substr(0, 259));
    EXPECT_EQ(m_store.Current()->Value(kSettingSection, "Latin"), latin) << "stored uncut";
}

TEST_F(SettingsStoreTest, WriteIntWritesUnsignedDecimalUnderSetting)
{
    ASSERT_TRUE(m_store.WriteInt(kKeyAutoStart, 1));
    EXPECT_EQ(ReadFileText(settingsFile()),
        std::string(kSealedFileFirstLine) + "\n[Setting]\nAutoStart=1\n[End]\nComplete=1\n");
    ASSERT_TRUE(m_store.WriteInt(kKeyAutoStart, 4294967295u));
    EXPECT_EQ(ini::ReadValue(settingsFile(), "Setting", "AutoStart"), "4294967295");
    ASSERT_TRUE(m_store.WriteText(kKeyInPort, "47002"));
    EXPECT_EQ(m_store.ReadText(kKeyInPort), "47002");
    EXPECT_EQ(m_store.ReadInt(kKeyInPort, 0), 47002);
}

TEST_F(SettingsStoreTest, SectionsHoldKeysOfTheirOwn)
{
    ASSERT_TRUE(m_store.WriteTexts({ { kKeyPCName, "den" }, { kKeyPassword, "pw" } }));
    ASSERT_TRUE(m_store.WriteText(kKeyDebugID, "job", kDebugSection));
    EXPECT_EQ(m_store.ReadText(kKeyDebugID, "", kDebugSection), "job");
    EXPECT_EQ(m_store.ReadText(kKeyDebugID), "") << "another section is another key";
    ASSERT_TRUE(m_store.WriteInt(kKeyPCName, 3, kDebugSection));
    EXPECT_EQ(m_store.ReadInt(kKeyPCName, 0, kDebugSection), 3);
    EXPECT_EQ(m_store.ReadText(kKeyPCName), "den") << "a write to another section changed this";
    EXPECT_EQ(m_store.ReadText(kKeyPassword), "pw");
    EXPECT_FALSE(m_store.WriteText("a=b", "1")) << "a key the file cannot hold";
    EXPECT_EQ(m_store.ReadText("a"), "");
}

TEST_F(SettingsStoreTest, WritesFailWithoutTheDataFolder)
{
    SettingsStore gone(m_data / "not-made");
    EXPECT_FALSE(gone.WriteInt(kKeySet, 1));
    EXPECT_FALSE(gone.WriteText(kKeyPCName, "pc"));
    EXPECT_FALSE(gone.SaveFolderList({ { "A", "/a" } }));
    EXPECT_FALSE(std::filesystem::exists(m_data / "not-made"));
    EXPECT_EQ(gone.ReadInt(kKeySet, 1), 0);

    SettingsStore none("");
    EXPECT_EQ(none.SettingsFilePath(), "");
    EXPECT_FALSE(none.WriteText(kKeyPCName, "pc"));
    EXPECT_EQ(none.ReadText(kKeyPCName, "d"), "");
}

TEST_F(SettingsStoreTest, FolderListStopsAtTheFirstGap)
{
    WriteFileText(folderFile(), "[Folder]\npath0=Movies|/media/movies\npath2=Lost|/media/lost\n");
    auto entries = m_store.LoadFolderList();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].displayName, "Movies");
    EXPECT_EQ(entries[0].path, "/media/movies");
    WriteFileText(folderFile(), "[Folder]\npath0=A|/a\npath1=\npath2=C|/c\n");
    EXPECT_EQ(m_store.LoadFolderList().size(), 1u);
    std::filesystem::remove(folderFile());
    EXPECT_TRUE(m_store.LoadFolderList().empty());
}

TEST_F(SettingsStoreTest, SavingTheFolderListRemovesKeysOfRemovedEntries)
{
    ASSERT_TRUE(m_store.SaveFolderList({ { "A", "/a" }, { "B", "/b" }, { "C", "/c" } }));
    ASSERT_TRUE(m_store.SaveFolderList({ { "A", "/a" }, { "C", "/c" } }));
    EXPECT_EQ(ReadFileText(folderFile()),
        std::string(kSealedFileFirstLine)
            + "\n[Folder]\npath0=A|/a\npath1=C|/c\n[End]\nComplete=1\n");
    auto entries = m_store.LoadFolderList();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].displayName, "C");
    EXPECT_EQ(entries[1].path, "/c");
    EXPECT_FALSE(std::filesystem::exists(settingsFile())) << "the list has a file of its own";
}

TEST_F(SettingsStoreTest, FolderListKeepsLongPathsAndSplitsAtTheFirstBar)
{
    std::string longPath = "/media/" + std::string(400, 'p');
    ASSERT_TRUE(m_store.SaveFolderList({ { "Bar|Name", "/x" }, { "Long", longPath } }));
    auto entries = m_store.LoadFolderList();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].displayName, "Bar");
    EXPECT_EQ(entries[0].path, "Name|/x");
    EXPECT_EQ(entries[1].path, longPath);
}

// Another program (an editor, the desktop application) changes the files while the
// server runs: the next read sees it, and the next write keeps it.
TEST_F(SettingsStoreTest, AChangeOnDiskIsSeenAtTheNextReadAndKeptByTheNextWrite)
{
    ASSERT_TRUE(m_store.WriteText(kKeyPCName, "den"));
    EXPECT_EQ(m_store.ReadText(kKeyPCName), "den");
    replaceOnDisk(settingsFile(), "[Setting]\nPCName=hall\nInPort=47010\n");
    EXPECT_EQ(m_store.ReadText(kKeyPCName), "hall");
    WriteFileText(settingsFile(), "[Setting]\nPCName=kitchen\nInPort=47010\n"); // in place
    EXPECT_EQ(m_store.ReadText(kKeyPCName), "kitchen");

    WriteFileText(settingsFile(), "[Setting]\nPCName=attic\nInPort=47011\nExtra=1\n");
    ASSERT_TRUE(m_store.WriteText(kKeyPassword, "pw")); // no read in between
    EXPECT_EQ(ini::ReadValue(settingsFile(), "Setting", "Extra"), "1");
    EXPECT_EQ(ini::ReadValue(settingsFile(), "Setting", kKeyPCName), "attic");
    EXPECT_EQ(m_store.ReadInt(kKeyInPort, 0), 47011);

    replaceOnDisk(folderFile(), "[Folder]\npath0=Movies|/m\n");
    ASSERT_EQ(m_store.LoadFolderList().size(), 1u);
    std::filesystem::remove(settingsFile());
    EXPECT_EQ(m_store.ReadText(kKeyPCName, "d"), "") << "a removed file reads as missing";
    EXPECT_EQ(m_store.LoadFolderList().size(), 1u);
}

// Two servers in one process, each over its own data folder.
TEST(SettingsStores, TwoServersOnTwoDataFoldersDoNotSeeEachOther)
{
    vembatest::TestDataFolder first("vembasettings");
    vembatest::TestDataFolder second("vembasettings");
    ServerParts a = first.Parts();
    ServerParts b = second.Parts();
    ASSERT_NE(a.places.dataFolder, b.places.dataFolder);
    ASSERT_TRUE(a.settings->WriteText(kKeyPCName, "den"));
    ASSERT_TRUE(a.settings->SaveFolderList({ { "Movies", "/m" } }));
    ASSERT_TRUE(b.settings->WriteInt(kKeyMaxLiveClient, 2));
    EXPECT_EQ(b.settings->ReadText(kKeyPCName, "none"), "none");
    EXPECT_TRUE(b.settings->LoadFolderList().empty());
    EXPECT_EQ(a.settings->ReadInt(kKeyMaxLiveClient, 4), 4);
    EXPECT_EQ(a.settings->SettingsFilePath(), first.DataFolder() + "/VembaCast.ini");
    EXPECT_EQ(b.settings->SettingsFilePath(), second.DataFolder() + "/VembaCast.ini");
}

TEST_F(SettingsStoreTest, ConcurrentWritersLoseNoKey)
{
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                m_store.WriteText("k" + std::to_string(t * 100 + i), std::to_string(i));
                if (t == 0)
                    m_store.SaveFolderList({ { "F" + std::to_string(i), "/f" } });
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    SettingsStore fresh(m_data.path()); // what the files hold, not the snapshot
    for (SettingsStore* store : { &m_store, &fresh }) {
        for (int t = 0; t < 4; ++t) {
            for (int i = 0; i < 25; ++i)
                EXPECT_EQ(store->ReadInt("k" + std::to_string(t * 100 + i), -1), i);
        }
        ASSERT_EQ(store->LoadFolderList().size(), 1u);
        EXPECT_EQ(store->LoadFolderList()[0].displayName, "F24");
    }
}

TEST_F(SettingsStoreTest, ListenersHearWritesAndChangesOnDisk)
{
    std::mutex lock;
    std::vector<std::string> heard; // PCName as each change left it
    int subscription = m_store.Subscribe([&](const SettingsSnapshot& snapshot) {
        std::lock_guard hold(lock);
        heard.push_back(snapshot.Text(kKeyPCName));
    });
    ASSERT_TRUE(m_store.WriteText(kKeyPCName, "den"));
    replaceOnDisk(settingsFile(), "[Setting]\nPCName=hall\n");
    EXPECT_EQ(m_store.ReadText(kKeyPCName), "hall");
    EXPECT_EQ(m_store.ReadText(kKeyPCName), "hall"); // nothing changed: nothing heard
    {
        std::lock_guard hold(lock);
        EXPECT_EQ(heard, (std::vector<std::string> { "den", "hall" }));
    }
    m_store.Unsubscribe(subscription);
    ASSERT_TRUE(m_store.WriteText(kKeyPCName, "attic"));
    std::lock_guard hold(lock);
    EXPECT_EQ(heard.size(), 2u) << "heard after unsubscribing";
}

TEST(Settings, VersionTextIsDottedNumbers)
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
