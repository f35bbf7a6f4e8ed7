#include "config/settings.h"

#include "config/utf8_text.h"
#include "platform/ini_file.h"
#include "platform/places.h"

#include <climits>

namespace {

// A file of the data folder; a name that would leave the folder names nothing.
std::string DataFilePath(const std::string& fileName)
{
    if (fileName.empty())
        return GetSettingsFilePath();
    if (fileName.find('/') != std::string::npos || fileName == "." || fileName == "..")
        return std::string();
    std::string data = GetDataFolder();
    return data.empty() ? std::string() : data + "/" + fileName;
}

// The integer reading of a value: an optional sign and the leading decimal digits;
// an empty value reads as def, values beyond int are held at its limits.
int LeadingInteger(const std::string& text, int def)
{
    if (text.empty())
        return def;
    size_t at = 0;
    bool negative = false;
    if (text[at] == '-' || text[at] == '+') {
        negative = text[at] == '-';
        ++at;
    }
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

std::string GetSettingsFilePath()
{
    std::string data = GetDataFolder();
    return data.empty() ? std::string() : data + "/" + kSettingsFileName;
}

std::string GetFolderListFilePath()
{
    std::string data = GetDataFolder();
    return data.empty() ? std::string() : data + "/" + kFolderListFileName;
}

int ReadSettingInt(const std::string& key, int def, const std::string& section)
{
    std::string path = GetSettingsFilePath();
    if (path.empty() || !ini::FileExists(path))
        return 0;
    auto value = ini::ReadValue(path, section, key);
    if (!value)
        return def;
    return LeadingInteger(*value, def);
}

std::string ReadSettingText(const std::string& key, const std::string& def,
    const std::string& section, const std::string& fileName)
{
    std::string path = DataFilePath(fileName);
    if (path.empty() || !ini::FileExists(path))
        return std::string();
    auto value = ini::ReadValue(path, section, key);
    return CutUtf8(SanitizeUtf8(value ? *value : def), kMaxSettingText);
}

bool WriteSettingInt(const std::string& key, unsigned value, const std::string& section)
{
    std::string path = GetSettingsFilePath();
    if (path.empty())
        return false;
    return ini::WriteValue(path, section, key, std::to_string(value));
}

bool WriteSettingText(const std::string& key, const std::string& value, const std::string& section,
    const std::string& fileName)
{
    std::string path = DataFilePath(fileName);
    if (path.empty())
        return false;
    return ini::WriteValue(path, section, key, value);
}

int GetSettingInt(const std::string& section, const std::string& key, int def)
{
    return ReadSettingInt(key, def, section);
}

std::string GetSettingString(const std::string& key, const std::string& def,
    const std::string& section, const std::string& fileName)
{
    return ReadSettingText(key, def, section, fileName);
}

bool SetSettingInt(const std::string& key, unsigned value)
{
    return WriteSettingInt(key, value);
}

bool SetSettingString(const std::string& fileName, const std::string& section,
    const std::string& key, const std::string& value)
{
    return WriteSettingText(key, value, section, fileName);
}

std::string GetFileVersionText()
{
#ifdef VEMBACAST_VERSION_TEXT
    std::string text;
    for (char c : std::string(VEMBACAST_VERSION_TEXT)) {
        if (c == ' ')
            continue;
        text += c == ',' ? '.' : c;
    }
    return text;
#else
    return std::string();
#endif
}

// Paths may be longer than a setting text, so the folder list is read uncut.
std::vector<FolderListEntry> LoadFolderListFile()
{
    std::vector<FolderListEntry> entries;
    std::string path = GetFolderListFilePath();
    if (path.empty())
        return entries;
    for (int i = 0;; ++i) {
        auto value = ini::ReadValue(path, kFolderSection, "path" + std::to_string(i));
        if (!value || value->empty())
            break;
        std::string text = SanitizeUtf8(*value);
        size_t bar = text.find('|');
        if (bar == std::string::npos)
            entries.push_back({ text, std::string() });
        else
            entries.push_back({ text.substr(0, bar), text.substr(bar + 1) });
    }
    return entries;
}

bool SaveFolderListFile(const std::vector<FolderListEntry>& entries)
{
    std::string path = GetFolderListFilePath();
    if (path.empty())
        return false;
    std::vector<std::pair<std::string, std::string>> keys;
    for (size_t i = 0; i < entries.size(); ++i)
        keys.emplace_back(
            "path" + std::to_string(i), entries[i].displayName + "|" + entries[i].path);
    return ini::WriteSection(path, kFolderSection, keys);
}
