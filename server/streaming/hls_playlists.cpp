#include "streaming/hls_playlists.h"

#include "http/client_urls.h"
#include "platform/file_io.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 4> kPresetBandwidths = { 864000, 320000, 160000, 64000 };

std::string StreamInfLine(int variant)
{
    return "#EXT-X-STREAM-INF:PROGRAM-ID=1,BANDWIDTH=" + std::to_string(PresetBandwidth(variant))
        + "\r\n";
}

std::string BaseUrl(const std::string& host, unsigned port)
{
    return RootUrl(host, port);
}

} // namespace

namespace {

// A decimal fraction after the seconds ("07.5", "02.500"): phones send the duration
// with milliseconds, and the play time field's 10-character cut may leave only the
// point ("00:01:02."). True when text[start, end) is "." and up to 9 digits; roundUp
// tells whether any of them is not 0.
bool ReadSecondsFraction(const std::string& text, size_t start, size_t end, bool& roundUp)
{
    if (end - start > 10 || text[start] != '.')
        return false;
    roundUp = false;
    for (size_t i = start + 1; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        roundUp = roundUp || text[i] != '0';
    }
    return true;
}

} // namespace

std::optional<int64_t> ParsePlayTime(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    static constexpr int64_t kFieldSeconds[] = { 3600, 60, 1 };
    constexpr int kSecondsField = 2;
    int64_t total = 0;
    size_t start = 0;
    for (int field = 0; field < 3 && start <= text.size(); ++field) {
        size_t end = text.find(':', start);
        if (end == std::string::npos)
            end = text.size();
        size_t digitsEnd = field == kSecondsField ? std::min(text.find('.', start), end) : end;
        if (digitsEnd == start || digitsEnd - start > 9)
            return std::nullopt;
        int64_t value = 0;
        for (size_t i = start; i < digitsEnd; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        // A part of a second still needs its segment: the fraction rounds up.
        bool roundUp = false;
        if (digitsEnd != end && !ReadSecondsFraction(text, digitsEnd, end, roundUp))
            return std::nullopt;
        total += value * kFieldSeconds[field] + (roundUp ? 1 : 0);
        if (total > kMaxPlaySeconds)
            return std::nullopt;
        start = end + 1;
    }
    return total;
}

int SegmentCountForDuration(int64_t durationMs)
{
    constexpr int64_t kSegmentMs = int64_t { kSegmentSeconds } * 1000;
    if (durationMs <= 0)
        return 0;
    return static_cast<int>(durationMs / kSegmentMs + (durationMs % kSegmentMs != 0 ? 1 : 0));
}

int SegmentCountFor(int64_t totalSeconds)
{
    if (totalSeconds <= 0)
        return 0;
    int64_t count = totalSeconds / kSegmentSeconds + (totalSeconds % kSegmentSeconds != 0 ? 1 : 0);
    return static_cast<int>(count);
}

int PresetBandwidth(int variant)
{
    if (variant < 1 || variant > static_cast<int>(kPresetBandwidths.size()))
        return 0;
    return kPresetBandwidths[static_cast<size_t>(variant - 1)];
}

std::string VariantPlaylistName(int variant)
{
    return "movie" + std::to_string(variant) + ".m3u8";
}

std::string SegmentFileName(int variant, int segment)
{
    return "vemba-" + std::to_string(variant) + "-" + std::to_string(segment) + ".ts";
}

std::string MakeVariantPlaylistUrl(
    const std::string& host, unsigned port, const std::string& clientId, int variant)
{
    return BaseUrl(host, port) + "/list/" + clientId + "/" + VariantPlaylistName(variant);
}

std::string MakeMasterPlaylistUrl(
    const std::string& host, unsigned port, const std::string& clientId)
{
    return BaseUrl(host, port) + "/list/" + clientId + "/" + kMasterPlaylistName;
}

std::string MakeSegmentUrl(
    const std::string& host, unsigned port, const std::string& clientId, int variant, int segment)
{
    return BaseUrl(host, port) + "/file/" + clientId + "/" + SegmentFileName(variant, segment);
}

MasterChoice ChooseMasterVariants(int fixedBandwidth, const std::string& connType)
{
    if (fixedBandwidth <= 0)
        return MasterChoice::AllFour;
    return connType == "WIFI" ? MasterChoice::Preset1 : MasterChoice::Preset3;
}

std::string MakeMasterPlaylist(const PlaylistTarget& target, MasterChoice choice)
{
    std::string text = "#EXTM3U\r\n";
    auto addVariant = [&](int variant) {
        text += StreamInfLine(variant);
        text += target.urls == PlaylistUrls::Relative
            ? VariantPlaylistName(variant)
            : MakeVariantPlaylistUrl(target.host, target.port, target.clientId, variant);
        text += "\r\n";
    };
    switch (choice) {
    case MasterChoice::Preset1:
        addVariant(1);
        break;
    case MasterChoice::Preset3:
        addVariant(3);
        break;
    case MasterChoice::AllFour:
        for (int variant = 1; variant <= 4; ++variant)
            addVariant(variant);
        break;
    }
    return text;
}

std::string MakeVariantPlaylist(const PlaylistTarget& target, int variant, int segmentCount)
{
    std::string text = "#EXTM3U\r\n#EXT-X-TARGETDURATION:5\r\n";
    // Relative to "/list/ID/movieV.m3u8".
    std::string origin
        = target.urls == PlaylistUrls::Relative ? "../.." : BaseUrl(target.host, target.port);
    std::string prefix
        = origin + "/file/" + target.clientId + "/vemba-" + std::to_string(variant) + "-";
    text.reserve(
        text.size() + static_cast<size_t>(std::max(segmentCount, 1)) * (prefix.size() + 24));
    for (int segment = 1; segment <= std::max(segmentCount, 1); ++segment) {
        text += "#EXTINF:5,\r\n";
        text += prefix + std::to_string(segment) + ".ts\r\n";
    }
    text += "#EXT-X-ENDLIST\r\n";
    return text;
}

bool WritePlaylists(
    const std::string& folder, const PlaylistTarget& target, MasterChoice choice, int segmentCount)
{
    if (!ReplaceFileWhole(folder + "/" + kMasterPlaylistName, MakeMasterPlaylist(target, choice)))
        return false;
    for (int variant = 1; variant <= kPlaylistVariants; ++variant) {
        std::string path = folder + "/" + VariantPlaylistName(variant);
        if (!ReplaceFileWhole(path, MakeVariantPlaylist(target, variant, segmentCount)))
            return false;
    }
    return true;
}
