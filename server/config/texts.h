#pragma once

// The language texts: every text the program shows or sends is named by a key
// ("IDS_WORD_COMMON_OK") and read from the language file
// res/lang_VembaCast_<code>.lng of the program folder: UTF-8, section [STRING],
// one KEY=text line per text; "\n" in a text stands for a line break and "\\"
// for a backslash. A language file is read when its language is selected.

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class SettingsStore;

// The language table of one server (or one desktop application).
//
// Threads: lookups come from every request thread while the language may change
// (the settings dialog, or the setting changed on disk); m_lock guards the table and
// is never held while a file is read.
class TextTable {
public:
    // Texts from resourceFolder. With a settings store the table follows the setting
    // "General_language": it is selected from it at once and again whenever it changes.
    explicit TextTable(std::string resourceFolder, SettingsStore* settings = nullptr);
    ~TextTable();
    TextTable(const TextTable&) = delete;
    TextTable& operator=(const TextTable&) = delete;

    // The text of key in the current language; the key itself when the file lacks it.
    std::string Lookup(const std::string& key) const;

    // Reads the language file of code, or of the setting "General_language" when code
    // is empty (an empty setting means "kor"). A code that is not a plain word, or
    // whose file is missing, falls back to English. False when no file could be read
    // (every lookup then answers its key).
    bool Select(const std::string& code = "");

    // The code of the language the texts come from ("kor", "eng"); empty when no file
    // could be read.
    std::string LanguageCode() const;

    // resourceFolder + "/lang_VembaCast_" + code + ".lng".
    std::string LanguageFilePath(const std::string& code) const;

private:
    const std::string m_resourceFolder;
    SettingsStore* const m_settings;
    int m_subscription = 0;

    mutable std::mutex m_lock;
    // --- guarded by m_lock
    std::string m_code;
    std::string m_followedSetting; // the setting's value the table was selected from
    std::unordered_map<std::string, std::string> m_texts; // upper-case key -> text
};

// The language the user's locale asks for: "kor" for a Korean locale (LC_ALL,
// LC_MESSAGES or LANG, the first one set, starting with "ko"), else "eng". Reads the
// environment: for start-up only.
std::string LanguageFromLocale();
// A fresh data folder has no language stored: store the locale's, so the first
// messages come in the user's language. A stored language is kept as it is.
void StoreLocaleLanguageIfUnset(SettingsStore& settings);

// The texts of one language file by upper-case key, or nullopt when it cannot be
// read. A damaged file gives the lines that parse; bytes that are not UTF-8 become U+FFFD.
std::optional<std::unordered_map<std::string, std::string>> ReadLanguageFile(
    const std::string& path);
