#pragma once

// The overlay's subtitle entries of a video: read from the SAMI file beside it
// with the same language choice as the burnt-in subtitles. Each entry starts a
// line; where a line ends before the next begins, an entry without text clears it.

#include "streaming/client_info.h"

#include <string>
#include <vector>

// Entries ordered by start time (ms), text in UTF-8 with "\N" between lines;
// empty when there is no SAMI file or it holds nothing readable.
std::vector<SubtitleEntry> ReadSubtitleEntries(const std::string& localVideoPath);
