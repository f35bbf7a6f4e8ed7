#pragma once

// The engine's arguments for a browser's variant, word by word (see command_line.h
// for the phone's). Every run is cut at the plan's times (-cuts), so its segments
// match the playlist from any start; a run that starts at a cut goes straight to
// the key frame there (-kf) when the file is indexed.
//
//   Original  -ovc copy -oac copy: the video as it is; AAC and MP3 sound as it is,
//             other sound as AAC (the engine decides). The x264 options given are
//             the engine's fallback should the video turn out not to be copyable.
//   HD        -autorotate, -vf scale=W:H of the upright picture, High profile x264
//             with a peak rate and buffer, the source's frame rate (no -ofps), AAC.
//
// Both carry the audio stream the browser chose (-aid); a picture subtitle stream it
// chose is burnt into the transcodes (-sid).

#include "streaming/browser_variants.h"

#include <string>
#include <vector>

struct BrowserLine {
    const BrowserVariant* variant = nullptr;
    std::string localPath;
    double startSeconds = -1; // -1: from the beginning, else a cut
    double keyframeSeconds = -1; // the key frame at or before the start; -1 unknown
    int audioTrack = -1; // -aid; -1: the engine's choice
    float frameRate = 0;
    int burntSubtitle = -1; // -sid: a picture subtitle stream burnt in (transcodes only)
    std::string cutsFile;
    std::string output; // vemba-V-n.ts of the first segment, in the work folder
    int pipeNumber = 0;
};

// The x264 options of a transcode variant.
std::string BrowserX264Options(const BrowserVariant& variant);

// The whole argument list; empty without a variant.
std::vector<std::string> MakeBrowserCommandLine(const BrowserLine& line);
