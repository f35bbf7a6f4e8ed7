#pragma once

// What a client's conversions may take. A conversion writes a file as large as a good
// part of its source beside it, and a page or a client could ask for them without end:
// so a conversion's own output is never converted again (that chain has no end), the
// queue holds at most 20 waiting jobs per client and 100 in all, and no conversion
// starts when the target's disk has less free space than the source's size plus 1 GB.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr size_t kMaxWaitingJobsPerClient = 20;
inline constexpr size_t kMaxWaitingJobs = 100;
inline constexpr uint64_t kConvertDiskReserve = uint64_t(1) << 30;

// True for the names conversions write: "name-vembacast.m4v", the numbered
// "name-vembacast (2).m4v", and the temporary "name-vembacast.m4vtmp".
bool IsConversionOutputName(std::string_view fileName);

// True when the disk that holds outputPath has at least the source's size plus 1 GB
// free. False when either cannot be looked at.
bool HasRoomToConvert(const std::string& sourcePath, const std::string& outputPath);
