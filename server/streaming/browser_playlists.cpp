#include "streaming/browser_playlists.h"

#include "platform/file_io.h"
#include "streaming/hls_playlists.h"

#include <cstdio>

namespace {

std::string FrameRateText(double rate)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", rate);
    return text;
}

std::string StreamInf(const BrowserVariant& variant)
{
    std::string line = "#EXT-X-STREAM-INF:BANDWIDTH=" + std::to_string(variant.bandwidth)
        + ",AVERAGE-BANDWIDTH=" + std::to_string(variant.averageBandwidth) + ",CODECS=\""
        + variant.codecs + "\",RESOLUTION=" + std::to_string(variant.width) + "x"
        + std::to_string(variant.height);
    if (variant.frameRate > 0)
        line += ",FRAME-RATE=" + FrameRateText(variant.frameRate);
    return line + "\n";
}

} // namespace

std::string MakeBrowserMasterPlaylist(const std::vector<BrowserVariant>& variants)
{
    // Every segment starts with a key frame of its own (the cuts), so a player may
    // switch variants at any segment.
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-INDEPENDENT-SEGMENTS\n";
    for (const BrowserVariant& variant : variants)
        text += StreamInf(variant) + VariantPlaylistName(variant.number) + "\n";
    return text;
}

std::string MakeBrowserVariantPlaylist(
    const SegmentPlan& plan, const std::string& clientId, int variant)
{
    std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-PLAYLIST-TYPE:VOD\n"
                       "#EXT-X-TARGETDURATION:"
        + std::to_string(plan.TargetDuration()) + "\n#EXT-X-MEDIA-SEQUENCE:1\n";
    // The playlist is /list/ID/movieV.m3u8; its segments are /file/ID/vemba-V-n.ts.
    std::string prefix = "../../file/" + clientId + "/vemba-" + std::to_string(variant) + "-";
    text.reserve(text.size() + static_cast<size_t>(plan.Count()) * (prefix.size() + 32));
    for (int n = 1; n <= plan.Count(); ++n) {
        text += "#EXTINF:" + SixDecimals(plan.DurationOf(n)) + ",\n";
        text += prefix + std::to_string(n) + ".ts\n";
    }
    text += "#EXT-X-ENDLIST\n";
    return text;
}

bool WriteBrowserPlaylists(const std::string& folder, const std::string& clientId,
    const std::vector<BrowserVariant>& variants, const SegmentPlan& plan)
{
    if (!ReplaceFileWhole(folder + "/" + kCutsFileName, CutsFileText(plan)))
        return false;
    for (const BrowserVariant& variant : variants) {
        if (!ReplaceFileWhole(folder + "/" + VariantPlaylistName(variant.number),
                MakeBrowserVariantPlaylist(plan, clientId, variant.number)))
            return false;
    }
    return ReplaceFileWhole(
        folder + "/" + kMasterPlaylistName, MakeBrowserMasterPlaylist(variants));
}
