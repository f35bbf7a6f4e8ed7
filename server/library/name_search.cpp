#include "library/name_search.h"

#include "library/text_codec.h"

namespace {

constexpr char32_t kSyllableBase = 0xAC00;
constexpr char32_t kLeadBase = 0x1100;
constexpr char32_t kVowelBase = 0x1161;
constexpr char32_t kTailBase = 0x11A7;
constexpr char32_t kLeadCount = 19;
constexpr char32_t kVowelCount = 21;
constexpr char32_t kTailCount = 28;
constexpr char32_t kSyllableCount = kLeadCount * kVowelCount * kTailCount;

bool IsLead(char32_t c)
{
    return c >= kLeadBase && c < kLeadBase + kLeadCount;
}

bool IsVowel(char32_t c)
{
    return c >= kVowelBase && c < kVowelBase + kVowelCount;
}

bool IsTail(char32_t c)
{
    return c > kTailBase && c < kTailBase + kTailCount;
}

// A syllable without a final consonant, which a tail letter may still join.
bool IsOpenSyllable(char32_t c)
{
    return c >= kSyllableBase && c < kSyllableBase + kSyllableCount
        && (c - kSyllableBase) % kTailCount == 0;
}

std::string ToUtf8(const std::u32string& points)
{
    return textcodec::WideToUtf8(std::wstring(points.begin(), points.end()));
}

// Joins lead + vowel (+ tail) letters into syllables, as canonical composition does.
std::u32string ComposeHangul(const std::u32string& text)
{
    std::u32string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (!out.empty()) {
            const char32_t last = out.back();
            if (IsLead(last) && IsVowel(c)) {
                out.back() = kSyllableBase
                    + ((last - kLeadBase) * kVowelCount + (c - kVowelBase)) * kTailCount;
                continue;
            }
            if (IsOpenSyllable(last) && IsTail(c)) {
                out.back() = last + (c - kTailBase);
                continue;
            }
        }
        out += c;
    }
    return out;
}

bool IsBlank(char32_t c)
{
    return c == ' ' || c == '\t' || c == 0x3000 || c == 0xA0;
}

bool IsControl(char32_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

// Whether the UTF-8 text holds a Hangul letter of the conjoining block (U+1100..U+11FF,
// bytes E1 84..87 xx), the only thing a key changes.
bool HoldsHangulLetters(std::string_view text)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if (lead == 0xE1 && next >= 0x84 && next <= 0x87)
            return true;
    }
    return false;
}

} // namespace

std::string SearchKey(std::string_view name)
{
    // Most names hold none: they are their own key, without a decoding pass.
    if (!HoldsHangulLetters(name))
        return std::string(name);
    std::u32string points;
    if (!textcodec::DecodeUtf8(name, points))
        return std::string(name);
    return ToUtf8(ComposeHangul(points));
}

std::optional<SearchWords> ParseSearchQuery(std::string_view query, SearchQueryError& error)
{
    error = SearchQueryError::None;
    std::u32string points;
    if (!textcodec::DecodeUtf8(query, points)) {
        error = SearchQueryError::NotText;
        return std::nullopt;
    }
    if (points.size() > kMaxSearchQueryChars) {
        error = SearchQueryError::TooLong;
        return std::nullopt;
    }
    SearchWords words;
    std::u32string word;
    auto finish = [&] {
        if (word.empty())
            return;
        const std::u32string composed = ComposeHangul(word);
        (composed.size() >= 3 ? words.trigramWords : words.shortWords).push_back(ToUtf8(composed));
        word.clear();
    };
    for (char32_t c : points) {
        if (IsBlank(c)) {
            finish();
            continue;
        }
        if (IsControl(c)) {
            error = SearchQueryError::NotText;
            return std::nullopt;
        }
        word += c;
    }
    finish();
    const size_t count = words.trigramWords.size() + words.shortWords.size();
    if (count == 0) {
        error = SearchQueryError::Empty;
        return std::nullopt;
    }
    if (count > kMaxSearchWords) {
        error = SearchQueryError::TooManyWords;
        return std::nullopt;
    }
    return words;
}

std::string QuotedMatchWord(std::string_view word)
{
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string ContainsPattern(std::string_view word)
{
    std::string pattern = "%";
    for (char c : word) {
        if (c == '%' || c == '_' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    return pattern + '%';
}
