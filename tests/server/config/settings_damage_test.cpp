// Settings files that do not read back whole: cut short, random bytes, damaged while
// the server runs. They are never taken as fewer settings; the last good copy takes
// their place, and without one the store refuses them until the user starts fresh.

#include "config/settings.h"
#include "config/settings_file.h"
#include "config/settings_store.h"
#include "platform/ini_file.h"
#include "server/platform/temp_folder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const char* const kRequirePassword = "RequirePassword";

class SettingsDamageTest : public ::testing::Test {
protected:
    std::string SettingsFile() const { return m_data / kSettingsFileName; }
    std::string FolderFile() const { return m_data / kFolderListFileName; }

    // A sealed settings file as a server writes it, with a security setting on.
    std::string WriteGoodSettings()
    {
        SettingsStore store(m_data.path());
        EXPECT_TRUE(store.WriteTexts({ { kKeyPassword, "1234" }, { kKeyPasswordMode, "1" },
            { kRequirePassword, "1" }, { kKeyInPort, "47002" }, { kKeySet, "1" } }));
        return ReadFileText(SettingsFile());
    }

    // The files named path.damaged-... beside path.
    std::vector<std::string> SetAside(const std::string& path) const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(m_data.path())) {
            if (entry.path().string().starts_with(path + ".damaged-"))
                found.push_back(entry.path().string());
        }
        return found;
    }

    void RemoveSetAside()
    {
        for (const std::string& path : SetAside(SettingsFile()))
            fs::remove(path);
    }

    TempFolder m_data;
};

TEST(SettingsFileCheck, ASealedFileCutAtAnyByteIsNeverWhole)
{
    ini::IniDocument document = ini::IniDocument::Parse(
        "[Setting]\nPassword=1234\nPasswordMode=1\nRequirePassword=1\nInPort=47002\n");
    const std::string sealed = SealSettingsText(document);
    SettingsFileCheck whole = CheckSettingsText(sealed);
    ASSERT_TRUE(whole.whole) << whole.problem;
    EXPECT_EQ(whole.document->Value("Setting", kRequirePassword), "1");
    EXPECT_EQ(whole.document->Value(kSealSection, kSealKey), std::nullopt)
        << "the seal is not a setting";
    EXPECT_EQ(SealSettingsText(*whole.document), sealed) << "sealing again changes nothing";
    // Only the last line break may go: what is left still closes with the seal.
    for (size_t cut = 0; cut + 1 < sealed.size(); ++cut) {
        SettingsFileCheck check = CheckSettingsText(sealed.substr(0, cut));
        EXPECT_FALSE(check.whole) << "cut at " << cut;
        EXPECT_FALSE(check.problem.empty()) << cut;
    }
    EXPECT_TRUE(CheckSettingsText(sealed.substr(0, sealed.size() - 1)).whole);
}

TEST(SettingsFileCheck, UnsealedFilesAreTakenWhenEveryLineParses)
{
    // As earlier versions and editors wrote them: taken whole, with their comments.
    EXPECT_TRUE(CheckSettingsText("[Setting]\r\nPCName=den\r\n; a note\r\n\r\n[Folder]\r\n").whole);
    EXPECT_TRUE(CheckSettingsText("\xEF\xBB\xBF[Setting]\nPCName=caf\xC3\xA9\n").whole);
    EXPECT_TRUE(CheckSettingsText("[Folder]\n").whole) << "an empty folder list";
    // Not ini text: a stray word, control bytes, an unclosed section, nothing at all.
    for (const std::string& damaged :
        { "[Setting]\nPCName=den\nRequirePass"s, "[Setting]\nPCName=\x01\x02\n"s,
            "[Setting\nPCName=den\n"s, ""s, "[Setting]\nPCName=den\0\0\n"s }) {
        EXPECT_FALSE(CheckSettingsText(damaged).whole) << damaged;
    }
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(512, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random());
        EXPECT_FALSE(CheckSettingsText(bytes).whole) << "random bytes, round " << round;
    }
}

TEST_F(SettingsDamageTest, EveryWriteKeepsThePreviousFileAsTheGoodCopy)
{
    SettingsStore store(m_data.path());
    ASSERT_TRUE(store.WriteText(kKeyPCName, "den"));
    EXPECT_FALSE(fs::exists(SettingsFile() + ".bak")) << "nothing was there before";
    const std::string first = ReadFileText(SettingsFile());
    ASSERT_TRUE(store.WriteText(kKeyPCName, "hall"));
    EXPECT_EQ(ReadFileText(SettingsFile() + ".bak"), first);
    // The same value again changes no file, so the copy stays one version back.
    const std::string second = ReadFileText(SettingsFile());
    ASSERT_TRUE(store.WriteText(kKeyPCName, "hall"));
    EXPECT_EQ(ReadFileText(SettingsFile()), second);
    EXPECT_EQ(ReadFileText(SettingsFile() + ".bak"), first);

    // A file of an earlier version is kept as it was, and sealed from then on.
    WriteFileText(FolderFile(), "[Folder]\r\npath0=Movies|/m\r\n");
    ASSERT_TRUE(store.SaveFolderList({ { "Movies", "/m" }, { "Kids", "/k" } }));
    EXPECT_EQ(ReadFileText(FolderFile() + ".bak"), "[Folder]\r\npath0=Movies|/m\r\n");
    EXPECT_TRUE(CheckSettingsText(ReadFileText(FolderFile())).whole);
    EXPECT_EQ(store.LoadFolderList().size(), 2u);
}

