#include "http/base_path.h"

#include "config/settings_store.h"

#include <algorithm>

namespace {

constexpr size_t kMaxBasePath = 128;

bool IsSegmentCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
        || c == '.' || c == '_' || c == '~';
}

} // namespace

std::optional<std::string> ParseBasePath(std::string_view text)
{
    if (text.empty() || text == "/")
        return std::string();
    if (text.front() != '/' || text.size() > kMaxBasePath)
        return std::nullopt;
    if (text.back() == '/')
        text.remove_suffix(1);
    std::string_view rest = text.substr(1);
    while (true) {
        size_t slash = rest.find('/');
        std::string_view segment = rest.substr(0, slash);
        if (segment.empty() || segment == "." || segment == ".."
            || !std::all_of(segment.begin(), segment.end(), IsSegmentCharacter))
            return std::nullopt;
        if (slash == std::string_view::npos)
            break;
        rest = rest.substr(slash + 1);
    }
    return std::string(text);
}

std::string ReadBasePath(SettingsStore& settings)
{
    return ParseBasePath(settings.ReadText(kKeyBasePath)).value_or(std::string());
}
