#include "library/text_codec.h"

namespace textcodec {

namespace {

    constexpr char32_t kReplacement = 0xFFFD;

    // Reads one code point at text[pos]; returns its byte length, or 0 when invalid.
    size_t ReadCodePoint(std::string_view text, size_t pos, char32_t& codePoint)
    {
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
        unsigned char lead = byte(pos);
        if (lead < 0x80) {
            codePoint = lead;
            return 1;
        }
        size_t length;
        char32_t minimum;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            minimum = 0x80;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            minimum = 0x800;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            minimum = 0x10000;
            codePoint = lead & 0x07;
        } else {
            return 0;
        }
        if (pos + length > text.size())
            return 0;
        for (size_t i = 1; i < length; ++i) {
            if ((byte(pos + i) & 0xC0) != 0x80)
                return 0;
            codePoint = (codePoint << 6) | (byte(pos + i) & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (codePoint < minimum || codePoint > 0x10FFFF
            || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return 0;
        return length;
    }

    void AppendUtf8(std::string& out, char32_t cp)
    {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = kReplacement;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

} // namespace

bool IsValidUtf8(std::string_view text)
{
    char32_t cp;
    for (size_t pos = 0; pos < text.size();) {
        size_t length = ReadCodePoint(text, pos, cp);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

bool DecodeUtf8(std::string_view text, std::u32string& codePoints)
{
    codePoints.clear();
    char32_t cp;
    for (size_t pos = 0; pos < text.size();) {
        size_t length = ReadCodePoint(text, pos, cp);
        if (length == 0)
            return false;
        codePoints += cp;
        pos += length;
    }
    return true;
}

std::wstring Utf8ToWide(std::string_view text)
{
    static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on this platform");
    std::wstring wide;
    wide.reserve(text.size());
    char32_t cp;
    for (size_t pos = 0; pos < text.size();) {
        size_t length = ReadCodePoint(text, pos, cp);
        if (length == 0) {
            wide += static_cast<wchar_t>(kReplacement);
            ++pos;
        } else {
            wide += static_cast<wchar_t>(cp);
            pos += length;
        }
    }
    return wide;
}

std::string WideToUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

} // namespace textcodec
