#include "streaming/segment_request.h"

#include "streaming/hls_playlists.h"

namespace {

bool IsPlainComponent(std::string_view part)
{
    return !part.empty() && part != "." && part != ".."
        && part.find('\0') == std::string_view::npos;
}

std::optional<int> ParseDecimal(std::string_view digits)
{
    if (digits.empty() || digits.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<LiveRequestPath> ParseLiveRequestPath(std::string_view uri, std::string_view prefix)
{
    if (!uri.starts_with(prefix))
        return std::nullopt;
    std::string_view rest = uri.substr(prefix.size());
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    std::string_view id = rest.substr(0, slash);
    std::string_view name = rest.substr(slash + 1);
    if (!IsPlainComponent(id) || !IsPlainComponent(name)
        || name.find('/') != std::string_view::npos)
        return std::nullopt;
    return LiveRequestPath { std::string(id), std::string(name) };
}

std::optional<SegmentName> ParseSegmentName(std::string_view name)
{
    constexpr std::string_view kHead = "vemba-";
    constexpr std::string_view kTail = ".ts";
    if (!name.starts_with(kHead) || !name.ends_with(kTail))
        return std::nullopt;
    std::string_view middle = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
    size_t dash = middle.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    auto variant = ParseDecimal(middle.substr(0, dash));
    auto segment = ParseDecimal(middle.substr(dash + 1));
    if (!variant || !segment || *segment < 1)
        return std::nullopt;
    return SegmentName { *variant, *segment };
}

std::optional<int> ParseVariantPlaylistName(std::string_view name)
{
    constexpr std::string_view kHead = "movie";
    constexpr std::string_view kTail = ".m3u8";
    if (!name.starts_with(kHead) || !name.ends_with(kTail) || name.size() > 12)
        return std::nullopt;
    std::string_view digits = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
    std::optional<int> variant = ParseDecimal(digits);
    if (!variant || digits[0] == '0' || *variant > kHighestVariant)
        return std::nullopt;
    return variant;
}

bool IsPlaylistName(std::string_view name)
{
    return name == kMasterPlaylistName || ParseVariantPlaylistName(name).has_value();
}

std::string WorkFolderOf(const std::string& servicesFolder, const std::string& clientId)
{
    return servicesFolder + "/" + clientId;
}

std::string WorkFileOf(const std::string& servicesFolder, const LiveRequestPath& path)
{
    return WorkFolderOf(servicesFolder, path.clientId) + "/" + path.name;
}
