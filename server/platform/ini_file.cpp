#include "platform/ini_file.h"

#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A file is replaced whole by rename, so a reader sees either the old or the new
// file. Read-modify-write cycles on one file are not serialised here: the settings
// store is the one writer of its files and orders its own writes.

namespace ini {
namespace {

    constexpr off_t kMaxIniFileSize = 16 * 1024 * 1024; // anything larger is not ours

    struct IniText {
        std::vector<std::string> lines; // without line ends
        std::string lineEnd = "\n";
    };

    bool EqualsNoCase(std::string_view a, std::string_view b)
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            unsigned char x = static_cast<unsigned char>(a[i]);
            unsigned char y = static_cast<unsigned char>(b[i]);
            if (x >= 'A' && x <= 'Z')
                x = static_cast<unsigned char>(x - 'A' + 'a');
            if (y >= 'A' && y <= 'Z')
                y = static_cast<unsigned char>(y - 'A' + 'a');
            if (x != y)
                return false;
        }
        return true;
    }

    std::string_view Trim(std::string_view text)
    {
        const char* blanks = " \t\r\n\v\f";
        size_t first = text.find_first_not_of(blanks);
        if (first == std::string_view::npos)
            return {};
        size_t last = text.find_last_not_of(blanks);
        return text.substr(first, last - first + 1);
    }

    // "[name]" (blanks allowed around and inside the brackets) gives name.
    std::optional<std::string_view> SectionNameOf(std::string_view line)
    {
        std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() != '[')
            return std::nullopt;
        size_t close = trimmed.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        return Trim(trimmed.substr(1, close - 1));
    }

    struct KeyLine {
        std::string_view key;
        std::string_view value;
    };

    std::optional<KeyLine> KeyLineOf(std::string_view line)
    {
        size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        std::string_view key = Trim(line.substr(0, equals));
        if (key.empty() || key.front() == ';')
            return std::nullopt;
        return KeyLine { key, Trim(line.substr(equals + 1)) };
    }

    std::optional<std::string> ReadWhole(const std::string& path)
    {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return std::nullopt;
        struct stat info { };
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            return std::nullopt;
        }
        std::string data;
        char buffer[8192];
        for (;;) {
            ssize_t got = read(fd, buffer, sizeof(buffer));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            data.append(buffer, static_cast<size_t>(got));
            if (static_cast<off_t>(data.size()) >= kMaxIniFileSize)
                break;
        }
        close(fd);
        return data;
    }

    IniText Split(const std::string& data)
    {
        IniText text;
        std::string_view rest(data);
        if (rest.substr(0, 3) == "\xEF\xBB\xBF")
            rest.remove_prefix(3);
        size_t firstEnd = rest.find('\n');
        if (firstEnd != std::string_view::npos && firstEnd > 0 && rest[firstEnd - 1] == '\r')
            text.lineEnd = "\r\n";
        while (!rest.empty()) {
            size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            text.lines.emplace_back(line);
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
        return text;
    }

    // Index range [begin, end) of the lines after the header of the first section
    // named section; begin == npos when there is no such section.
    struct SectionRange {
        size_t header = std::string::npos;
        size_t begin = std::string::npos;
        size_t end = std::string::npos;
    };

    SectionRange FindSection(const IniText& text, const std::string& section)
    {
        SectionRange range;
        for (size_t i = 0; i < text.lines.size(); ++i) {
            auto name = SectionNameOf(text.lines[i]);
            if (!name)
                continue;
            if (range.begin != std::string::npos) {
                range.end = i;
                return range;
            }
            if (EqualsNoCase(*name, section)) {
                range.header = i;
                range.begin = i + 1;
            }
        }
        if (range.begin != std::string::npos)
            range.end = text.lines.size();
        return range;
    }

    // A value or name with a line break would add lines of its own to the file.
    std::string OneLine(const std::string& value)
    {
        std::string line = value;
        for (char& c : line) {
            if (c == '\r' || c == '\n')
                c = ' ';
        }
        return line;
    }

    bool IsUsableKey(const std::string& key)
    {
        std::string_view trimmed = Trim(key);
        return !trimmed.empty() && trimmed.size() == key.size()
            && key.find('=') == std::string::npos && key.front() != '[' && key.front() != ';';
    }

    bool IsUsableSection(const std::string& section)
    {
        return !Trim(section).empty() && section.find(']') == std::string::npos
            && section.find_first_of("\r\n") == std::string::npos;
    }

    // Index after the last non-blank line of the range, so new keys join the section.
    size_t InsertionPoint(const IniText& text, const SectionRange& range)
    {
        size_t at = range.end;
        while (at > range.begin && Trim(text.lines[at - 1]).empty())
            --at;
        return at;
    }

} // namespace

