#pragma once

// The index the encoder engine writes beside a video's seek preview sheets
// ("previews.txt", format in the engine's seek_previews.h), read back, and the WebVTT
// thumbnails track a browser gets from it: one cue per picture, each cue's text the
// sheet's URL with the picture's place as a media fragment ("...#xywh=x,y,w,h").

#include "protocol/preview_sheets.h"

#include <functional>
#include <optional>
#include <string>

struct PreviewIndex {
    PreviewGrid grid;
    int intervalSeconds = kPreviewIntervalSeconds;
    int pictures = 0;
    int sheets = 0;
    double durationSeconds = 0;
};

// The index of the text; nothing when it is not one whose sheets can be placed (an
// unknown version, a grid out of bounds, a sheet count that does not fit the
// pictures).
std::optional<PreviewIndex> ParsePreviewIndex(const std::string& text);

// The WebVTT track. sheetUrl gives the URL of sheet n as the track should name it.
std::string MakePreviewTrack(
    const PreviewIndex& index, const std::function<std::string(int sheet)>& sheetUrl);
