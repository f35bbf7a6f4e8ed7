#pragma once

// WebVTT for a browser's text track: the cues of a subtitle, in time order, each with
// its lines as they are (Korean and several lines intact). Text is escaped so no
// line of a subtitle can be read as markup or end a cue early: '&', '<' and '>' become
// entities, and empty lines inside a cue are dropped.

#include "streaming/subtitle_cues.h"

#include <string>
#include <vector>

std::string MakeWebVtt(std::vector<SubtitleCue> cues);

// "HH:MM:SS.mmm" of milliseconds (hours may pass 99).
std::string WebVttClock(int64_t ms);
