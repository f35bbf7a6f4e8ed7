#pragma once

// The addresses of an object's media on the server's own HTTP front, which the
// DIDL-Lite of a browse hands to televisions and the "/dlna/" requests take apart:
//   /dlna/media/<id>.<ext>      the file as it is (byte ranges)
//   /dlna/stream/<id>/<h>.ts    the transcoded MPEG-TS stream, h = 1080 or 720
//   /dlna/thumb/<id>.jpg        the thumbnail (JPEG_TN)
//   /dlna/sub/<id>.<srt|smi>    the SAMI subtitles beside the video, as SRT or as they are

#include <optional>
#include <string>

inline constexpr const char* kDlnaPathPrefix = "/dlna/";

// "http://192.168.1.20:47002": where the screen reaches the HTTP front.
std::string MediaBaseUrl(const std::string& address, int port);

std::string DirectMediaUrl(
    const std::string& base, const std::string& id, const std::string& fileName);
std::string StreamUrl(const std::string& base, const std::string& id, int height);
std::string ThumbnailUrl(const std::string& base, const std::string& id);
std::string SubtitleUrl(const std::string& base, const std::string& id, const std::string& format);

enum class MediaLinkKind { Direct, Stream, Thumbnail, Subtitle };

struct MediaLink {
    MediaLinkKind kind = MediaLinkKind::Direct;
    std::string id;
    std::string format; // Stream: "1080" or "720"; Subtitle: "srt" or "smi"
};

// The link a request path ("/dlna/...") names, or nothing.
std::optional<MediaLink> ParseMediaLink(const std::string& uri);
