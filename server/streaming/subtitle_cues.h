#pragma once

// The lines of a text subtitle file as timed cues, read through the subtitle library
// (subvoro) with whichever of its readers accepts the file (SAMI, SubRip, SSA/ASS,
// WebVTT, MicroDVD, SubViewer). Text comes out as UTF-8 with '\n' between the lines of
// a cue, whatever the file's own encoding (Korean files are often CP949).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SubtitleCue {
    int32_t startMs = 0;
    int32_t endMs = 0;
    std::string text; // UTF-8, lines joined by '\n'
};

// The cues of the file in the order the file gives them (SAMI: the language class of
// samiLanguage, "KR" as the burnt-in subtitles use); nothing when no reader accepts
// the file. framesPerSecond, when above 0, times a frame-counted file (MicroDVD) by
// the video's own rate instead of the library's 25.
std::optional<std::vector<SubtitleCue>> ReadSubtitleCues(
    const std::string& path, const std::string& samiLanguage = "KR", double framesPerSecond = 0);

// Text the library hands out as UTF-8: kept when it is UTF-8 already, else read as
// CP949 (the Korean code page of SAMI files), else cleaned to U+FFFD.
std::string SubtitleTextToUtf8(const std::string& text);
