#pragma once

// The playlists of a browser's stream, valid HLS (RFC 8216): the master names every
// offered variant with its peak and average bandwidth, codecs, picture size and
// frame rate; a variant playlist lists the segments of the plan with their true
// durations (six decimals, so their sums are the cut times), a target duration of
// the longest rounded up, and the VOD type. Every URL is relative to the playlist
// itself ("movie7.m3u8", "../../file/ID/vemba-7-3.ts"), never to the root, so the
// playlists work under any host, scheme and path prefix. The phone's playlists are
// hls_playlists.h, unchanged.

#include "streaming/browser_variants.h"
#include "streaming/segment_plan.h"

#include <string>
#include <vector>

std::string MakeBrowserMasterPlaylist(const std::vector<BrowserVariant>& variants);

std::string MakeBrowserVariantPlaylist(
    const SegmentPlan& plan, const std::string& clientId, int variant);

// The name of the engine's cut file in a session's work folder.
inline constexpr const char* kCutsFileName = "cuts.txt";

// Writes the master playlist, one playlist per variant and the cut file into folder,
// each whole (a temporary name, then a rename). False when any cannot be written.
bool WriteBrowserPlaylists(const std::string& folder, const std::string& clientId,
    const std::vector<BrowserVariant>& variants, const SegmentPlan& plan);
