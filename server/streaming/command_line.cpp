#include "streaming/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Format(const char* format, auto... args)
{
    int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<size_t>(length));
    return text;
}

// An odd side is rounded down to a multiple of 4 (the encoder's macroblock rows
// like it); an even side is kept.
int RoundSide(int64_t side)
{
    if (side % 2 != 0)
        side = side / 4 * 4;
    return static_cast<int>(std::max<int64_t>(side, 2));
}

// The x264 options shared by the three bitrate presets; only the bitrate differs.
constexpr const char* kLivePresetTemplate
    = "%s -ofps 24 -cache 8192 %s -vf-add harddup -ovc x264 -x264encopts "
      "bitrate=%d:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:weightp=0:"
      "nocabac:no8x8dct:bframes=0:frameref=1:%s:keyint=24 -oac faac -faacopts "
      "mpeg=4:object=2:raw:br=48 -of lavf -lavfopts format=mpegts %s -avthread -vembacast 5 "
      "-o \"%s/%s/vemba-%d-%d.ts\" -pipename=%d";

constexpr const char* kLiveAudioTemplate
    = "%s -ofps 24 -cache 8192 -vf-add harddup -ovc x264 -x264encopts -oac faac -faacopts "
      "mpeg=4:object=2:raw:br=128 -of lavf -lavfopts format=mpegts -avthread -vembacast 5 "
      "-o \"%s/%s/vemba-%d-%d.ts\" -pipename=%d";

constexpr const char* kConvertTemplate
    = "%s  -sws 2 -mc 0 -ofps 24 -vf-add harddup -ovc x264 -x264encopts "
      "global_header:bitrate=%d:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:"
      "trellis=0:weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=%d -oac faac "
      "-faacopts mpeg=4:object=2:raw:br=128 -of lavf -lavfopts format=mp4 %s %s -avthread "
      "-o %s -pipename=%d";

int PresetVideoBitrate(int bandwidth)
{
    switch (bandwidth) {
    case 1:
        return 576;
    case 2:
        return 256;
    case 3:
        return 96;
    default:
        return 0;
    }
}

// " -ss %d " and the quoted input path: the head that every line starts with.
std::string MakeInputHead(int startSegmentIndex, const std::string& localPath)
{
    std::string head;
    if (startSegmentIndex != -1)
        head = Format(" -ss %d ", startSegmentIndex * 5);
    head += " " + QuoteForCommandLine(localPath) + " ";
    return head;
}

} // namespace

int64_t MulDivRound(int64_t a, int64_t b, int64_t c)
{
    if (c == 0)
        return 0;
    int64_t product = a * b;
    bool negative = (product < 0) != (c < 0);
    int64_t magnitude = (std::abs(product) + std::abs(c) / 2) / std::abs(c);
    return negative ? -magnitude : magnitude;
}

ScaledSize ComputeScaledSize(int boxWidth, int boxHeight, int videoWidth, int videoHeight)
{
    if (videoWidth <= 0 || videoHeight <= 0 || boxWidth <= 0 || boxHeight <= 0)
        return {};
    // A portrait (or square) video is fitted into the turned box, since the engine
    // turns it to landscape afterwards.
    if (videoHeight >= videoWidth)
        std::swap(boxWidth, boxHeight);
    int64_t ratioWidth = MulDivRound(boxWidth, 1000, videoWidth);
    int64_t ratioHeight = MulDivRound(boxHeight, 1000, videoHeight);
    int64_t ratio = std::min({ ratioWidth, ratioHeight, int64_t { 1000 } });
    return { RoundSide(MulDivRound(videoWidth, ratio, 1000)),
        RoundSide(MulDivRound(videoHeight, ratio, 1000)) };
}

std::string MakeScaleOption(ScaledSize size, BurnSubtitles subtitles)
{
    if (size.width > size.height)
        return Format("-vf scale=%d:%d", size.width, size.height);
    if (subtitles == BurnSubtitles::Yes)
        return Format("-vf scale=%d:%d -vf-add ass -vf-add rotate=2", size.width, size.height);
    return Format("-vf scale=%d:%d -vf-add rotate=2", size.width, size.height);
}

