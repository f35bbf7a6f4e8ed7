#pragma once

// The query values of a browser API request, read strictly: every value may be
// hostile, so a malformed query (a '%' without two hexadecimal digits, a NUL byte, a
// name given twice, too many values) is refused as a whole with a reason, instead of
// being read the lenient way the phone's requests are. Names match exactly. Values
// are form-decoded ('+' is a blank) and may still hold any other bytes: each handler
// checks the values it reads (UTF-8, lengths, ranges).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr size_t kMaxQueryValues = 32;

class QueryValues {
public:
    // The values of a raw query string; nothing (and the reason in error) when it is
    // malformed.
    static std::optional<QueryValues> Parse(std::string_view raw, std::string& error);

    // The value of name, or nullptr when the query has none.
    const std::string* Find(std::string_view name) const;

private:
    std::vector<std::pair<std::string, std::string>> m_values;
};

enum class PlusSign { Blank, Plus };

// Decodes %XX escapes (and, in form values, '+' as a blank); nothing for a broken
// escape or a NUL byte.
std::optional<std::string> PercentDecode(std::string_view text, PlusSign plus = PlusSign::Blank);

// text with every byte but letters, digits, - . _ ~ and those of keep written as %XX:
// a query or form value that arrives as it was, whatever it holds.
std::string PercentEncode(std::string_view text, std::string_view keep = {});

// Whole decimal digits within [min, max]; nothing for anything else (signs, blanks,
// leading '+', overflow).
std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t min, int64_t max);

// A plain decimal number ("12", "12.5", ".5") within [min, max]; nothing for
// anything else (exponents, signs, "nan", "inf", blanks).
std::optional<double> ParseDecimal(std::string_view text, double min, double max);