bool FileExists(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> ReadFileText(const std::string& path)
{
    return ReadWhole(path);
}

IniDocument IniDocument::Parse(const std::string& data)
{
    IniText text = Split(data);
    IniDocument document;
    document.m_lines = std::move(text.lines);
    document.m_lineEnd = std::move(text.lineEnd);
    return document;
}

std::optional<std::string> IniDocument::Value(
    const std::string& section, const std::string& key) const
{
    IniText text { m_lines, m_lineEnd };
    SectionRange range = FindSection(text, section);
    if (range.begin == std::string::npos)
        return std::nullopt;
    for (size_t i = range.begin; i < range.end; ++i) {
        auto entry = KeyLineOf(m_lines[i]);
        if (entry && EqualsNoCase(entry->key, key))
            return std::string(entry->value);
    }
    return std::nullopt;
}

bool IniDocument::SetValue(
    const std::string& section, const std::string& key, const std::string& value)
{
    if (!IsUsableSection(section) || !IsUsableKey(key))
        return false;
    IniText text { std::move(m_lines), m_lineEnd };
    std::string line = key + "=" + OneLine(value);
    SectionRange range = FindSection(text, section);
    if (range.begin == std::string::npos) {
        text.lines.push_back("[" + section + "]");
        text.lines.push_back(line);
    } else {
        bool replaced = false;
        for (size_t i = range.begin; i < range.end && !replaced; ++i) {
            auto entry = KeyLineOf(text.lines[i]);
            if (entry && EqualsNoCase(entry->key, key)) {
                text.lines[i] = line;
                replaced = true;
            }
        }
        if (!replaced)
            text.lines.insert(
                text.lines.begin() + static_cast<long>(InsertionPoint(text, range)), line);
    }
    m_lines = std::move(text.lines);
    return true;
}

bool IniDocument::SetSection(
    const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries)
{
    if (!IsUsableSection(section))
        return false;
    std::vector<std::string> keyLines;
    for (const auto& [key, value] : entries) {
        if (!IsUsableKey(key))
            return false;
        keyLines.push_back(key + "=" + OneLine(value));
    }
    IniText text { std::move(m_lines), m_lineEnd };
    SectionRange range = FindSection(text, section);
    if (range.begin == std::string::npos) {
        text.lines.push_back("[" + section + "]");
        text.lines.insert(text.lines.end(), keyLines.begin(), keyLines.end());
    } else {
        size_t keep = InsertionPoint(text, range); // trailing blank lines stay as they were
        text.lines.erase(text.lines.begin() + static_cast<long>(range.begin),
            text.lines.begin() + static_cast<long>(keep));
        text.lines.insert(
            text.lines.begin() + static_cast<long>(range.begin), keyLines.begin(), keyLines.end());
    }
    m_lines = std::move(text.lines);
    return true;
}

bool IniDocument::RemoveSection(const std::string& section)
{
    bool removed = false;
    IniText text { std::move(m_lines), m_lineEnd };
    for (SectionRange range = FindSection(text, section); range.header != std::string::npos;
         range = FindSection(text, section)) {
        text.lines.erase(text.lines.begin() + static_cast<long>(range.header),
            text.lines.begin() + static_cast<long>(range.end));
        removed = true;
    }
    m_lines = std::move(text.lines);
    return removed;
}

std::optional<size_t> FirstUnreadableLine(const std::string& data)
{
    IniText text = Split(data);
    for (size_t i = 0; i < text.lines.size(); ++i) {
        const std::string& line = text.lines[i];
        bool control = std::any_of(line.begin(), line.end(), [](char c) {
            unsigned char byte = static_cast<unsigned char>(c);
            return (byte < 0x20 && byte != '\t') || byte == 0x7F;
        });
        std::string_view trimmed = Trim(line);
        bool readable = trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#'
            || (trimmed.front() == '[' && trimmed.back() == ']') || KeyLineOf(line).has_value();
        if (control || !readable)
            return i + 1;
    }
    return std::nullopt;
}

std::string IniDocument::Text() const
{
    std::string joined;
    for (const std::string& line : m_lines)
        joined += line + m_lineEnd;
    return joined;
}

std::optional<std::string> ReadValue(
    const std::string& path, const std::string& section, const std::string& key)
{
    auto data = ReadWhole(path);
    if (!data)
        return std::nullopt;
    return IniDocument::Parse(*data).Value(section, key);
}

bool WriteValue(const std::string& path, const std::string& section, const std::string& key,
    const std::string& value)
{
    IniDocument document = IniDocument::Parse(ReadWhole(path).value_or(std::string()));
    return document.SetValue(section, key, value) && ReplaceFileWhole(path, document.Text());
}

bool WriteSection(const std::string& path, const std::string& section,
    const std::vector<std::pair<std::string, std::string>>& entries)
{
    IniDocument document = IniDocument::Parse(ReadWhole(path).value_or(std::string()));
    return document.SetSection(section, entries) && ReplaceFileWhole(path, document.Text());
}

} // namespace ini
