#include "engine/keyframe_index.h"

#include "engine/demux.h"
#include "engine/engine_log.h"
#include "engine/frame_rate.h"
#include "engine/whole_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// The first video packet after a seek to `ts` (stream time base), or null.
PacketPtr FirstVideoPacketAt(AVFormatContext& format, int video, int64_t ts)
{
    if (av_seek_frame(&format, video, ts, AVSEEK_FLAG_BACKWARD) < 0)
        return nullptr;
    for (int read = 0; read < 10000; ++read) {
        PacketPtr packet = MakePacket();
        if (!packet || av_read_frame(&format, packet.get()) < 0)
            return nullptr;
        if (packet->stream_index == video)
            return packet;
    }
    return nullptr;
}

// Key frame timestamps from the container's index, as presentation times in
// the stream's time base. Index entries hold presentation times (Matroska) or
// decoding times (MP4); the first key frame tells which, and a few more spread
// over the file must agree, else the index is not used.
// A key frame's timestamp (stream time base) and its offset in the file (-1 unknown).
struct KeyframeAt {
    int64_t ts = 0;
    int64_t pos = -1;
};

bool IndexedKeyframes(InputMedia& input, std::vector<KeyframeAt>& times)
{
    AVFormatContext& format = *input.Format();
    AVStream* stream = input.VideoStream();
    int video = stream->index;
    if (!input.HasKeyFrameIndex())
        return false;
    // Matroska reads its cues on the first seek.
    av_seek_frame(&format, video, input.OriginIn(stream->time_base), AVSEEK_FLAG_BACKWARD);
    std::vector<int64_t> entries;
    std::vector<int64_t> offsets;
    int count = avformat_index_get_entries_count(stream);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry && (entry->flags & AVINDEX_KEYFRAME) && !(entry->flags & AVINDEX_DISCARD_FRAME)) {
            entries.push_back(entry->timestamp);
            offsets.push_back(entry->pos);
        }
    }
    if (entries.empty())
        return false;
    // Seeks take presentation times; the first key frame is found from the start.
    int64_t start = stream->start_time != AV_NOPTS_VALUE
        ? std::min(entries.front(), stream->start_time)
        : entries.front();
    PacketPtr first = FirstVideoPacketAt(format, video, start);
    if (!first || !(first->flags & AV_PKT_FLAG_KEY) || first->pts == AV_NOPTS_VALUE)
        return false;
    int64_t shift = 0;
    if (first->dts == entries.front())
        shift = first->pts - first->dts;
    else if (first->pts != entries.front())
        return false;
    constexpr int kChecks = 5;
    for (int i = 1; i <= kChecks && entries.size() > 1; ++i) {
        size_t at = (entries.size() - 1) * i / kChecks;
        PacketPtr packet = FirstVideoPacketAt(format, video, entries[at] + shift);
        if (!packet || !(packet->flags & AV_PKT_FLAG_KEY) || packet->pts != entries[at] + shift) {
            EngineLog(LogLevel::Info, "the container's index does not match its packets");
            return false;
        }
    }
    times.clear();
    for (size_t i = 0; i < entries.size(); ++i)
        times.push_back({ entries[i] + shift, offsets[i] });
    return true;
}

// Key frame timestamps from one pass over the video packets (nothing decoded).
bool ScannedKeyframes(InputMedia& input, JobControl& control, std::vector<KeyframeAt>& times)
{
    AVFormatContext& format = *input.Format();
    int video = input.VideoStream()->index;
    for (unsigned i = 0; i < format.nb_streams; ++i)
        format.streams[i]->discard
            = static_cast<int>(i) == video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    times.clear();
    PacketPtr packet = MakePacket();
    if (!packet)
        return false;
    while (!control.Aborted()) {
        int result = av_read_frame(&format, packet.get());
        if (result == AVERROR(EAGAIN))
            continue;
        if (result < 0) {
            if (result != AVERROR_EOF)
                EngineLog(LogLevel::Warning, "reading stopped: %s", AvErrorText(result).c_str());
            break;
        }
        if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY)) {
            int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (ts != AV_NOPTS_VALUE)
                times.push_back({ ts, packet->pos });
        }
        av_packet_unref(packet.get());
    }
    return !control.Aborted();
}

void DescribeStreams(const InputMedia& input, KeyframeIndex& index)
{
    const AVFormatContext& format = *input.Format();
    AVStream* video = input.VideoStream();
    const AVCodecParameters& params = *video->codecpar;
    index.durationSeconds
        = format.duration != AV_NOPTS_VALUE && format.duration > 0 ? format.duration / 1e6 : 0;
    index.videoCodec = avcodec_get_name(params.codec_id);
    index.width = params.width;
    index.height = params.height;
    const char* pixels = av_get_pix_fmt_name(static_cast<AVPixelFormat>(params.format));
    index.pixelFormat = pixels ? pixels : "unknown";
    index.copyable = CopyableVideo(params);
    index.rotation = UprightTurn(*video);
    AVRational rate = NominalFrameRate(video->avg_frame_rate, video->r_frame_rate);
    index.rateNum = rate.num;
    index.rateDen = rate.den;
    index.audio.clear();
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters& audio = *format.streams[i]->codecpar;
        if (audio.codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        index.audio.push_back({ avcodec_get_name(audio.codec_id), audio.ch_layout.nb_channels,
            audio.sample_rate, CopyableAudio(audio) });
    }
}

} // namespace

