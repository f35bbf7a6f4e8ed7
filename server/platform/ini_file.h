#pragma once

// A small ini reader/writer ("[section]" lines and "key=value" lines) that gives the
// same results as the classic private-profile functions: section and key names
// compare case-insensitively, values are trimmed of surrounding blanks, a missing
// file and a missing key are told apart. Files are read and written whole, so a
// value written is seen by the next read anywhere. Damaged or non-UTF-8 files read
// as whatever lines parse.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ini {

bool FileExists(const std::string& path);

// The whole text of a regular file (at most 16 MB), or nullopt when it cannot be read.
std::optional<std::string> ReadFileText(const std::string& path);

// One ini text held in memory, edited line by line so that comments, unknown keys
// and the file's line ends survive a rewrite.
class IniDocument {
public:
    static IniDocument Parse(const std::string& data);

    // The value of key in section, or nullopt when either is missing.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;
    // Sets key=value in section, adding the section when missing; false (and nothing
    // changed) for a key or section name the format cannot hold.
    bool SetValue(const std::string& section, const std::string& key, const std::string& value);
    // Replaces the whole section with exactly these keys, in this order.
    bool SetSection(const std::string& section,
        const std::vector<std::pair<std::string, std::string>>& entries);
    // Takes out every section of that name with its keys; false when there was none.
    bool RemoveSection(const std::string& section);
    std::string Text() const;
    const std::string& LineEnd() const { return m_lineEnd; }

private:
    std::vector<std::string> m_lines; // without line ends
    std::string m_lineEnd = "\n";
};

// The number (from 1) of the first line of data that is none of: blank, a comment
// (";" or "#"), a "[section]" header, a "key=value" line; or that holds a control
// byte other than a tab. nullopt when every line is one of them. The parser above
// skips such lines; a file that has them was not written by an ini writer.
std::optional<size_t> FirstUnreadableLine(const std::string& data);

// The value of key in section, or nullopt when the file or the key is missing.
std::optional<std::string> ReadValue(
    const std::string& path, const std::string& section, const std::string& key);

// Sets key=value in section, creating the section (and the file, not its folder).
bool WriteValue(const std::string& path, const std::string& section, const std::string& key,
    const std::string& value);

// Replaces the whole section with exactly these keys, in this order.
bool WriteSection(const std::string& path, const std::string& section,
    const std::vector<std::pair<std::string, std::string>>& entries);

} // namespace ini
