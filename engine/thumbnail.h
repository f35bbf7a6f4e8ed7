#pragma once

// Thumbnail runs: the server asks for one picture of a file at a time (message
// 4 with the path) and gets one frame from about a tenth into the file, scaled
// to fit 640x480, as a 48-byte bitmap header (a 40-byte bitmap information
// header, then 8 zero bytes) followed by B,G,R rows from the top down, each row
// padded to a multiple of 4 bytes.

#include "engine/control_channel.h"
#include "engine/engine_job.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kThumbnailMaxWidth = 640;
inline constexpr int kThumbnailMaxHeight = 480;
inline constexpr size_t kBitmapHeaderSize = 48;

// The payload of message 7 for the file, or false when no picture can be made.
bool MakeThumbnailImage(
    const std::string& path, JobControl& control, std::vector<uint8_t>& payload);

// The header for a width x height picture; returns the padded row length.
size_t WriteBitmapHeader(int width, int height, uint8_t* header);

// The size that fits width x height (display shape) into 640x480, never larger.
void FitThumbnail(int width, int height, int& outWidth, int& outHeight);

// Answers requests until the server quits or goes away.
void ServeThumbnails(ControlChannel& channel, JobControl& control);
