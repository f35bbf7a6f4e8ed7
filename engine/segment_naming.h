#pragma once

// The names of live segment files; which media time each holds is the segment
// plan's business (segment_plan.h).

#include <cstdint>
#include <string>

// The file name of segment n: the -o path names one segment ("vemba-1-7.ts");
// the number after the last '-' of its file name is replaced by n. A name without
// such a number gets "-n" before its extension.
std::string SegmentPath(const std::string& pattern, int64_t number);
