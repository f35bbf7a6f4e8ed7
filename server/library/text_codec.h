#pragma once

// UTF-8 checks and conversions for the media library. Text inside the program is
// UTF-8; MediaInfo speaks wide characters (UTF-32 on Linux). Request paths may hold
// any bytes at all, so nothing here trusts its input.

#include <string>
#include <string_view>

namespace textcodec {

bool IsValidUtf8(std::string_view text);

// Code points of text; false (and a partial result) at the first invalid sequence.
bool DecodeUtf8(std::string_view text, std::u32string& codePoints);

// Invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

// Code points that no UTF-8 can carry (surrogates, beyond U+10FFFF) become U+FFFD.
std::string WideToUtf8(std::wstring_view text);

} // namespace textcodec
