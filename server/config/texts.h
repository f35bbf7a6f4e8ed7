#pragma once

// The language texts: every text the program shows or sends is named by a key
// ("IDS_WORD_COMMON_OK") and read from the language file
// res/lang_VembaCast_<code>.lng of the program folder: UTF-8, section [STRING],
// one KEY=text line per text; "\n" in a text stands for a line break and "\\"
// for a backslash. The file is read once, on the first lookup or when a language
// is selected; lookups may come from any thread.

#include <optional>
#include <string>
#include <unordered_map>

// The text of key in the current language; the key itself when the file lacks it.
std::string LookupText(const std::string& key);

// Reads the language file of code, or of the setting "General_language" when code
// is empty (an empty setting means "kor"). A code that is not a plain word, or
// whose file is missing, falls back to English. False when no file could be read
// (every lookup then answers its key).
bool SelectLanguage(const std::string& code = "");

// The code of the language the texts come from ("kor", "eng"), selecting it first
// when nothing has been selected yet.
std::string GetLanguageCode();

// The language the user's locale asks for: "kor" for a Korean locale (LC_ALL,
// LC_MESSAGES or LANG, the first one set, starting with "ko"), else "eng".
std::string LanguageFromLocale();
// A fresh data folder has no language stored: store the locale's, so the first
// messages come in the user's language. A stored language is kept as it is.
void StoreLocaleLanguageIfUnset();

// The texts of one language file by upper-case key, or nullopt when it cannot be
// read. A damaged file gives the lines that parse; bytes that are not UTF-8 become U+FFFD.
std::optional<std::unordered_map<std::string, std::string>> ReadLanguageFile(
    const std::string& path);

// GetProgramFolder() + "/res/lang_VembaCast_" + code + ".lng".
std::string GetLanguageFilePath(const std::string& code);
