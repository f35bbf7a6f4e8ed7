// Conversions between real Unicode text and the multi-byte text of a character set.
// The character set is the Windows character-set number that styles carry; character set 1
// (the default) means this system's own code page, which is UTF-8. The others go through iconv.
#pragma once

#include <string>

namespace subvoro {

constexpr int kDefaultCharSet = 1;

// The iconv name of a character set's code page, or nullptr when it is UTF-8.
const char* CodePageOfCharSet(int charSet);
// Bytes (one per character) to Unicode; a byte sequence that cannot be read becomes U+FFFD.
std::wstring MultiByteToWide(const std::wstring& bytes, int charSet);
// Unicode to bytes (one per character); a character that cannot be written becomes '?'.
std::wstring WideToMultiByte(const std::wstring& text, int charSet);

} // namespace subvoro
