#include "text_util.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace subvoro {

namespace {

    wchar_t FoldAscii(wchar_t c)
    {
        return (c >= L'a' && c <= L'z') ? wchar_t(c - 32) : c;
    }

    // The ASCII form of a token, or false when it holds anything else.
    bool ToAsciiToken(const std::wstring& text, std::string& out)
    {
        std::wstring trimmed = Trim(text);
        out.clear();
        for (wchar_t c : trimmed) {
            if (c <= 0 || c > 0x7E)
                return false;
            out.push_back(char(c));
        }
        return !out.empty();
    }

} // namespace

bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

std::wstring Trim(const std::wstring& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::wstring ToUpperAscii(std::wstring text)
{
    for (wchar_t& c : text)
        c = FoldAscii(c);
    return text;
}

std::wstring ToLowerAscii(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z')
            c = wchar_t(c + 32);
    }
    return text;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

size_t FindNoCase(const std::wstring& haystack, const std::wstring& needle, size_t from)
{
    if (needle.empty())
        return from <= haystack.size() ? from : std::wstring::npos;
    if (haystack.size() < needle.size())
        return std::wstring::npos;
    const wchar_t first = FoldAscii(needle[0]);
    for (size_t i = from; i + needle.size() <= haystack.size(); ++i) {
        if (FoldAscii(haystack[i]) != first)
            continue;
        size_t k = 1;
        while (k < needle.size() && FoldAscii(haystack[i + k]) == FoldAscii(needle[k]))
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::wstring::npos;
}

std::wstring ReplaceNoCase(
    const std::wstring& text, const std::wstring& from, const std::wstring& to)
{
    if (from.empty())
        return text;
    std::wstring out;
    size_t pos = 0;
    for (size_t hit; (hit = FindNoCase(text, from, pos)) != std::wstring::npos;
         pos = hit + from.size()) {
        out.append(text, pos, hit - pos);
        out += to;
    }
    out.append(text, pos, std::wstring::npos);
    return out;
}

std::wstring ReplaceAll(const std::wstring& text, const std::wstring& from, const std::wstring& to)
{
    if (from.empty())
        return text;
    std::wstring out;
    size_t pos = 0;
    for (size_t hit; (hit = text.find(from, pos)) != std::wstring::npos; pos = hit + from.size()) {
        out.append(text, pos, hit - pos);
        out += to;
    }
    out.append(text, pos, std::wstring::npos);
    return out;
}

bool Contains(const std::wstring& haystack, const std::wstring& needle)
{
    return haystack.find(needle) != std::wstring::npos;
}

std::wstring BytesToWide(const std::string& bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes)
        out.push_back(wchar_t(b));
    return out;
}

std::string WideToBytes(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        out.push_back((c >= 0 && c < 256) ? char(c) : '?');
    return out;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = U'?'; // a lone surrogate or no character at all cannot be written as UTF-8
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

std::string WideToUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf8(out, char32_t(c));
    return out;
}

std::wstring Utf8ToWide(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    const size_t n = text.size();
    auto cont
        = [&](size_t i) { return i < n && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    for (size_t i = 0; i < n;) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        size_t len = 0;
        char32_t c = 0;
        if (b < 0x80) {
            len = 1, c = b;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
            len = 2, c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
            len = 3, c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            len = 4, c = b & 0x07;
        }
        if (len == 0) {
            out.push_back(wchar_t(0xFFFD));
            ++i;
            continue;
        }
        for (size_t k = 1; k < len; ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(wchar_t(c));
        i += len;
    }
    return out;
}

int32_t SaturateInt(int64_t value)
{
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

int32_t TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

bool ParseInt(const std::wstring& text, int32_t& out)
{
    const std::wstring trimmed = Trim(text);
    CLineScanner scan(trimmed);
    int32_t value = 0;
    if (!scan.Int(value) || !scan.AtEnd())
        return false;
    out = value;
    return true;
}

bool ParseDouble(const std::wstring& text, double& out)
{
    std::string token;
    if (!ToAsciiToken(text, token))
        return false;
    const char* begin = token.data();
    if (*begin == '+')
        ++begin;
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(begin, token.data() + token.size(), value);
    if (ec != std::errc() || ptr != token.data() + token.size())
        return false;
    out = value;
    return true;
}

bool ParseColour(const std::wstring& text, uint32_t& out)
{
    std::string token;
    if (!ToAsciiToken(text, token))
        return false;
    size_t pos = 0;
    if (token[pos] == '&')
        ++pos;
    if (pos < token.size() && (token[pos] == 'H' || token[pos] == 'h')) {
        ++pos;
        std::string digits = token.substr(pos);
        if (!digits.empty() && digits.back() == '&')
            digits.pop_back();
        if (digits.empty() || digits.size() > 8)
            return false;
        uint32_t value = 0;
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (ec != std::errc() || ptr != digits.data() + digits.size())
            return false;
        out = value;
        return true;
    }
    if (pos != 0)
        return false;
    int32_t value = 0;
    if (!ParseInt(text, value))
        return false;
    out = uint32_t(value);
    return true;
}

std::wstring Format(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (written < 0)
        return std::wstring();
    size_t length = std::min<size_t>(size_t(written), sizeof buffer - 1);
    return BytesToWide(std::string(buffer, length));
}

std::wstring FormatFixed(double value, int decimals)
{
    if (!std::isfinite(value))
        value = 0.0;
    char buffer[400];
    auto [ptr, ec]
        = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return L"0";
    return BytesToWide(std::string(buffer, ptr));
}

void CLineScanner::SkipSpace()
{
    while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
        ++m_pos;
}

bool CLineScanner::Int(int32_t& out)
{
    size_t pos = m_pos;
    while (pos < m_text.size() && IsSpace(m_text[pos]))
        ++pos;
    bool negative = false;
    if (pos < m_text.size() && (m_text[pos] == L'-' || m_text[pos] == L'+'))
        negative = m_text[pos++] == L'-';
    int64_t value = 0;
    size_t digits = 0;
    while (pos < m_text.size() && m_text[pos] >= L'0' && m_text[pos] <= L'9') {
        if (value < (int64_t(1) << 40))
            value = value * 10 + (m_text[pos] - L'0');
        ++pos, ++digits;
    }
    if (digits == 0)
        return false;
    out = SaturateInt(negative ? -value : value);
    m_pos = pos;
    return true;
}

bool CLineScanner::AnyChar(wchar_t& out)
{
    if (m_pos >= m_text.size())
        return false;
    out = m_text[m_pos++];
    return true;
}

bool CLineScanner::Char(wchar_t c)
{
    if (m_pos >= m_text.size() || m_text[m_pos] != c)
        return false;
    ++m_pos;
    return true;
}

bool CLineScanner::Literal(const wchar_t* literal)
{
    size_t pos = m_pos;
    for (; *literal; ++literal, ++pos) {
        if (pos >= m_text.size() || m_text[pos] != *literal)
            return false;
    }
    m_pos = pos;
    return true;
}

} // namespace subvoro
