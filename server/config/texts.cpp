#include "config/texts.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/utf8_text.h"
#include "platform/file_io.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <sstream>
#include <unordered_map>

namespace {

constexpr const char* kFallbackLanguage = "eng";
constexpr size_t kMaxLanguageFileSize = 4 * 1024 * 1024;

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

TextTable::TextTable(std::string resourceFolder, SettingsStore* settings)
    : m_resourceFolder(std::move(resourceFolder))
    , m_settings(settings)
{
    Select();
    if (m_settings) {
        m_subscription = m_settings->Subscribe([this](const SettingsSnapshot& snapshot) {
            std::string wanted = snapshot.Text(kKeyGeneralLanguage, kDefaultGeneralLanguage);
            {
                std::lock_guard hold(m_lock);
                if (wanted == m_followedSetting)
                    return;
            }
            Select();
        });
    }
}

TextTable::~TextTable()
{
    if (m_settings)
        m_settings->Unsubscribe(m_subscription);
}

std::string TextTable::LanguageFilePath(const std::string& code) const
{
    return m_resourceFolder + "/lang_VembaCast_" + code + ".lng";
}

bool TextTable::Select(const std::string& code)
{
    std::string setting;
    if (m_settings)
        setting = m_settings->ReadText(kKeyGeneralLanguage, kDefaultGeneralLanguage);
    std::string wanted = code.empty() ? setting : code;
    if (wanted.empty())
        wanted = kDefaultGeneralLanguage;
    if (!IsPlainCode(wanted))
        wanted = kFallbackLanguage;
    auto texts = ReadLanguageFile(LanguageFilePath(wanted));
    if (!texts && wanted != kFallbackLanguage) {
        wanted = kFallbackLanguage;
        texts = ReadLanguageFile(LanguageFilePath(wanted));
    }
    std::lock_guard hold(m_lock);
    m_followedSetting = setting;
    m_code = texts ? wanted : std::string();
    m_texts = texts ? std::move(*texts) : std::unordered_map<std::string, std::string> {};
    return texts.has_value();
}

std::string TextTable::LanguageCode() const
{
    std::lock_guard hold(m_lock);
    return m_code;
}

std::string TextTable::Lookup(const std::string& key) const
{
    std::lock_guard hold(m_lock);
    auto found = m_texts.find(UpperCase(key));
    return found == m_texts.end() ? key : found->second;
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

void StoreLocaleLanguageIfUnset(SettingsStore& settings)
{
    // An empty value is what a fresh data folder reads; the stored "kor" of an
    // earlier run, or any other choice, stays.
    if (settings.ReadText(kKeyGeneralLanguage).empty())
        settings.WriteText(kKeyGeneralLanguage, LanguageFromLocale());
}
