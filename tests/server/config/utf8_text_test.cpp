#include "config/utf8_text.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

constexpr const char* kReplacement = "\xEF\xBF\xBD";

TEST(Utf8Text, WellFormedTextPassesUnchanged)
{
    std::string text = "abc \xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x8E\xAC \xC3\xA9\0z"s;
    EXPECT_EQ(SanitizeUtf8(text), text);
}

TEST(Utf8Text, EveryKindOfBadSequenceBecomesAReplacement)
{
    EXPECT_EQ(SanitizeUtf8("a\xFF"), "a"s + kReplacement);
    EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), kReplacement + std::string(kReplacement)); // overlong '/'
    EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80").substr(0, 3), kReplacement); // a surrogate
    EXPECT_EQ(SanitizeUtf8("\xF4\x90\x80\x80").substr(0, 3), kReplacement); // beyond U+10FFFF
    EXPECT_EQ(SanitizeUtf8("\xE2\x82"), kReplacement + std::string(kReplacement)); // cut short
    EXPECT_EQ(SanitizeUtf8("\xE2\x82"
                           "A"),
        kReplacement + std::string(kReplacement) + "A");
}

TEST(Utf8Text, CuttingCountsCharactersNotBytes)
{
    std::string korean = "\xED\x95\x9C\xEA\xB8\x80\xEC\x9E\x90"; // three syllables
    EXPECT_EQ(CutUtf8(korean, 2), korean.substr(0, 6));
    EXPECT_EQ(CutUtf8(korean, 3), korean);
    EXPECT_EQ(CutUtf8(korean, 0), "");
    EXPECT_EQ(CutUtf8("abc", 10), "abc");
}

} // namespace
