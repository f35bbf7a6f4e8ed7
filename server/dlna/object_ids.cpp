#include "dlna/object_ids.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr char kPathPrefix = 'p';

std::string EncodeBase64Url(const std::string& bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    uint32_t bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = (bits << 8) | c;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
    }
    if (count > 0)
        out += kAlphabet[(bits << (6 - count)) & 0x3F];
    return out;
}

std::optional<std::string> DecodeBase64Url(const std::string& text)
{
    std::array<int, 256> values {};
    values.fill(-1);
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(kAlphabet[i])] = i;
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (unsigned char c : text) {
        if (values[c] < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(values[c]);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    // Leftover bits must be zero padding of the last character, so every path has
    // exactly one id.
    if (count >= 6 || (bits & ((1u << count) - 1)) != 0)
        return std::nullopt;
    return out;
}

} // namespace

std::string MakeObjectId(const std::string& relativePath)
{
    if (relativePath.empty())
        return kRootObjectId;
    return kPathPrefix + EncodeBase64Url(relativePath);
}

std::optional<std::string> ObjectIdPath(const std::string& id)
{
    if (id == kRootObjectId)
        return std::string();
    if (id.size() < 2 || id.front() != kPathPrefix)
        return std::nullopt;
    std::optional<std::string> path = DecodeBase64Url(id.substr(1));
    if (!path || path->empty())
        return std::nullopt;
    return path;
}

std::string ParentObjectId(const std::string& relativePath)
{
    const size_t slash = relativePath.rfind('/');
    return slash == std::string::npos ? std::string(kRootObjectId)
                                      : MakeObjectId(relativePath.substr(0, slash));
}
