#pragma once

// What a screen is told about each resource of a video: the MIME type and, where
// the file matches one, its DLNA profile name, and the fourth field of the
// protocolInfo with the operations the server offers on it.

#include "library/media_properties.h"

#include <string>

struct DirectProfile {
    std::string mimeType;
    std::string profileName; // empty when no DLNA profile fits
};

// The file as it is, by its extension and codecs.
DirectProfile DirectProfileOf(const std::string& fileName, const MediaProperties& properties);

// "http-get:*:<mime>:DLNA.ORG_PN=..;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=.."
// (byte ranges on the file as it is).
std::string DirectProtocolInfo(const DirectProfile& profile);
// The transcoded MPEG-TS stream: time seek only (OP=10), converted (CI=1).
std::string StreamProtocolInfo();
// The fourth protocolInfo field of each, as contentFeatures.dlna.org carries it.
std::string DirectContentFeatures(const DirectProfile& profile);
std::string StreamContentFeatures();
std::string ThumbnailContentFeatures();

// The MIME type of the transcoded stream.
inline constexpr const char* kStreamMimeType = "video/mpeg";

// "H:MM:SS.mmm" as DIDL-Lite durations are written.
std::string FormatDidlDuration(int64_t durationMs);

// The box the transcoded variant of this height fits the picture into.
struct StreamBox {
    int width = 0;
    int height = 0;
};
StreamBox StreamBoxOf(int height);

// The picture size of the transcoded variant: the video fitted into the box with its
// aspect kept, never enlarged, both sides even (H.264 4:2:0 needs that).
StreamBox FitIntoStreamBox(int boxHeight, int videoWidth, int videoHeight);
