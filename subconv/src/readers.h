// The subtitle readers and the driver that tries them in a fixed order.
//
// Each reader reads the whole file from its current position, fills the model and answers
// whether it accepts the file. A reader declines at the first non-empty line that fits none of
// its patterns; the driver then either reports a syntax error (when the reader had already added
// entries) or rewinds and tries the next one. The SAMI reader accepts everything, so the readers
// behind it are only reached for the ".style" companion, which is read as SubStation Alpha.
#pragma once

#include "sts_model.h"
#include "text_file.h"

#include <functional>
#include <string>

namespace subvoro {

// Receives a font embedded in a SubStation Alpha file: its name and its decoded bytes.
using FontSink = std::function<void(const std::wstring& name, const std::string& data)>;

struct ReadContext {
    int charSet = 1;
    FontSink fontSink;
};

bool ReadSubRip(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext& ctx);
bool ReadOldSubRip(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext& ctx);
bool ReadSubViewer(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext& ctx);
bool ReadMicroDvd(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext& ctx);
bool ReadSami(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext& ctx);
bool ReadSubStationAlpha(CTextFile& file, CSimpleTextSubtitle& sts, const ReadContext& ctx);

// Decodes the text form of a font embedded in a SubStation Alpha file.
std::string DecodeEmbeddedFont(const std::wstring& encoded);

struct OpenNotices {
    std::function<void(int line)> syntaxError; // 1-based line where a reader gave up
    UnknownStyleNotice unknownStyle;
    FontSink fontSink;
};

// Empties the model and runs the readers over `file`; true when one accepted it.
bool ReadSubtitleFile(CTextFile& file, CSimpleTextSubtitle& sts, const OpenNotices& notices);

} // namespace subvoro
