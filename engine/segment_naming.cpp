#include "engine/segment_naming.h"

#include <cctype>

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
