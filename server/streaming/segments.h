#pragma once

// Serving the segments of live streams ("/file/", see segments.cpp).

#include "streaming/segment_wait.h"

#include <chrono>
#include <functional>

class HttpRequest;
class StreamingContext;

// The bounds of the waits of a segment request. A request that runs out ends
// without an answer; the client asks again.
struct SegmentServingLimits {
    // No new segment for this long: the engine is stuck, the request gives up.
    std::chrono::milliseconds stallLimit { 60000 };
    // Longest wait for the seek turn (one seek at a time per session).
    std::chrono::milliseconds seekTurnLimit { 60000 };
    Clock* clock = nullptr; // null: the server's clock; tests may pass their own
    // Tests order seeks through this: called with the segment when a seek has
    // announced itself and starts to wait for its turn (Waiting), and when it has
    // its turn and is about to restart the engine (Restarting).
    enum class SeekStep { Waiting, Restarting };
    std::function<void(SeekStep, int segment)> seekHook;
};

// Serves one "/file/" request: the segment, a 404 answer, or nothing.
void qz_play_file(StreamingContext& server, HttpRequest& request);
