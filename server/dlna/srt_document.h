#pragma once

// SubRip text of the SAMI subtitles beside a video, for screens that take SRT.

#include "streaming/client_info.h"

#include <string>
#include <vector>

// Each entry with text runs until the next entry starts (the last for 5 seconds);
// "\N" becomes a line break. Entries without text only end the one before.
std::string MakeSrtDocument(const std::vector<SubtitleEntry>& entries);
