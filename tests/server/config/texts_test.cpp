#include "config/settings.h"
#include "config/settings_store.h"
#include "config/texts.h"
#include "platform/places.h"
#include "server/platform/temp_folder.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::string_literals;

const char* const kAllKeys[] = { "IDS_APP_NAME", "IDS_WORD_COMMON_OK", "IDS_WORD_COMMON_CANCEL",
    "IDS_WORD_COMMON_RETRY", "IDS_WORD_COMMON_YES", "IDS_WORD_COMMON_NO", "IDS_WORD_COMMON_SET",
    "IDS_WORD_COMMON_CLOSE", "IDS_WORD_COMMON_EXIT", "IDS_MENU_EXIT", "IDS_WORD_BTN_STARTSERVER",
    "IDS_WORD_BTN_STOPSERVER", "IDS_WORD_BTN_SETTING", "IDS_WORD_BTN_HELP",
    "IDS_WORD_BTN_REMOTECONVERT", "IDS_WORD_BTN_ADD", "IDS_WORD_BTN_DELETE", "IDS_WORD_BTN_EDIT",
    "IDS_WORD_NOT_SETTING", "IDS_WORD_NEED_RESETTING", "IDS_WORD_INVAILD_SETTING",
    "IDS_WORD_ALREADY_RUN", "IDS_ERROR_FAILED_SERVER_START", "IDS_WORD_NO_UPNPDEVICE",
    "IDS_WORD_UNABLE_RELAYSERVER", "IDS_WORD_RESTART_SETTINGAPPLY", "IDS_WORD_NAME",
    "IDS_WORD_FOLDER", "IDS_WORD_ADDFOLDER_DLG", "IDS_WORD_SELECTFOLDER",
    "IDS_ERROR_WRONG_FOLDERPATH", "IDS_ERROR_WRONG_CHARACTER", "IDS_ERROR_DUPLICATE_FOLDER",
    "IDS_ERROR_DUPLICATE_NAME", "IDS_WORD_SETTING_DLG", "IDS_WORD_SERVER_INFO", "IDS_WORD_IP",
    "IDS_WORD_PORT", "IDS_WORD_WINDOWSTART", "IDS_WORD_AUTOSTART", "IDS_WORD_SET_PASSWORD",
    "IDS_WORD_SET_PASSWORD_MODE", "IDS_WORD_ENABLE_INTERNET", "IDS_WORD_THISPIN",
    "IDS_WORD_AUTOMAPPORT", "IDS_WORD_SEARCH_UPNP", "IDS_WORD_REMOVE_UPNPINFO",
    "IDS_WORD_NOTSUPPORT_MYEXTCONNECT_UPNPDEVICE", "IDS_WORD_SELECT_NIC",
    "IDS_WORD_SELECT_NIC_INFO", "IDS_WORD_NEW_PASSWORD", "IDS_WORD_PASSWORD_FORMAT_INFO",
    "IDS_WORD_PASSWORD_FORMAT_INFO2", "IDS_WORD_CHECK_UPDATE", "IDS_WORD_CHECKING_NEWVERSION",
    "IDS_WORD_LOCALVERSION", "IDS_WORD_SERVERVERSION", "IDS_WORD_NEWVERSION_AVAILABLE",
    "IDS_WORD_DOWNSITE_LINK", "IDS_WORD_CONVERSION_DLG", "IDS_WORD_FILENAME", "IDS_WORD_PROGRESS",
    "IDS_WORD_STATUS", "IDS_WORD_CONV_WAITING", "IDS_WORD_CONV_CONVERTING",
    "IDS_WORD_CONV_COMPLETE", "IDS_WORD_CONV_CANCELED", "IDS_WORD_CONV_FAILED",
    "IDS_ERROR_FAILED_INPUT", "IDS_ERROR_NOTEXIST_FOLDER", "IDS_ERROR_NOTEXIST_FILE",
    "IDS_ERROR_FAILED_ID", "IDS_ERROR_FAILED_CREATEID", "IDS_ERROR_FAILED_UNKNOWN",
    "IDS_ERROR_FULLUSER", "IDS_ERROR_DISMATCHED_VER", "IDS_ERROR_SERVEROFF_REFUSED" };

