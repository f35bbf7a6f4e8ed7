#include "config/settings_file.h"

#include <string_view>

namespace {

std::string_view WithoutByteOrderMark(std::string_view data)
{
    if (data.starts_with("\xEF\xBB\xBF"))
        data.remove_prefix(3);
    return data;
}

std::string_view FirstLineOf(std::string_view data)
{
    std::string_view line = data.substr(0, data.find('\n'));
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

SettingsFileCheck CheckSettingsText(const std::string& data)
{
    SettingsFileCheck check;
    const std::string_view body = WithoutByteOrderMark(data);
    const std::string_view firstLine = kSealedFileFirstLine;
    // Nothing at all, or only a part of the first line: a sealed file cut at its start.
    if (firstLine.starts_with(body)) {
        check.problem = body.empty() ? "the file is empty" : "the file ends within its first line";
        return check;
    }
    ini::IniDocument document = ini::IniDocument::Parse(data);
    if (FirstLineOf(body) == firstLine && document.Value(kSealSection, kSealKey) != "1") {
        check.problem = "the file is cut short: its closing section [End] is missing";
        return check;
    }
    if (std::optional<size_t> line = ini::FirstUnreadableLine(data)) {
        check.problem = "line " + std::to_string(*line) + " is not a setting";
        return check;
    }
    document.RemoveSection(kSealSection);
    check.whole = true;
    check.document = std::move(document);
    return check;
}

std::string SealSettingsText(const ini::IniDocument& document)
{
    ini::IniDocument body = document;
    body.RemoveSection(kSealSection);
    const std::string& end = body.LineEnd();
    std::string text = body.Text();
    if (FirstLineOf(text) != kSealedFileFirstLine)
        text = kSealedFileFirstLine + end + text;
    return text + "[" + kSealSection + "]" + end + kSealKey + "=1" + end;
}
