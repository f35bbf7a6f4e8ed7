#include "fuzz_targets.h"

#include "config/utf8_text.h"
#include "config/xml_node.h"
#include "http/answer.h"
#include "http/range.h"
#include "http/request.h"
#include "library/request_paths.h"
#include "library/shared_folders.h"
#include "streaming/hls_playlists.h"
#include "streaming/play_input.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

std::string_view Bytes(const uint8_t* data, size_t size)
{
    return { reinterpret_cast<const char*>(data), size };
}

// One share, "Movies", over a folder of the process's own.
struct FuzzShares {
    FuzzShares()
        : folder(std::filesystem::temp_directory_path() / ("vembafuzz-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(folder);
        list.AddSharedFolder(folder, "Movies");
    }
    std::string folder;
    SharedFolderList list;
};

const FuzzShares& Shares()
{
    static const FuzzShares shares;
    return shares;
}

bool HasDotDotPart(std::string_view path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

const XmlNode* FindFirstDict(const XmlNode& node, int depth)
{
    if (depth > 8)
        return nullptr;
    for (const auto& child : node.children) {
        if (child->type == XmlNodeType::Element && child->name == "dict")
            return child.get();
        if (const XmlNode* found = FindFirstDict(*child, depth + 1))
            return found;
    }
    return nullptr;
}

} // namespace

int FuzzRequestPath(const uint8_t* data, size_t size)
{
    const std::string& share = Shares().folder;
    const std::string value(Bytes(data, size));
    const std::string decoded = DecodePathValue(value);
    Require(decoded.size() <= value.size(), "decoding never lengthens a value");
    for (RequestPathKind kind : { RequestPathKind::File, RequestPathKind::Folder }) {
        RequestPathMapping mapping = MapRequestPath(Shares().list, value, kind);
        if (mapping.status != RequestPathStatus::Mapped)
            continue;
        Require(mapping.requestPath == decoded, "the mapping keeps the decoded path");
        Require(mapping.shareName == "Movies", "only the one share maps");
        Require(mapping.diskPath.compare(0, share.size(), share) == 0
                && (mapping.diskPath.size() == share.size()
                    || mapping.diskPath[share.size()] == '/'),
            "a mapped path lies below its share");
        Require(!HasDotDotPart(mapping.diskPath), "a mapped path has no '..' component");
        Require(mapping.diskPath.find('\0') == std::string::npos, "a mapped path has no NUL");
    }
    return 0;
}

int FuzzQueryString(const uint8_t* data, size_t size)
{
    const std::string_view query = Bytes(data, size);
    for (const char* name : { "path", "id", "width", "playtime", "p", "" }) {
        const std::string value = GetQueryVar(query, name);
        Require(value.size() <= query.size(), "a value is no longer than its query");
        Require(value.find('\0') == std::string::npos, "a value ends at a decoded NUL");
        if (std::optional<int64_t> seconds = ParsePlayTime(value))
            Require(*seconds >= 0 && *seconds <= kMaxPlaySeconds, "play times stay in range");
        if (std::optional<int> side = ParseScreenSide(value))
            Require(*side >= kMinScreenSide && *side <= kMaxScreenSide, "screen sides in range");
    }
    return 0;
}

int FuzzRangeHeader(const uint8_t* data, size_t size)
{
    // The first bytes choose the file's size, the rest is the header.
    uint64_t fileSize = 0;
    size_t used = std::min<size_t>(size, 5);
    for (size_t i = 0; i < used; ++i)
        fileSize = (fileSize << 8) | data[i];
    const RangeRequest range = ParseRange(Bytes(data + used, size - used), fileSize);
    if (range.kind == RangeKind::Partial)
        Require(range.first <= range.last && range.last < fileSize, "a range lies in the file");
    return 0;
}

int FuzzPlistWriter(const uint8_t* data, size_t size)
{
    // Key and value split at the first NUL; the document must read back to them.
    const std::string_view bytes = Bytes(data, size);
    const size_t split = std::min(bytes.find('\0'), bytes.size());
    const std::string_view key = bytes.substr(0, split);
    const std::string_view value = bytes.substr(std::min(split + 1, bytes.size()));
    const std::string document = PlistDocument(PlistDict().Add(key, value).Body());
    Require(SanitizeUtf8(document) == document, "documents are UTF-8");

    // Read as the console client reads answers: the first dictionary anywhere (the
    // reader takes the document type declaration for an element that holds the rest).
    XmlNode root(XmlNodeType::Document);
    XmlParseInfo info;
    info.escapeCharacter = 0;
    root.Load(document, info);
    const XmlNode* dict = FindFirstDict(root, 0);
    Require(dict && dict->children.size() == 2, "one key and one value");
    XmlTextOptions plain;
    plain.newLines = false;
    plain.encodeEntities = false;
    Require(dict->children[0]->GetText(plain) == SanitizeUtf8(key), "the key reads back");
    Require(dict->children[1]->GetText(plain) == SanitizeUtf8(value), "the value reads back");
    return 0;
}

int FuzzXmlReader(const uint8_t* data, size_t size)
{
    const std::string_view text = Bytes(data, size);
    for (int variant = 0; variant < 2; ++variant) {
        XmlNode root(XmlNodeType::Document);
        XmlParseInfo info;
        info.trimValue = variant == 1;
        info.forceParse = variant == 1;
        std::optional<size_t> end = root.Load(text, info);
        if (end)
            Require(*end <= text.size(), "the reader stops inside the text");
        Require(!info.errorOccurred || info.errorPosition <= text.size(), "errors point inside");
        (void)root.GetText();
        if (const XmlNode* plist = root.FindChild("plist"))
            (void)plist->FindDict();
    }
    return 0;
}
