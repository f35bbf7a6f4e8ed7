// Makes a font embedded in a subtitle script available to this process through fontconfig.
#pragma once

#include <string>

namespace subvoro {

// Writes the font to a private temporary folder (removed at exit) and adds it to fontconfig's
// application fonts. Failures are silent: the script still reads, with the system's fonts.
void RegisterEmbeddedFont(const std::wstring& name, const std::string& data);

} // namespace subvoro
