#include "library/request_paths.h"

#include "library/shared_folders.h"
#include "library/text_codec.h"

#include <locale.h>
#include <wctype.h>

namespace {

// Letters and digits in the Unicode sense, independent of the process locale.
bool IsLetterOrDigit(char32_t cp)
{
    if (cp < 0x80)
        return (cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
    static const locale_t utf8Locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return utf8Locale != locale_t(nullptr) && iswalnum_l(static_cast<wint_t>(cp), utf8Locale);
}

bool IsTwiceEncodedForm(const std::string& text)
{
    std::u32string codePoints;
    if (!textcodec::DecodeUtf8(text, codePoints))
        return false;
    for (char32_t cp : codePoints) {
        if (cp != '%' && cp != '/' && cp != '.' && !IsLetterOrDigit(cp))
            return false;
    }
    return true;
}

// The digit rule of the client's encoder: '0'..'9' count from 48, everything else
// from 55 ('A' is 10), and only the low four bits are kept.
unsigned HexDigitValue(unsigned char c)
{
    return (c <= '9' ? c - 48u : c - 55u) & 0x0Fu;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool HasParentComponent(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

std::string DecodePathValue(const std::string& text)
{
    if (!IsTwiceEncodedForm(text))
        return text;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        // A '%' that is not followed by two hexadecimal digits is a character of the
        // name itself ("%n%s%x.mp4"), not an escape.
        if (c == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
            unsigned high = HexDigitValue(static_cast<unsigned char>(text[i + 1]));
            unsigned low = HexDigitValue(static_cast<unsigned char>(text[i + 2]));
            out += static_cast<char>((high << 4) | low);
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string JoinSharePath(const std::string& folder, const std::string& rest)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + rest;
    return folder + "/" + rest;
}

RequestPathMapping MapRequestPath(
    const SharedFolderList& shares, const std::string& value, RequestPathKind kind)
{
    return MapDecodedRequestPath(shares, DecodePathValue(value), kind);
}

RequestPathMapping MapDecodedRequestPath(
    const SharedFolderList& shares, const std::string& decodedPath, RequestPathKind kind)
{
    RequestPathMapping mapping;
    mapping.requestPath = decodedPath;
    const std::string& path = mapping.requestPath;
    if (path.find('\0') != std::string::npos || !textcodec::IsValidUtf8(path)
        || HasParentComponent(path)) {
        mapping.status = RequestPathStatus::Refused;
        return mapping;
    }
    std::string inner = path;
    if (!inner.empty() && inner.front() == '/')
        inner.erase(0, 1);
    size_t slash = inner.find('/');
    mapping.shareName = inner.substr(0, slash);
    std::string rest = slash == std::string::npos ? std::string() : inner.substr(slash + 1);
    std::string folder = mapping.shareName.empty() ? std::string()
                                                   : shares.FindSharedFolderPath(mapping.shareName);
    if (folder.empty()) {
        mapping.status = RequestPathStatus::UnknownShare;
        return mapping;
    }
    if (kind == RequestPathKind::Folder) {
        // "/Movies", "/Movies/" and "/Movies//" all name the share's folder itself.
        while (!rest.empty() && rest.back() == '/')
            rest.pop_back();
        mapping.diskPath = JoinSharePath(folder, rest);
        if (mapping.diskPath.back() != '/')
            mapping.diskPath += '/';
    } else {
        mapping.diskPath = JoinSharePath(folder, rest);
    }
    mapping.status = RequestPathStatus::Mapped;
    return mapping;
}
