#include "http/json_writer.h"

#include "config/utf8_text.h"

#include <cmath>
#include <cstdio>

namespace {

void AppendEscaped(std::string& out, std::string_view text)
{
    static const char* kHex = "0123456789abcdef";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            continue;
        }
        // U+2028 and U+2029 (E2 80 A8/A9) end lines in older JavaScript.
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80
            && (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        out += static_cast<char>(c);
    }
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    AppendEscaped(out, SanitizeUtf8(text));
    return out + '"';
}

void JsonWriter::BeforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_levels.empty()) {
        if (m_levels.back().hasItems)
            m_text += ',';
        m_levels.back().hasItems = true;
    }
}

JsonWriter& JsonWriter::BeginObject()
{
    BeforeValue();
    m_text += '{';
    m_levels.push_back({ '}', false });
    return *this;
}

JsonWriter& JsonWriter::BeginArray()
{
    BeforeValue();
    m_text += '[';
    m_levels.push_back({ ']', false });
    return *this;
}

JsonWriter& JsonWriter::End()
{
    if (!m_levels.empty()) {
        m_text += m_levels.back().closer;
        m_levels.pop_back();
    }
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key)
{
    BeforeValue();
    m_text += JsonString(key);
    m_text += ':';
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text)
{
    BeforeValue();
    m_text += JsonString(text);
    return *this;
}

JsonWriter& JsonWriter::Int(int64_t value)
{
    BeforeValue();
    m_text += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Real(double value, int decimals)
{
    BeforeValue();
    if (!std::isfinite(value)) {
        m_text += "null";
        return *this;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string number = buffer;
    if (number.find('.') != std::string::npos) {
        while (number.back() == '0')
            number.pop_back();
        if (number.back() == '.')
            number.pop_back();
    }
    if (number == "-0")
        number = "0";
    m_text += number;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    BeforeValue();
    m_text += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    BeforeValue();
    m_text += "null";
    return *this;
}
