#pragma once

// The values a media read asks MediaInfo for. The vembacast-mediainfo helper runs
// the query; the server only names the file and reads the values back in order.

#include "library/media_info_binding.h"

#include <string>
#include <vector>

namespace mediainfo {

// The values ServeMediaRead sends, in this order: general FileSize, Duration,
// CodecID; video CodecID, FrameRate, Width, Height, Format; audio ID, Format; video
// Format_Profile, Format_Level, Rotation.
inline constexpr size_t kMediaReadValueCount = 13;

// Opens one file and appends every value in order; false when it cannot be opened.
bool ServeMediaRead(const Api& api, const std::string& path, std::vector<std::string>& values);

// The program that runs ServeMediaRead, beside the server's own executable.
inline constexpr const char* kMediaReaderProgram = "vembacast-mediainfo";

} // namespace mediainfo
