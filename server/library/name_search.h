#pragma once

// Finding a file by any part of its name. Names are matched through a key: the name
// with Hangul written as separate letters (as some systems store file names)
// joined into syllables, so a name copied from such a disk is found by the word a
// person types. A query is split at blanks into words; a file matches when its key
// holds every word, in any letter case. Words of three characters or more go through
// the index's trigram table; shorter ones (a Korean word is often two syllables) are
// looked for in the names themselves.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kMaxSearchQueryChars = 200;
inline constexpr size_t kMaxSearchWords = 8;

// The key of a name (valid UTF-8 in, valid UTF-8 out).
std::string SearchKey(std::string_view name);

struct SearchWords {
    std::vector<std::string> trigramWords; // three characters or more, keyed
    std::vector<std::string> shortWords; // one or two characters, keyed
};

enum class SearchQueryError { None, Empty, NotText, TooLong, TooManyWords };

// The words of a query; error tells why there are none: nothing but blanks, bytes
// that are not UTF-8 or control characters, more than kMaxSearchQueryChars
// characters or kMaxSearchWords words.
std::optional<SearchWords> ParseSearchQuery(std::string_view query, SearchQueryError& error);

// A word as one FTS5 string ("a""b" for a"b), so nothing in it is read as syntax.
std::string QuotedMatchWord(std::string_view word);
// A word as a LIKE pattern that matches it anywhere, with '\' escaping % _ and '\'.
std::string ContainsPattern(std::string_view word);
