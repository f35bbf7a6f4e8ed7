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

// The x264 options shared by the three bitrate presets; only the bitrate and the
// threads differ.
constexpr const char* kLiveX264Template
    = "bitrate=%d:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:weightp=0:"
      "nocabac:no8x8dct:bframes=0:frameref=1:%s:keyint=24";

constexpr const char* kConvertX264Template
    = "global_header:bitrate=%d:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:"
      "trellis=0:weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=%d";

void Append(std::vector<std::string>& words, const std::vector<std::string>& more)
{
    words.insert(words.end(), more.begin(), more.end());
}

std::string PipeOption(int pipeNumber)
{
    return "-pipename=" + std::to_string(pipeNumber);
}

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

// "-ss S", "-kf K" and the input path: the head that every line starts with.
std::vector<std::string> MakeInputHead(
    int startSegmentIndex, const std::string& localPath, double keyframeSeconds = -1)
{
    std::vector<std::string> head;
    if (startSegmentIndex != -1)
        head = { "-ss", std::to_string(startSegmentIndex * 5) };
    if (keyframeSeconds >= 0)
        Append(head, { "-kf", Format("%.6f", keyframeSeconds) });
    head.push_back(EnginePathWord(localPath));
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

std::vector<std::string> MakeScaleOption(ScaledSize size, BurnSubtitles subtitles)
{
    std::vector<std::string> words { "-vf", Format("scale=%d:%d", size.width, size.height) };
    if (size.width > size.height)
        return words;
    if (subtitles == BurnSubtitles::Yes)
        Append(words, { "-vf-add", "ass" });
    Append(words, { "-vf-add", "rotate=2" });
    return words;
}

std::vector<std::string> MakeFrameRateOption(float frameRate)
{
    return { "-fps", Format("%3.2f", static_cast<double>(frameRate)) };
}

std::string MakeLiveThreadsOption(unsigned processors)
{
    return (processors >= 1 && processors <= 3) ? "threads=1" : "threads=auto";
}

std::string EnginePathWord(const std::string& path)
{
    return path.starts_with('-') ? "./" + path : path;
}

std::vector<std::string> MakeSubtitleOptions(
    const std::string& fontPath, const std::string& scriptBase, int startSeconds)
{
    std::string filters = "fixpts=fps=24";
    if (startSeconds > 0)
        filters += Format(":start=%d", startSeconds);
    filters += ",ass,fixpts";
    return { "-vf-add", filters, "-ass", "-subcp", "cp949", "-font", EnginePathWord(fontPath),
        "-nosub", "-sub", EnginePathWord(scriptBase + ".ass") };
}

bool IsEncodedVariant(int bandwidth)
{
    return bandwidth >= 1 && bandwidth <= 4;
}

std::vector<std::string> MakeLiveCommandLine(const LiveLine& line)
{
    if (!IsEncodedVariant(line.bandwidth))
        return {};
    std::vector<std::string> words
        = MakeInputHead(line.startSegmentIndex, line.localPath, line.keyframeSeconds);
    Append(words, MakeFrameRateOption(line.frameRate));
    Append(words, { "-ofps", "24", "-cache", "8192" });
    // A browser's choices; the phone's lines never carry them.
    if (line.audioTrack >= 0)
        Append(words, { "-aid", std::to_string(line.audioTrack) });
    if (line.burntSubtitle >= 0 && line.subtitleOptions.empty())
        Append(words, { "-sid", std::to_string(line.burntSubtitle) });
    int firstSegment = std::max(line.startSegmentIndex, 1);
    std::string output = line.servicesFolder + "/" + line.clientId
        + Format("/vemba-%d-%d.ts", line.bandwidth, firstSegment);
    if (line.bandwidth == 4) {
        // The audio preset: the source picture, and no x264 options (the next word
        // is an option, which the engine takes as "none").
        Append(words,
            { "-vf-add", "harddup", "-ovc", "x264", "-x264encopts", "-oac", "faac", "-faacopts",
                "mpeg=4:object=2:raw:br=128", "-of", "lavf", "-lavfopts", "format=mpegts",
                "-avthread", "-vembacast", "5", "-o", EnginePathWord(output),
                PipeOption(line.pipeNumber) });
        return words;
    }
    BurnSubtitles burn = line.subtitleOptions.empty() ? BurnSubtitles::No : BurnSubtitles::Yes;
    Append(words, MakeScaleOption(line.size, burn));
    std::string threads = MakeLiveThreadsOption(line.processors);
    Append(words,
        { "-vf-add", "harddup", "-ovc", "x264", "-x264encopts",
            Format(kLiveX264Template, PresetVideoBitrate(line.bandwidth), threads.c_str()), "-oac",
            "faac", "-faacopts", "mpeg=4:object=2:raw:br=48", "-of", "lavf", "-lavfopts",
            "format=mpegts" });
    Append(words, line.subtitleOptions);
    Append(words,
        { "-avthread", "-vembacast", "5", "-o", EnginePathWord(output),
            PipeOption(line.pipeNumber) });
    return words;
}

std::vector<std::string> MakeConvertCommandLine(const ConvertLine& line)
{
    std::vector<std::string> words = MakeInputHead(-1, line.localPath);
    Append(words, MakeFrameRateOption(line.frameRate));
    Append(words,
        { "-sws", "2", "-mc", "0", "-ofps", "24", "-vf-add", "harddup", "-ovc", "x264",
            "-x264encopts",
            Format(kConvertX264Template, line.bitrate, static_cast<int>(line.processors)), "-oac",
            "faac", "-faacopts", "mpeg=4:object=2:raw:br=128", "-of", "lavf", "-lavfopts",
            "format=mp4" });
    // The conversion builds its subtitle options after the scale option, so its
    // scale never carries "ass".
    Append(words, MakeScaleOption(line.size, BurnSubtitles::No));
    Append(words, line.subtitleOptions);
    Append(
        words, { "-avthread", "-o", EnginePathWord(line.outputPath), PipeOption(line.pipeNumber) });
    return words;
}
