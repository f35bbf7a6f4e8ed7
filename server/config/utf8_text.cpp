#include "config/utf8_text.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence that starts at text[at], or 0 when there is none.
size_t SequenceLength(std::string_view text, size_t at)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // overlong
        if (lead == 0xF4)
            high = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

} // namespace

std::string SanitizeUtf8(std::string_view text)
{
    std::string clean;
    clean.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        size_t length = SequenceLength(text, at);
        if (length == 0) {
            clean += kReplacement;
            ++at;
        } else {
            clean.append(text.substr(at, length));
            at += length;
        }
    }
    return clean;
}

std::string CutUtf8(std::string_view text, size_t maxChars)
{
    size_t chars = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            continue; // continuation byte
        if (chars == maxChars)
            return std::string(text.substr(0, at));
        ++chars;
    }
    return std::string(text);
}

namespace {

std::string_view TrimOf(std::string_view text, std::string_view blanks)
{
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

std::string_view TrimBlanks(std::string_view text)
{
    return TrimOf(text, " \t");
}

std::string_view TrimWhitespace(std::string_view text)
{
    return TrimOf(text, " \t\r\n");
}
