#include "dlna/media_links.h"

#include <cctype>
#include <string_view>

namespace {

std::string LowerExtension(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // The extension only tells the screen the kind of file; anything odd is left out.
    for (char c : extension) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return "bin";
    }
    return extension.empty() ? std::string("bin") : extension;
}

bool IsIdText(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return false;
    }
    return true;
}

// "<id>.<ext>" split at the last dot.
bool SplitName(std::string_view name, std::string& id, std::string& extension)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    id = std::string(name.substr(0, dot));
    extension = std::string(name.substr(dot + 1));
    return IsIdText(id) && !extension.empty();
}

} // namespace

std::string MediaBaseUrl(const std::string& address, int port)
{
    const bool v6 = address.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string DirectMediaUrl(
    const std::string& base, const std::string& id, const std::string& fileName)
{
    return base + kDlnaPathPrefix + "media/" + id + "." + LowerExtension(fileName);
}

std::string StreamUrl(const std::string& base, const std::string& id, int height)
{
    return base + kDlnaPathPrefix + "stream/" + id + "/" + std::to_string(height) + ".ts";
}

std::string ThumbnailUrl(const std::string& base, const std::string& id)
{
    return base + kDlnaPathPrefix + "thumb/" + id + ".jpg";
}

std::string SubtitleUrl(const std::string& base, const std::string& id, const std::string& format)
{
    return base + kDlnaPathPrefix + "sub/" + id + "." + format;
}

std::optional<MediaLink> ParseMediaLink(const std::string& uri)
{
    std::string_view rest(uri);
    if (!rest.starts_with(kDlnaPathPrefix))
        return std::nullopt;
    rest.remove_prefix(std::string_view(kDlnaPathPrefix).size());
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view family = rest.substr(0, slash);
    const std::string_view name = rest.substr(slash + 1);
    MediaLink link;
    std::string extension;
    if (family == "media") {
        if (!SplitName(name, link.id, extension))
            return std::nullopt;
        link.kind = MediaLinkKind::Direct;
        return link;
    }
    if (family == "thumb") {
        if (!SplitName(name, link.id, extension) || extension != "jpg")
            return std::nullopt;
        link.kind = MediaLinkKind::Thumbnail;
        return link;
    }
    if (family == "sub") {
        if (!SplitName(name, link.id, extension) || (extension != "srt" && extension != "smi"))
            return std::nullopt;
        link.kind = MediaLinkKind::Subtitle;
        link.format = extension;
        return link;
    }
    if (family == "stream") {
        const size_t inner = name.find('/');
        if (inner == std::string_view::npos)
            return std::nullopt;
        link.id = std::string(name.substr(0, inner));
        const std::string_view file = name.substr(inner + 1);
        if (!IsIdText(link.id) || (file != "1080.ts" && file != "720.ts"))
            return std::nullopt;
        link.kind = MediaLinkKind::Stream;
        link.format = std::string(file.substr(0, file.find('.')));
        return link;
    }
    return std::nullopt;
}
