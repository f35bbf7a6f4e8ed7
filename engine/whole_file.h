#pragma once

// The output of the engine's one-shot modes (key frame index, track list, text
// subtitles): written as OUT.part and renamed, so whoever reads OUT reads all of it.

#include <string>

// False (and no file left) when any step fails.
bool WriteWholeFile(const std::string& path, const std::string& text);

// A name of the libraries (a codec, a pixel format) as one word of such a file: bytes
// that are blanks or not printable ASCII become '_', and nothing becomes "unknown".
std::string OutputWord(const std::string& text);
