#include "streaming/browser_command.h"

#include "streaming/command_line.h"
#include "streaming/segment_plan.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kAudioOptions = "mpeg=4:object=2:raw:br=128";

// x264's choice of key frames is free between cuts (the engine forces one at each
// cut); ten seconds between them at most, as the longest segments of a direct
// stream's plan may be that long too.
int KeyInterval(double frameRate)
{
    double rate = frameRate > 0 ? frameRate : 25;
    return std::max(50, static_cast<int>(std::ceil(rate * 10)));
}

// What the engine encodes with when the video of an Original cannot be copied after
// all: the 1080p rates, at whatever size the source has.
std::string FallbackX264Options(double frameRate)
{
    return "profile=high:preset=veryfast:bitrate=6000:vbv_maxrate=9000:vbv_bufsize=6000:keyint="
        + std::to_string(KeyInterval(frameRate)) + ":threads=auto";
}

void Append(std::vector<std::string>& words, const std::vector<std::string>& more)
{
    words.insert(words.end(), more.begin(), more.end());
}

} // namespace

std::string BrowserX264Options(const BrowserVariant& variant)
{
    return "profile=high:preset=veryfast:bitrate=" + std::to_string(variant.videoKbps)
        + ":vbv_maxrate=" + std::to_string(variant.maxKbps)
        + ":vbv_bufsize=" + std::to_string(variant.bufferKbits)
        + ":keyint=" + std::to_string(KeyInterval(variant.frameRate)) + ":level=" + variant.level
        + ":threads=auto";
}

std::vector<std::string> MakeBrowserCommandLine(const BrowserLine& line)
{
    if (!line.variant)
        return {};
    const BrowserVariant& variant = *line.variant;
    std::vector<std::string> words;
    if (line.startSeconds >= 0)
        Append(words, { "-ss", SixDecimals(line.startSeconds) });
    if (line.keyframeSeconds >= 0)
        Append(words, { "-kf", SixDecimals(line.keyframeSeconds) });
    words.push_back(EnginePathWord(line.localPath));
    Append(words, MakeFrameRateOption(line.frameRate));
    if (line.audioTrack >= 0)
        Append(words, { "-aid", std::to_string(line.audioTrack) });
    if (variant.copyVideo) {
        Append(words,
            { "-ovc", "copy", "-x264encopts", FallbackX264Options(variant.frameRate), "-oac",
                "copy", "-faacopts", kAudioOptions });
    } else {
        Append(words,
            { "-autorotate", "-vf",
                "scale=" + std::to_string(variant.width) + ":" + std::to_string(variant.height) });
        if (line.burntSubtitle >= 0)
            Append(words, { "-sid", std::to_string(line.burntSubtitle) });
        Append(words,
            { "-ovc", "x264", "-x264encopts", BrowserX264Options(variant), "-oac", "faac",
                "-faacopts", kAudioOptions });
    }
    Append(words,
        { "-of", "lavf", "-lavfopts", "format=mpegts", "-vembacast", "5", "-cuts",
            EnginePathWord(line.cutsFile), "-o", EnginePathWord(line.output),
            "-pipename=" + std::to_string(line.pipeNumber) });
    return words;
}