TEST_F(SettingsDamageTest, ACutFileIsSetAsideAndTheGoodCopyTakesItsPlaceAtEveryOffset)
{
    const std::string good = WriteGoodSettings();
    for (size_t cut = 0; cut + 1 < good.size(); ++cut) {
        WriteFileText(SettingsFile(), good.substr(0, cut));
        WriteFileText(SettingsFile() + ".bak", good);
        SettingsStore store(m_data.path());
        EXPECT_FALSE(store.Refusal()) << cut;
        EXPECT_EQ(store.ReadInt(kRequirePassword, 0), 1) << cut;
        EXPECT_EQ(store.ReadText(kKeyPassword), "1234") << cut;
        std::vector<SettingsFileProblem> problems = store.TakeProblems();
        ASSERT_EQ(problems.size(), 1u) << cut;
        EXPECT_EQ(problems[0].file, SettingsFile());
        EXPECT_TRUE(problems[0].goodCopyUsed);
        ASSERT_EQ(SetAside(SettingsFile()), std::vector<std::string> { problems[0].setAsideAs });
        EXPECT_EQ(ReadFileText(problems[0].setAsideAs), good.substr(0, cut)) << "kept as it was";
        EXPECT_EQ(ReadFileText(SettingsFile()), good) << cut;
        RemoveSetAside();
    }
}

TEST_F(SettingsDamageTest, WithoutAGoodCopyTheFileIsRefusedUntilTheUserStartsFresh)
{
    const std::string good = WriteGoodSettings();
    fs::remove(SettingsFile() + ".bak");
    const std::string cut = good.substr(0, good.find("RequirePassword"));
    WriteFileText(SettingsFile(), cut);

    SettingsStore store(m_data.path());
    std::optional<SettingsFileProblem> refused = store.Refusal();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->file, SettingsFile());
    EXPECT_FALSE(refused->goodCopyUsed);
    EXPECT_EQ(refused->setAsideAs, "") << "left in place for every later start to meet";
    // Nothing of it is read, and nothing is written over it.
    EXPECT_EQ(store.ReadText(kKeyPassword), "");
    EXPECT_FALSE(store.WriteInt(kKeySet, 1));
    EXPECT_EQ(ReadFileText(SettingsFile()), cut);
    EXPECT_EQ(SettingsStore(m_data.path()).Refusal()->problem, refused->problem);
    EXPECT_TRUE(store.SaveFolderList({ { "Movies", "/m" } })) << "the other file is whole";

    ASSERT_TRUE(store.StartFresh());
    EXPECT_FALSE(store.Refusal());
    EXPECT_EQ(SetAside(SettingsFile()).size(), 1u);
    EXPECT_FALSE(fs::exists(SettingsFile()));
    EXPECT_TRUE(store.WriteInt(kKeySet, 1));
    EXPECT_EQ(store.ReadInt(kKeySet, 0), 1);
    EXPECT_EQ(store.ReadInt(kRequirePassword, 0), 0) << "fresh, as the user chose";
}

TEST_F(SettingsDamageTest, RandomBytesOnDiskWhileRunningGiveWayToTheSettingsInMemory)
{
    SettingsStore store(m_data.path());
    ASSERT_TRUE(store.SaveFolderList({ { "Movies", "/m" } }));
    fs::remove(FolderFile() + ".bak");
    std::mt19937 random(11);
    std::string bytes(300, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    WriteFileText(FolderFile(), bytes);

    std::vector<FolderListEntry> folders = store.LoadFolderList();
    ASSERT_EQ(folders.size(), 1u) << "never \"no folder is shared\"";
    EXPECT_EQ(folders[0].path, "/m");
    EXPECT_FALSE(store.Refusal());
    std::vector<SettingsFileProblem> problems = store.TakeProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].file, FolderFile());
    EXPECT_EQ(ReadFileText(problems[0].setAsideAs), bytes);
    EXPECT_TRUE(CheckSettingsText(ReadFileText(FolderFile())).whole);
    EXPECT_TRUE(store.TakeProblems().empty()) << "told once";
}

} // namespace