std::string FormatKeyframeIndex(const KeyframeIndex& index)
{
    std::string text;
    char line[256];
    text += "vembacast-keyframes 1\n";
    snprintf(line, sizeof line, "duration %.6f\n", index.durationSeconds);
    text += line;
    snprintf(line, sizeof line, "video %s %d %d %s\n", OutputWord(index.videoCodec).c_str(),
        index.width, index.height, OutputWord(index.pixelFormat).c_str());
    text += line;
    snprintf(line, sizeof line, "copyable %d\nrotation %d\nfps %d/%d\n", index.copyable ? 1 : 0,
        index.rotation, index.rateNum, index.rateDen);
    text += line;
    for (const KeyframeIndex::Audio& audio : index.audio) {
        snprintf(line, sizeof line, "audio %s %d %d %s\n", OutputWord(audio.codec).c_str(),
            audio.channels, audio.sampleRate, audio.copyable ? "copy" : "encode");
        text += line;
    }
    text += index.fromContainer ? "index container\n" : "index scan\n";
    text += "keyframes " + std::to_string(index.keyframes.size()) + "\n";
    for (double seconds : index.keyframes) {
        snprintf(line, sizeof line, "%.6f\n", seconds);
        text += line;
    }
    if (!index.positions.empty() && index.positions.size() == index.keyframes.size()
        && index.fileBytes > 0) {
        text += "filesize " + std::to_string(index.fileBytes) + "\n";
        text += "positions " + std::to_string(index.positions.size()) + "\n";
        for (int64_t pos : index.positions)
            text += std::to_string(pos) + "\n";
    }
    return text;
}

EngineError BuildKeyframeIndex(const std::string& path, JobControl& control, KeyframeIndex& index)
{
    std::vector<KeyframeAt> times;
    std::vector<std::pair<double, int64_t>> found; // media seconds, file offset
    auto collect = [&](InputMedia& input) {
        found.clear();
        for (const KeyframeAt& at : times)
            found.emplace_back(input.MediaSeconds(at.ts, input.VideoStream()->time_base), at.pos);
        AVIOContext* io = input.Format()->pb;
        int64_t size = io ? avio_size(io) : -1;
        index.fileBytes = size > 0 ? size : 0;
    };
    {
        InputMedia input;
        EngineError result = input.Open(path, control);
        if (result != kErrorNone)
            return result;
        DescribeStreams(input, index);
        index.fromContainer = IndexedKeyframes(input, times);
        collect(input);
    }
    if (!index.fromContainer) {
        // A fresh reader: the index's seeks leave the first one anywhere.
        InputMedia input;
        EngineError result = input.Open(path, control);
        if (result != kErrorNone)
            return result;
        if (!ScannedKeyframes(input, control, times))
            return kErrorOpenInput;
        collect(input);
    }
    std::sort(found.begin(), found.end());
    // Six decimals are all the output keeps: equal there is the same key frame.
    found.erase(std::unique(found.begin(), found.end(),
                    [](const auto& a, const auto& b) {
                        return std::llround(a.first * 1e6) == std::llround(b.first * 1e6);
                    }),
        found.end());
    index.keyframes.clear();
    index.positions.clear();
    bool anyPosition = false;
    for (const auto& [seconds, pos] : found) {
        index.keyframes.push_back(seconds);
        index.positions.push_back(pos >= 0 ? pos : -1);
        anyPosition = anyPosition || pos >= 0;
    }
    if (!anyPosition || index.fileBytes <= 0)
        index.positions.clear();
    return kErrorNone;
}

int RunKeyframeIndex(const std::string& input, const std::string& output)
{
    if (output.empty()) {
        fprintf(stderr, "vembacast-engine: -keyframes needs -o OUT\n");
        return kErrorBadCommandLine;
    }
    JobControl control;
    KeyframeIndex index;
    long long started = EngineElapsedMs();
    EngineError result = BuildKeyframeIndex(input, control, index);
    if (result != kErrorNone) {
        fprintf(stderr, "vembacast-engine: no key frame index for '%s' (code %u)\n", input.c_str(),
            static_cast<unsigned>(result));
        return static_cast<int>(result);
    }
    if (!WriteWholeFile(output, FormatKeyframeIndex(index))) {
        fprintf(stderr, "vembacast-engine: cannot write '%s'\n", output.c_str());
        return kErrorWriteOutput;
    }
    EngineLog(LogLevel::Info, "%zu key frames of '%s' from the %s in %lld ms",
        index.keyframes.size(), input.c_str(),
        index.fromContainer ? "container's index" : "packets", EngineElapsedMs() - started);
    return 0;
}
