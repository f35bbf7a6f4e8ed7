#include "config/texts.h"

#include "config/settings.h"
#include "config/utf8_text.h"
#include "platform/file_io.h"
#include "platform/places.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <sstream>
#include <unordered_map>

namespace {

constexpr const char* kFallbackLanguage = "eng";
constexpr size_t kMaxLanguageFileSize = 4 * 1024 * 1024;

struct LanguageTable {
    bool selected = false;
    std::string code;
    std::unordered_map<std::string, std::string> texts; // upper-case key -> text
};

std::shared_mutex g_languageLock;
LanguageTable g_language; // guarded by g_languageLock

std::string UpperCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// "\n" becomes a line break, "\t" a tab, "\\" one backslash; any other backslash stays.
std::string Unescape(const std::string& text)
{
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        char next = text[i + 1];
        if (next == 'n')
            plain += '\n';
        else if (next == 't')
            plain += '\t';
        else if (next == '\\')
            plain += '\\';
        else {
            plain += '\\';
            continue;
        }
        ++i;
    }
    return plain;
}

bool IsPlainCode(const std::string& code)
{
    if (code.empty() || code.size() > 16)
        return false;
    for (char c : code) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c == '-';
        if (!plain)
            return false;
    }
    return true;
}

void EnsureSelected()
{
    {
        std::shared_lock<std::shared_mutex> hold(g_languageLock);
        if (g_language.selected)
            return;
    }
    SelectLanguage();
}

} // namespace

std::optional<std::unordered_map<std::string, std::string>> ReadLanguageFile(
    const std::string& path)
{
    std::optional<std::string> read = ReadFileUpTo(path, kMaxLanguageFileSize);
    if (!read)
        return std::nullopt;
    std::string& data = *read;
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0)
        data.erase(0, 3);
    std::istringstream lines(SanitizeUtf8(data));
    std::unordered_map<std::string, std::string> texts;
    bool inStrings = false;
    for (std::string line; std::getline(lines, line);) {
        std::string trimmed = std::string(TrimWhitespace(line));
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#')
            continue;
        if (trimmed[0] == '[') {
            size_t close = trimmed.find(']');
            inStrings = close != std::string::npos
                && UpperCase(std::string(TrimWhitespace(trimmed.substr(1, close - 1)))) == "STRING";
            continue;
        }
        size_t equals = trimmed.find('=');
        if (!inStrings || equals == std::string::npos)
            continue;
        std::string key = UpperCase(std::string(TrimWhitespace(trimmed.substr(0, equals))));
        if (!key.empty() && !texts.count(key))
            texts.emplace(key, Unescape(std::string(TrimWhitespace(trimmed.substr(equals + 1)))));
    }
    return texts;
}

std::string GetLanguageFilePath(const std::string& code)
{
    return GetResourceFolder() + "/lang_VembaCast_" + code + ".lng";
}

bool SelectLanguage(const std::string& code)
{
    std::string wanted = code;
    if (wanted.empty())
        wanted = GetSettingString(kKeyGeneralLanguage, kDefaultGeneralLanguage);
    if (wanted.empty())
        wanted = kDefaultGeneralLanguage;
    if (!IsPlainCode(wanted))
        wanted = kFallbackLanguage;
    auto texts = ReadLanguageFile(GetLanguageFilePath(wanted));
    if (!texts && wanted != kFallbackLanguage) {
        wanted = kFallbackLanguage;
        texts = ReadLanguageFile(GetLanguageFilePath(wanted));
    }
    std::unique_lock<std::shared_mutex> hold(g_languageLock);
    g_language.selected = true;
    g_language.code = texts ? wanted : std::string();
    g_language.texts = texts ? std::move(*texts) : std::unordered_map<std::string, std::string> {};
    return texts.has_value();
}

std::string GetLanguageCode()
{
    EnsureSelected();
    std::shared_lock<std::shared_mutex> hold(g_languageLock);
    return g_language.code;
}

std::string LookupText(const std::string& key)
{
    EnsureSelected();
    std::shared_lock<std::shared_mutex> hold(g_languageLock);
    auto found = g_language.texts.find(UpperCase(key));
    return found == g_language.texts.end() ? key : found->second;
}

std::string LanguageFromLocale()
{
    for (const char* variable : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return std::string(value).rfind("ko", 0) == 0 ? "kor" : "eng";
    }
    return "eng";
}

void StoreLocaleLanguageIfUnset()
{
    // An empty value is what a fresh data folder reads; the stored "kor" of an
    // earlier run, or any other choice, stays.
    if (GetSettingString(kKeyGeneralLanguage).empty())
        SetSettingString("", kSettingSection, kKeyGeneralLanguage, LanguageFromLocale());
}
