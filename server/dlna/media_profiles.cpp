#include "dlna/media_profiles.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

// Streaming and background transfer, connection stall, DLNA 1.5.
constexpr const char* kStreamingFlags = "01700000000000000000000000000000";

std::string Extension(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string AvcMp4Profile(const MediaProperties& properties)
{
    if (properties.width <= 720 && properties.height <= 576)
        return "AVC_MP4_MP_SD_AAC_MULT5";
    if (properties.width <= 1280 && properties.height <= 720)
        return "AVC_MP4_MP_HD_720p_AAC";
    return "AVC_MP4_MP_HD_1080i_AAC";
}

bool HasAacOrNoAudio(const MediaProperties& properties)
{
    return properties.audioId.empty() || properties.audioFormat == "AAC";
}

std::string MimeOfExtension(const std::string& extension)
{
    static const struct {
        const char* extension;
        const char* mime;
    } kTypes[] = {
        { "mp4", "video/mp4" },
        { "m4v", "video/mp4" },
        { "mov", "video/quicktime" },
        { "mkv", "video/x-matroska" },
        { "avi", "video/x-msvideo" },
        { "divx", "video/x-msvideo" },
        { "ts", "video/mpeg" },
        { "tp", "video/mpeg" },
        { "mpg", "video/mpeg" },
        { "mpeg", "video/mpeg" },
        { "vob", "video/mpeg" },
        { "wmv", "video/x-ms-wmv" },
        { "asf", "video/x-ms-asf" },
        { "wm", "video/x-ms-wmv" },
        { "flv", "video/x-flv" },
        { "3gp", "video/3gpp" },
        { "3g2", "video/3gpp2" },
        { "k3g", "video/3gpp" },
        { "skm", "video/3gpp" },
        { "kgp", "video/3gpp" },
    };
    for (const auto& type : kTypes) {
        if (extension == type.extension)
            return type.mime;
    }
    return "application/octet-stream";
}

} // namespace

DirectProfile DirectProfileOf(const std::string& fileName, const MediaProperties& properties)
{
    const std::string extension = Extension(fileName);
    DirectProfile profile { MimeOfExtension(extension), std::string() };
    const bool avc = properties.videoFormat == "AVC";
    if ((extension == "mp4" || extension == "m4v") && avc && HasAacOrNoAudio(properties))
        profile.profileName = AvcMp4Profile(properties);
    else if ((extension == "mpg" || extension == "mpeg") && properties.videoFormat == "MPEG Video")
        profile.profileName = properties.height == 576 ? "MPEG_PS_PAL" : "MPEG_PS_NTSC";
    return profile;
}

std::string DirectContentFeatures(const DirectProfile& profile)
{
    std::string features;
    if (!profile.profileName.empty())
        features = "DLNA.ORG_PN=" + profile.profileName + ";";
    return features + "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=" + kStreamingFlags;
}

std::string StreamContentFeatures()
{
    return std::string("DLNA.ORG_OP=10;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=") + kStreamingFlags;
}

std::string ThumbnailContentFeatures()
{
    return "DLNA.ORG_PN=JPEG_TN;DLNA.ORG_OP=01;DLNA.ORG_CI=1;"
           "DLNA.ORG_FLAGS=00f00000000000000000000000000000";
}

std::string DirectProtocolInfo(const DirectProfile& profile)
{
    return "http-get:*:" + profile.mimeType + ":" + DirectContentFeatures(profile);
}

std::string StreamProtocolInfo()
{
    return std::string("http-get:*:") + kStreamMimeType + ":" + StreamContentFeatures();
}

std::string FormatDidlDuration(int64_t durationMs)
{
    if (durationMs < 0)
        durationMs = 0;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld",
        static_cast<long long>(durationMs / 3600000),
        static_cast<long long>(durationMs / 60000 % 60),
        static_cast<long long>(durationMs / 1000 % 60), static_cast<long long>(durationMs % 1000));
    return text;
}

StreamBox StreamBoxOf(int height)
{
    return height >= 1080 ? StreamBox { 1920, 1080 } : StreamBox { 1280, 720 };
}

StreamBox FitIntoStreamBox(int boxHeight, int videoWidth, int videoHeight)
{
    if (videoWidth <= 0 || videoHeight <= 0)
        return StreamBox {};
    const StreamBox box = StreamBoxOf(boxHeight);
    const double scale
        = std::min({ 1.0, double(box.width) / videoWidth, double(box.height) / videoHeight });
    auto even
        = [](double side) { return std::max(2, static_cast<int>(std::lround(side)) / 2 * 2); };
    return StreamBox { even(videoWidth * scale), even(videoHeight * scale) };
}