class LanguageTexts : public ::testing::Test {
protected:
    TempFolder m_data;
    SettingsStore m_settings { m_data.path() };
    const std::string m_resources = GetResourceFolder();

    void setLanguageSetting(const std::string& code)
    {
        WriteFileText(m_data / "VembaCast.ini", "[Setting]\nGeneral_language=" + code + "\n");
    }
};

TEST_F(LanguageTexts, BothFilesCarryEveryKey)
{
    TextTable table(m_resources);
    auto korean = ReadLanguageFile(table.LanguageFilePath("kor"));
    auto english = ReadLanguageFile(table.LanguageFilePath("eng"));
    ASSERT_TRUE(korean && english);
    // A key added to one language only would show its bare name in the other.
    for (const auto& [key, text] : *korean)
        EXPECT_TRUE(english->count(key)) << "eng lacks " << key;
    for (const auto& [key, text] : *english)
        EXPECT_TRUE(korean->count(key)) << "kor lacks " << key;
    for (const char* code : { "kor", "eng" }) {
        auto texts = ReadLanguageFile(table.LanguageFilePath(code));
        ASSERT_TRUE(texts) << code;
        for (const char* key : kAllKeys) {
            auto found = texts->find(key);
            ASSERT_NE(found, texts->end()) << code << " lacks " << key;
            EXPECT_FALSE(found->second.empty()) << code << " " << key;
        }
    }
}

TEST_F(LanguageTexts, WithoutSettingsTheTextsAreKorean)
{
    TextTable texts(m_resources, &m_settings);
    EXPECT_EQ(texts.LanguageCode(), "kor");
    EXPECT_EQ(texts.Lookup("IDS_WORD_COMMON_OK"), "확인");
    TextTable alone(m_resources);
    EXPECT_EQ(alone.LanguageCode(), "kor");
}

TEST_F(LanguageTexts, TheSettingChoosesTheLanguage)
{
    setLanguageSetting("eng");
    TextTable texts(m_resources, &m_settings);
    EXPECT_EQ(texts.LanguageCode(), "eng");
    EXPECT_EQ(texts.Lookup("IDS_WORD_COMMON_OK"), "OK");
    setLanguageSetting("");
    ASSERT_TRUE(texts.Select());
    EXPECT_EQ(texts.LanguageCode(), "kor") << "an empty language counts as kor";
    ASSERT_TRUE(texts.Select("eng"));
    EXPECT_EQ(texts.Lookup("IDS_WORD_CONV_FAILED"), "Failed");
}

// The table follows the setting, written through the store or changed on disk, and
// a server's table follows its own store only.
TEST_F(LanguageTexts, TheTableFollowsItsOwnStoresSetting)
{
    TempFolder otherData;
    SettingsStore otherSettings(otherData.path());
    TextTable texts(m_resources, &m_settings);
    TextTable other(m_resources, &otherSettings);
    ASSERT_TRUE(m_settings.WriteText(kKeyGeneralLanguage, "eng"));
    EXPECT_EQ(texts.LanguageCode(), "eng");
    EXPECT_EQ(texts.Lookup("IDS_WORD_COMMON_OK"), "OK");
    EXPECT_EQ(other.LanguageCode(), "kor");

    WriteFileText(m_data / "VembaCast.ini", "[Setting]\nGeneral_language=kor\nSET=1\n");
    EXPECT_EQ(m_settings.ReadInt(kKeySet, 0), 1); // any read notices the change
    EXPECT_EQ(texts.LanguageCode(), "kor");

    ASSERT_TRUE(texts.Select("eng")); // chosen by hand: kept until the setting changes
    ASSERT_TRUE(m_settings.WriteText(kKeyPCName, "den"));
    EXPECT_EQ(texts.LanguageCode(), "eng");
}

