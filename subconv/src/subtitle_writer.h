// Writes the subtitle model in one of the output formats, and fills timed-text lists.
#pragma once

#include "sts_model.h"
#include "text_file.h"

#include <string>
#include <subvoro/subvoro.h>

namespace subvoro {

// Frame rate used to turn frames into times (and back) when the caller passes none (<= 0).
constexpr double kFallbackFrameRate = 25.0;

const char* ExtensionOf(exttype type);
// Appends "." and the extension unless the path already ends in it (in any letter case).
std::string CompleteOutputName(const std::string& path, exttype type);

// Writes the whole subtitle in `type` to a file opened for writing.
void WriteSubtitle(const CSimpleTextSubtitle& sts, CTextFile& out, exttype type, double frameRate);
// Writes the ".style" companion that carries the "Default" style beside a plain format.
void WriteStyleCompanion(const CSimpleTextSubtitle& sts, CTextFile& out);
// Completes the name, writes the file and, for plain formats, its companion when the "Default"
// style came from a file. False when a file cannot be created or written.
bool SaveSubtitleFile(const CSimpleTextSubtitle& sts, const std::string& path, exttype type,
    double frameRate, TextEncoding encoding);
bool FillTimedList(
    const CSimpleTextSubtitle& sts, SubtitleList_t* list, exttype type, double frameRate);

// An entry's text with SSA override blocks removed and "\N", "\n" and "\h" made plain.
std::wstring RemoveSsaTags(const std::wstring& text);

} // namespace subvoro
