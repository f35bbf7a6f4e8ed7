#pragma once

// The font file the engine draws burnt-in subtitles with. Fonts are looked up
// through fontconfig; Korean face names are first turned into the names the fonts
// are installed under, and a font is only accepted when it covers Hangul, since
// fontconfig otherwise answers an unknown family with a Latin-only font.

#include <map>
#include <mutex>
#include <string>

// The family searched for a face name asked for ("굴림" → "Gulim"); a name not in
// the table is returned unchanged.
std::string MapFontFaceName(const std::string& faceName);

// The font files of one server's faces. Fonts do not change while the server runs,
// and a fontconfig match costs far more than a look-up here, so each face is matched
// once. Threads: any; m_lock guards the cache only and is never held across a match
// (two first requests for one face may both match it; the first answer stays).
class FontFiles {
public:
    // 1 with fontPath set to the file of the face, or of the best Korean font when the
    // face is not installed; 0 when faceName is empty or no Hangul font is installed.
    int GetFontFile(const std::string& faceName, std::string& fontPath);

private:
    std::mutex m_lock;
    std::map<std::string, std::string> m_cache; // guarded by m_lock; "" when none matched
};
