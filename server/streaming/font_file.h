#pragma once

// The font file the engine draws burnt-in subtitles with. Fonts are looked up
// through fontconfig; Korean face names are first turned into the names the fonts
// are installed under, and a font is only accepted when it covers Hangul, since
// fontconfig otherwise answers an unknown family with a Latin-only font.

#include <string>

// The family searched for a face name asked for ("굴림" → "Gulim"); a name not in
// the table is returned unchanged.
std::string MapFontFaceName(const std::string& faceName);

// 1 with fontPath set to the file of the face, or of the best Korean font when the
// face is not installed; 0 when faceName is empty or no Hangul font is installed.
int GetFontFile(const std::string& faceName, std::string& fontPath);
