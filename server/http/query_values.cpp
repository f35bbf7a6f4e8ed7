#include "http/query_values.h"

#include <charconv>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string PercentEncode(std::string_view text, std::string_view keep)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (unsigned char c : text) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')
            || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == '_' || c == '~'
            || keep.find(char(c)) != keep.npos;
        if (plain) {
            encoded += char(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

std::optional<std::string> PercentDecode(std::string_view text, PlusSign plus)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+' && plus == PlusSign::Blank) {
            c = ' ';
        } else if (c == '%') {
            const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0)
                return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0')
            return std::nullopt;
        out += c;
    }
    return out;
}

std::optional<QueryValues> QueryValues::Parse(std::string_view raw, std::string& error)
{
    QueryValues values;
    size_t start = 0;
    while (start <= raw.size() && !raw.empty()) {
        size_t end = raw.find('&', start);
        if (end == std::string_view::npos)
            end = raw.size();
        const std::string_view pair = raw.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        const size_t equals = pair.find('=');
        std::optional<std::string> name = PercentDecode(pair.substr(0, equals));
        std::optional<std::string> value = PercentDecode(
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
        if (!name || !value) {
            error = "The query holds a broken escape or a NUL byte.";
            return std::nullopt;
        }
        if (values.Find(*name)) {
            error = "The query names '" + *name + "' twice.";
            return std::nullopt;
        }
        if (values.m_values.size() == kMaxQueryValues) {
            error = "The query holds too many values.";
            return std::nullopt;
        }
        values.m_values.emplace_back(std::move(*name), std::move(*value));
    }
    return values;
}

const std::string* QueryValues::Find(std::string_view name) const
{
    for (const auto& [key, value] : m_values) {
        if (key == name)
            return &value;
    }
    return nullptr;
}

std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t min, int64_t max)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> ParseDecimal(std::string_view text, double min, double max)
{
    if (text.empty() || text.size() > 32)
        return std::nullopt;
    bool digits = false, point = false;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c == '.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (!digits)
        return std::nullopt;
    // Not strtod: the desktop application runs under the user's locale, whose
    // decimal point may be a comma.
    double value = 0;
    const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (fault != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}