TEST_F(LanguageTexts, TheLocalesLanguageIsStoredOnlyWhenNoneIs)
{
    ScopedEnv locale("LC_ALL", "ko_KR.UTF-8");
    StoreLocaleLanguageIfUnset(m_settings);
    EXPECT_EQ(m_settings.ReadText(kKeyGeneralLanguage), "kor");
    ASSERT_TRUE(m_settings.WriteText(kKeyGeneralLanguage, "eng"));
    StoreLocaleLanguageIfUnset(m_settings);
    EXPECT_EQ(m_settings.ReadText(kKeyGeneralLanguage), "eng") << "the user's choice was replaced";
    ScopedEnv english("LC_ALL", "C.UTF-8");
    ASSERT_TRUE(m_settings.WriteText(kKeyGeneralLanguage, ""));
    StoreLocaleLanguageIfUnset(m_settings);
    EXPECT_EQ(m_settings.ReadText(kKeyGeneralLanguage), "eng");
}

TEST_F(LanguageTexts, UnknownOrUnsafeCodesFallBackToEnglish)
{
    setLanguageSetting("../../../etc/passwd");
    TextTable texts(m_resources, &m_settings);
    EXPECT_EQ(texts.LanguageCode(), "eng");
    ASSERT_TRUE(texts.Select("xyz"));
    EXPECT_EQ(texts.LanguageCode(), "eng");
    TextTable nowhere(m_data / "no-resources");
    EXPECT_FALSE(nowhere.Select("eng"));
    EXPECT_EQ(nowhere.LanguageCode(), "");
    EXPECT_EQ(nowhere.Lookup("IDS_WORD_COMMON_OK"), "IDS_WORD_COMMON_OK");
}

TEST_F(LanguageTexts, AMissingKeyAnswersTheKeyItself)
{
    TextTable texts(m_resources);
    texts.Select("kor");
    EXPECT_EQ(texts.Lookup("IDS_NO_SUCH_KEY"), "IDS_NO_SUCH_KEY");
    EXPECT_EQ(texts.Lookup(""), "");
    EXPECT_EQ(texts.Lookup("ids_word_common_ok"), "확인") << "keys compare without case";
}

TEST_F(LanguageTexts, EscapesBecomeLineBreaksAndBackslashes)
{
    TextTable texts(m_resources);
    texts.Select("eng");
    EXPECT_NE(texts.Lookup("IDS_WORD_COMMON_EXIT").find('\n'), std::string::npos);
    EXPECT_NE(texts.Lookup("IDS_ERROR_WRONG_CHARACTER").find(": \\ /"), std::string::npos);
}

TEST_F(LanguageTexts, DamagedFileReadsAsWhatItCan)
{
    std::string path = m_data / "bad.lng";
    WriteFileText(path,
        "\xEF\xBB\xBF; note\n[OTHER]\nIDS_A=wrong section\n[STRING]\nIDS_A = first \r\n"
        "no equals sign\nIDS_B=caf\xE9\n\0\0\nIDS_A=second\n=empty key\nIDS_C=a\\qb\\"s);
    auto texts = ReadLanguageFile(path);
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->at("IDS_A"), "first");
    EXPECT_EQ(texts->at("IDS_B"), "caf\xEF\xBF\xBD");
    EXPECT_EQ(texts->at("IDS_C"), "a\\qb\\");
    EXPECT_EQ(texts->size(), 3u);
    EXPECT_FALSE(ReadLanguageFile(m_data / "missing.lng"));
}

TEST_F(LanguageTexts, LookupsRaceWithReselectionSafely)
{
    TextTable texts(m_resources, &m_settings);
    std::atomic<bool> done { false };
    std::thread switcher([&] {
        for (int i = 0; i < 50; ++i) {
            if (i % 4 == 0)
                m_settings.WriteText(kKeyGeneralLanguage, i % 8 ? "kor" : "eng");
            else
                texts.Select(i % 2 ? "kor" : "eng");
        }
        done = true;
    });
    while (!done) {
        std::string ok = texts.Lookup("IDS_WORD_COMMON_OK");
        ASSERT_TRUE(ok == "OK" || ok == "확인") << ok;
    }
    switcher.join();
}

} // namespace
