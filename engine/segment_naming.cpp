#include "engine/segment_naming.h"

#include <cctype>
#include <cmath>

int FirstSegmentNumber(double startSeconds, int segmentSeconds)
{
    if (segmentSeconds <= 0 || !(startSeconds > 0))
        return 1;
    // A start given as a whole multiple of L must land exactly on its segment.
    double index = std::floor(startSeconds / segmentSeconds + 1e-9);
    return index >= 2147483646.0 ? 2147483647 : static_cast<int>(index) + 1;
}

int64_t SegmentOfTimestamp(int64_t ts, int num, int den, int segmentSeconds)
{
    __int128 top = static_cast<__int128>(ts) * num;
    __int128 bottom = static_cast<__int128>(den) * segmentSeconds;
    __int128 quotient = top / bottom;
    if (top % bottom != 0 && top < 0)
        --quotient;
    return static_cast<int64_t>(quotient) + 1;
}

std::string SegmentPath(const std::string& pattern, int64_t number)
{
    size_t slash = pattern.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = pattern.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = pattern.size();
    size_t dash = pattern.rfind('-', dot);
    bool numbered = dash != std::string::npos && dash >= nameStart && dash + 1 < dot;
    for (size_t i = dash + 1; numbered && i < dot; ++i)
        numbered = isdigit(static_cast<unsigned char>(pattern[i])) != 0;
    std::string text = std::to_string(number);
    if (numbered)
        return pattern.substr(0, dash + 1) + text + pattern.substr(dot);
    return pattern.substr(0, dot) + "-" + text + pattern.substr(dot);
}
