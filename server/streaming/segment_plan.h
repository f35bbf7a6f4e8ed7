#pragma once

// Where the segments of a browser's stream begin and end. A copied (direct) stream
// can only be cut at the source's key frames, so its segments follow them: about
// 5 s each, never shorter than 2 s unless the file's key frames are further apart
// (then a segment spans the whole gap). Without a key frame index the stream is
// transcoded on the 5 s grid, and only its last segment is shorter.
//
// The playlist announces these durations and the engine cuts at the same times
// (the cut file, one time a line), so the first picture of segment n is at the sum
// of the durations before it, from whatever point a run starts.

#include <string>
#include <vector>

inline constexpr double kTargetSegmentSeconds = 5.0;
inline constexpr double kShortestSegmentSeconds = 2.0;

struct SegmentPlan {
    std::vector<double> cuts; // where each segment starts (media seconds), first 0
    double endSeconds = 0; // where the last segment ends: the file's length
    bool keyframeAligned = false; // the cuts are key frames of the source

    int Count() const { return static_cast<int>(cuts.size()); }
    // Segment n (1-based): where it starts and how long it lasts.
    double StartOf(int segment) const;
    double DurationOf(int segment) const;
    double LongestDuration() const;
    double ShortestDuration() const;
    // The playlist's target duration: the longest segment, rounded up.
    int TargetDuration() const;
};

// Cuts at key frames (media seconds, ascending) of a file durationSeconds long.
// Each segment ends at the key frame nearest to 5 s after its start among those at
// least 2 s after it, and the last segment is never left shorter than 2 s.
SegmentPlan PlanKeyframeSegments(const std::vector<double>& keyframes, double durationSeconds);

// The 5 s grid over durationSeconds; the last segment lasts what is left. A file of
// unknown length (0) gets one segment of 5 s.
SegmentPlan PlanGridSegments(double durationSeconds);

// The engine's cut file: one cut a line, six decimals (the index's own precision).
std::string CutsFileText(const SegmentPlan& plan);

// Seconds with six decimals, the form of cut times and playlist durations.
std::string SixDecimals(double seconds);
