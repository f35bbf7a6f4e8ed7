#pragma once

// UTF-8 helpers for text read from files the program does not control: settings,
// language and switch files may hold bytes that are not UTF-8.

#include <string>
#include <string_view>

// The text with every byte sequence that is not well-formed UTF-8 replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// The first maxChars characters (code points) of a well-formed UTF-8 text.
std::string CutUtf8(std::string_view text, size_t maxChars);

// The text without leading and trailing blanks: spaces and tabs, as in header values
// and option words.
std::string_view TrimBlanks(std::string_view text);
// The same, line ends included, as in lines read from files.
std::string_view TrimWhitespace(std::string_view text);