std::string MakeFrameRateOption(float frameRate)
{
    return Format(" -fps %3.2f ", static_cast<double>(frameRate));
}

std::string MakeLiveThreadsOption(unsigned processors)
{
    return (processors >= 1 && processors <= 3) ? "threads=1" : "threads=auto";
}

std::string EscapeQuotes(const std::string& text)
{
    std::string escaped;
    size_t backslashes = 0; // the run of backslashes just copied
    for (char c : text) {
        if (c == '"') {
            escaped.append(backslashes + 1, '\\'); // the run doubled, then \"
            backslashes = 0;
        } else {
            backslashes = c == '\\' ? backslashes + 1 : 0;
        }
        escaped += c;
    }
    return escaped;
}

std::string QuoteForCommandLine(const std::string& path)
{
    std::string quoted = '"' + EscapeQuotes(path);
    // A run of backslashes at the end stands before the closing quote: doubled.
    size_t last = path.find_last_not_of('\\');
    size_t trailing = last == std::string::npos ? path.size() : path.size() - last - 1;
    quoted.append(trailing, '\\');
    return quoted + '"';
}

std::string MakeSubtitleOptions(
    const std::string& fontPath, const std::string& scriptBase, int startSeconds)
{
    std::string options = "-vf-add fixpts=fps=24";
    if (startSeconds > 0)
        options += Format(":start=%d", startSeconds);
    options += ",ass,fixpts";
    options += " -ass -subcp cp949 -font ";
    // A font path with a blank must stay one word for the engine.
    bool plain = fontPath.find_first_of(" \t\"") == std::string::npos;
    options += plain ? fontPath : QuoteForCommandLine(fontPath);
    options += " -nosub -sub " + QuoteForCommandLine(scriptBase + ".ass") + " ";
    return options;
}

bool IsEncodedVariant(int bandwidth)
{
    return bandwidth >= 1 && bandwidth <= 4;
}

std::string MakeLiveCommandLine(const LiveLine& line)
{
    if (!IsEncodedVariant(line.bandwidth))
        return {};
    std::string text = MakeInputHead(line.startSegmentIndex, line.localPath);
    std::string frameRate = MakeFrameRateOption(line.frameRate);
    int firstSegment = std::max(line.startSegmentIndex, 1);
    std::string services = EscapeQuotes(line.servicesFolder);
    if (line.bandwidth == 4) {
        return text
            + Format(kLiveAudioTemplate, frameRate.c_str(), services.c_str(), line.clientId.c_str(),
                line.bandwidth, firstSegment, line.pipeNumber);
    }
    BurnSubtitles burn = line.subtitleOptions.empty() ? BurnSubtitles::No : BurnSubtitles::Yes;
    std::string scale = MakeScaleOption(line.size, burn);
    std::string threads = MakeLiveThreadsOption(line.processors);
    return text
        + Format(kLivePresetTemplate, frameRate.c_str(), scale.c_str(),
            PresetVideoBitrate(line.bandwidth), threads.c_str(), line.subtitleOptions.c_str(),
            services.c_str(), line.clientId.c_str(), line.bandwidth, firstSegment, line.pipeNumber);
}

std::string MakeConvertCommandLine(const ConvertLine& line)
{
    std::string text = MakeInputHead(-1, line.localPath);
    std::string frameRate = MakeFrameRateOption(line.frameRate);
    // The conversion builds its subtitle options after the scale option, so its
    // scale never carries "ass".
    std::string scale = MakeScaleOption(line.size, BurnSubtitles::No);
    std::string output = QuoteForCommandLine(line.outputPath);
    return text
        + Format(kConvertTemplate, frameRate.c_str(), line.bitrate,
            static_cast<int>(line.processors), scale.c_str(), line.subtitleOptions.c_str(),
            output.c_str(), line.pipeNumber);
}
