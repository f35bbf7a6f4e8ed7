// Small text helpers shared by the readers and writers. Subtitle text is held as std::wstring:
// either real Unicode characters or the bytes of a multi-byte text, one byte per character.
// Case folding and white space are ASCII only, so multi-byte trail bytes are never disturbed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace subvoro {

bool IsSpace(wchar_t c);
std::wstring Trim(const std::wstring& text);
std::wstring ToUpperAscii(std::wstring text);
std::wstring ToLowerAscii(std::wstring text);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
// Position of needle in haystack from `from` on, ignoring ASCII case; npos when absent.
size_t FindNoCase(const std::wstring& haystack, const std::wstring& needle, size_t from = 0);
// Replaces every occurrence of `from`, ignoring ASCII case.
std::wstring ReplaceNoCase(
    const std::wstring& text, const std::wstring& from, const std::wstring& to);
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& from, const std::wstring& to);
bool Contains(const std::wstring& haystack, const std::wstring& needle);

// Each byte of `bytes` becomes one character, and back (characters above 255 become '?').
std::wstring BytesToWide(const std::string& bytes);
std::string WideToBytes(const std::wstring& text);
// UTF-8 to real Unicode characters; a bad sequence becomes U+FFFD.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
void AppendUtf8(std::string& out, char32_t c);

int32_t SaturateInt(int64_t value);
// Truncates toward zero; NaN becomes 0 and values beyond the int range are clamped.
int32_t TruncateToInt(double value);
// A decimal integer with optional sign and nothing else around it (after trimming).
bool ParseInt(const std::wstring& text, int32_t& out);
// A decimal number in the C locale's form, with nothing else around it (after trimming).
bool ParseDouble(const std::wstring& text, double& out);
// A colour as "&Hhex", "&Hhex&", "Hhex" or a decimal number.
bool ParseColour(const std::wstring& text, uint32_t& out);

// printf into ASCII and widened; only for numbers and ASCII literals.
std::wstring Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A double with exactly `decimals` decimals, independent of the C locale.
std::wstring FormatFixed(double value, int decimals);

// Reads a line the way the C library's scanf conversions would: %d skips white space and takes
// an optional sign and at least one digit (saturating), %c takes any one character.
class CLineScanner {
public:
    explicit CLineScanner(const std::wstring& text, size_t pos = 0)
        : m_text(text)
        , m_pos(pos)
    {
    }
    // The scanner keeps a reference: it must not be given a temporary.
    CLineScanner(std::wstring&&, size_t = 0) = delete;

    bool Int(int32_t& out);
    bool AnyChar(wchar_t& out);
    bool Char(wchar_t c);
    bool Literal(const wchar_t* literal);
    void SkipSpace();
    bool AtEnd() const { return m_pos >= m_text.size(); }
    size_t Pos() const { return m_pos; }
    std::wstring Rest() const
    {
        return m_pos < m_text.size() ? m_text.substr(m_pos) : std::wstring();
    }

private:
    const std::wstring& m_text;
    size_t m_pos;
};

} // namespace subvoro
