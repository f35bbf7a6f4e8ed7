#pragma once

// The plan of a browser's stream, made by "/play" from what is known of the file at
// that moment: its media read and, when a pass has made it already, its key frame
// index. "/play" never waits for an index: without one the stream is transcoded on
// the 5 s grid, and the next play of the file may offer its direct stream.

#include "library/keyframe_index.h"
#include "library/media_properties.h"
#include "streaming/stream_plan.h"

#include <cstdint>
#include <memory>
#include <optional>

struct BrowserPlanInput {
    MediaProperties properties; // defaults when the read failed
    std::shared_ptr<const MediaKeyframeIndex> index; // null when not indexed
    std::optional<int64_t> playSeconds; // the client's claim, when nothing else tells
    bool burntSubtitles = false; // a picture subtitle stream is burnt in (sub=N)
    int audioTrack = -1; // the audio stream chosen (-aid), -1 for the first
    bool homeNetwork = false; // the client asks from the home network
};

// The plan, with no variant when the file has no picture to offer.
std::shared_ptr<StreamPlan> MakeBrowserPlan(const BrowserPlanInput& input);
