#include "streaming/segment_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Times closer than this are the same key frame (the index keeps six decimals).
constexpr double kSameTime = 1e-6;

// The key frame to end a segment that starts at start: the one nearest to
// start + 5 s among those at least 2 s after start and 2 s before the end; -1 when
// there is none, or the end itself is nearer, and the rest of the file is the last
// segment. Where the key frames are further apart, the segment spans the gap.
double NextCut(
    const std::vector<double>& keyframes, size_t& from, double start, double durationSeconds)
{
    const double target = start + kTargetSegmentSeconds;
    const double latest = durationSeconds - kShortestSegmentSeconds;
    while (from < keyframes.size() && keyframes[from] <= start + kSameTime)
        ++from;
    double best = -1;
    for (size_t i = from; i < keyframes.size() && keyframes[i] <= latest + kSameTime; ++i) {
        double key = keyframes[i];
        if (key < start + kShortestSegmentSeconds - kSameTime)
            continue;
        if (best < 0 || std::fabs(key - target) < std::fabs(best - target))
            best = key;
        if (key >= target)
            break; // later ones are only further from the target
    }
    // The end of the file nearer to the target than any key frame: the rest is the
    // last segment.
    if (best >= 0 && std::fabs(durationSeconds - target) < std::fabs(best - target))
        return -1;
    return best;
}

} // namespace

double SegmentPlan::StartOf(int segment) const
{
    if (segment < 1 || segment > Count())
        return 0;
    return cuts[static_cast<size_t>(segment - 1)];
}

double SegmentPlan::DurationOf(int segment) const
{
    if (segment < 1 || segment > Count())
        return 0;
    double end = segment < Count() ? cuts[static_cast<size_t>(segment)] : endSeconds;
    return std::max(end - StartOf(segment), 0.0);
}

double SegmentPlan::LongestDuration() const
{
    double longest = 0;
    for (int n = 1; n <= Count(); ++n)
        longest = std::max(longest, DurationOf(n));
    return longest;
}

double SegmentPlan::ShortestDuration() const
{
    double shortest = 0;
    for (int n = 1; n <= Count(); ++n)
        shortest = n == 1 ? DurationOf(n) : std::min(shortest, DurationOf(n));
    return shortest;
}

int SegmentPlan::TargetDuration() const
{
    // A duration printed with six decimals rounds to the nearest microsecond first, so
    // 5.0000000001 counts as 5.
    double longest = std::round(LongestDuration() * 1e6) / 1e6;
    return std::max(1, static_cast<int>(std::ceil(longest)));
}

SegmentPlan PlanKeyframeSegments(const std::vector<double>& keyframes, double durationSeconds)
{
    SegmentPlan plan;
    plan.keyframeAligned = true;
    plan.endSeconds = durationSeconds;
    if (plan.endSeconds <= 0 && !keyframes.empty())
        plan.endSeconds = keyframes.back() + kTargetSegmentSeconds;
    plan.cuts.push_back(0);
    size_t from = 0;
    for (;;) {
        double cut = NextCut(keyframes, from, plan.cuts.back(), plan.endSeconds);
        if (cut < 0)
            break;
        plan.cuts.push_back(cut);
    }
    return plan;
}

SegmentPlan PlanGridSegments(double durationSeconds)
{
    SegmentPlan plan;
    plan.endSeconds = durationSeconds > 0 ? durationSeconds : kTargetSegmentSeconds;
    for (double cut = 0; cut < plan.endSeconds - kSameTime; cut += kTargetSegmentSeconds)
        plan.cuts.push_back(cut);
    return plan;
}

std::string SixDecimals(double seconds)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%.6f", seconds);
    return text;
}

std::string CutsFileText(const SegmentPlan& plan)
{
    std::string text;
    text.reserve(plan.cuts.size() * 16);
    for (double cut : plan.cuts)
        text += SixDecimals(cut) + "\n";
    return text;
}
