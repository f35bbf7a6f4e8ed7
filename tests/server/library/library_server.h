#pragma once

// Helpers of the media-library tests over the loopback server: listings, clips
// and pictures.

#include "support/loopback_server.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The <dict>...</dict> entry of a listing whose name is the escaped name, or empty.
std::string ListingEntry(const std::string& document, const std::string& escapedName);

// Short clips made with the ffmpeg tool; the container follows the extension.
bool MakeVideo(const std::string& path, int seconds = 2, int width = 160, int height = 120,
    const std::string& audioCodec = "aac", const std::string& videoCodec = "libx264");
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Width and height of a JPEG; false when the bytes are no JPEG.
bool JpegSize(const std::string& bytes, int& width, int& height);
