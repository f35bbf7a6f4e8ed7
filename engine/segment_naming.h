#pragma once

// Live segments sit on one timeline shared by every run of a stream: segment n
// always holds media time [(n-1)*L, n*L), so the runs started by seeks write
// files that join the ones before them.

#include <cstdint>
#include <string>

// The number of the first segment a run starting at startSeconds writes:
// floor(S / L) + 1.
int FirstSegmentNumber(double startSeconds, int segmentSeconds);

// The segment that holds timestamp ts (in units of num/den seconds), counted on
// the media timeline: floor(ts * num / (den * L)) + 1. Negative times give
// numbers below 1; the caller clamps them.
int64_t SegmentOfTimestamp(int64_t ts, int num, int den, int segmentSeconds);

// The file name of segment n: the -o path names one segment ("vemba-1-7.ts");
// the number after the last '-' of its file name is replaced by n. A name without
// such a number gets "-n" before its extension.
std::string SegmentPath(const std::string& pattern, int64_t number);
