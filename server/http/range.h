#pragma once

// The "Range" request header of a single-file answer. One byte range is served as
// 206; a range that lies wholly past the end (or an empty file) as 416; anything
// malformed, inverted, in another unit or asking for several ranges is ignored and
// the whole file is served.

#include <cstdint>
#include <string_view>

enum class RangeKind { Whole, Partial, Unsatisfiable };

struct RangeRequest {
    RangeKind kind = RangeKind::Whole;
    uint64_t first = 0; // inclusive; valid for Partial
    uint64_t last = 0; // inclusive; valid for Partial
};

RangeRequest ParseRange(std::string_view header, uint64_t fileSize);
