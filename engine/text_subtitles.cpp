#include "engine/text_subtitles.h"

#include "engine/demux.h"
#include "engine/engine_log.h"
#include "engine/whole_file.h"

#include <algorithm>
#include <cstdio>

namespace {

// A cue whose stream gives no end lasts until the next one, at most this long.
constexpr int64_t kOpenCueMs = 5000;

struct DecoderDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && (text[start] == '\n' || text[start] == ' '))
        ++start;
    return text.substr(start);
}

// The index of the `track`-th subtitle stream, or -1.
int NthSubtitleStream(const AVFormatContext& format, int track)
{
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE && track-- == 0)
            return static_cast<int>(i);
    }
    return -1;
}

std::string SubtitleText(const AVSubtitle& subtitle)
{
    std::string text;
    for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const AVSubtitleRect& rect = *subtitle.rects[i];
        std::string line;
        if (rect.type == SUBTITLE_ASS && rect.ass)
            line = AssEventText(rect.ass);
        else if (rect.type == SUBTITLE_TEXT && rect.text)
            line = rect.text;
        line = Trimmed(line);
        if (!line.empty())
            text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

// Ends the cues that the stream left open at the next cue's start.
void CloseOpenCues(std::vector<TextCue>& cues)
{
    std::stable_sort(cues.begin(), cues.end(),
        [](const TextCue& a, const TextCue& b) { return a.startMs < b.startMs; });
    for (size_t i = 0; i < cues.size(); ++i) {
        if (cues[i].endMs > cues[i].startMs)
            continue;
        int64_t end = cues[i].startMs + kOpenCueMs;
        if (i + 1 < cues.size() && cues[i + 1].startMs > cues[i].startMs)
            end = std::min(end, cues[i + 1].startMs);
        cues[i].endMs = end;
    }
}

void AppendClock(std::string& out, int64_t ms)
{
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02lld:%02lld:%02lld,%03lld",
        static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
        static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    out += clock;
}

} // namespace

bool IsTextSubtitleCodec(AVCodecID codec)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
    return descriptor && (descriptor->props & AV_CODEC_PROP_TEXT_SUB);
}

std::string AssEventText(std::string_view event)
{
    size_t at = 0;
    for (int field = 0; field < 8; ++field) {
        const size_t comma = event.find(',', at);
        if (comma == std::string_view::npos)
            return {};
        at = comma + 1;
    }
    std::string text;
    bool inBlock = false;
    for (size_t i = at; i < event.size(); ++i) {
        const char c = event[i];
        if (inBlock) {
            inBlock = c != '}';
            continue;
        }
        if (c == '{' && event.find('}', i) != std::string_view::npos) {
            inBlock = true;
            continue;
        }
        if (c == '\\' && i + 1 < event.size()) {
            const char next = event[i + 1];
            if (next == 'N' || next == 'n') {
                text += '\n';
                ++i;
                continue;
            }
            if (next == 'h') {
                text += ' ';
                ++i;
                continue;
            }
        }
        if (c != '\r')
            text += c;
    }
    return text;
}

EngineError ReadTextSubtitles(const std::string& path, int track, std::vector<TextCue>& cues)
{
    JobControl control;
    InputContextPtr format;
    EngineError result = OpenLocalFormat(path, control, format);
    if (result != kErrorNone)
        return result;
    const int index = NthSubtitleStream(*format, track);
    if (index < 0) {
        EngineLog(LogLevel::Error, "'%s' has no subtitle stream %d", path.c_str(), track);
        return kErrorOpenInput;
    }
    const AVStream& stream = *format->streams[index];
    if (!IsTextSubtitleCodec(stream.codecpar->codec_id)) {
        EngineLog(LogLevel::Error, "subtitle stream %d of '%s' is not text", track, path.c_str());
        return kErrorDecoder;
    }
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    std::unique_ptr<AVCodecContext, DecoderDeleter> decoder(avcodec_alloc_context3(codec));
    if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0)
        return kErrorDecoder;
    decoder->pkt_timebase = stream.time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return kErrorDecoder;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard
            = static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    const int64_t origin = format->start_time != AV_NOPTS_VALUE
        ? av_rescale_q(format->start_time, AV_TIME_BASE_Q, stream.time_base)
        : 0;
    PacketPtr packet = MakePacket();
    if (!packet)
        return kErrorInternal;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index && packet->pts != AV_NOPTS_VALUE) {
            AVSubtitle subtitle {};
            int got = 0;
            if (avcodec_decode_subtitle2(decoder.get(), &subtitle, &got, packet.get()) >= 0
                && got) {
                const int64_t at
                    = av_rescale_q(packet->pts - origin, stream.time_base, { 1, 1000 });
                TextCue cue;
                cue.startMs = std::max<int64_t>(0, at + subtitle.start_display_time);
                if (subtitle.end_display_time > subtitle.start_display_time
                    && subtitle.end_display_time != UINT32_MAX)
                    cue.endMs = at + subtitle.end_display_time;
                else if (packet->duration > 0)
                    cue.endMs = at + av_rescale_q(packet->duration, stream.time_base, { 1, 1000 });
                cue.text = SubtitleText(subtitle);
                if (!cue.text.empty())
                    cues.push_back(std::move(cue));
                avsubtitle_free(&subtitle);
            }
        }
        av_packet_unref(packet.get());
    }
    CloseOpenCues(cues);
    return kErrorNone;
}

std::string FormatSubRip(const std::vector<TextCue>& cues)
{
    std::string out;
    int number = 0;
    for (const TextCue& cue : cues) {
        std::string text;
        for (size_t start = 0; start <= cue.text.size();) {
            size_t end = cue.text.find('\n', start);
            if (end == std::string::npos)
                end = cue.text.size();
            const std::string line = Trimmed(cue.text.substr(start, end - start));
            if (!line.empty())
                text += line + "\n";
            start = end + 1;
        }
        if (text.empty())
            continue;
        out += std::to_string(++number) + "\n";
        AppendClock(out, cue.startMs);
        out += " --> ";
        AppendClock(out, std::max(cue.endMs, cue.startMs));
        out += "\n" + text + "\n";
    }
    return out;
}

int RunTextSubtitles(const std::string& input, int track, const std::string& output)
{
    if (output.empty() || input.empty()) {
        std::fprintf(stderr, "vembacast-engine: -textsub needs an input and -o OUT\n");
        return kErrorBadCommandLine;
    }
    std::vector<TextCue> cues;
    const EngineError result = ReadTextSubtitles(input, track, cues);
    if (result != kErrorNone) {
        std::fprintf(stderr, "vembacast-engine: no text subtitles from '%s' (code %u)\n",
            input.c_str(), static_cast<unsigned>(result));
        return static_cast<int>(result);
    }
    if (!WriteWholeFile(output, FormatSubRip(cues))) {
        std::fprintf(stderr, "vembacast-engine: cannot write '%s'\n", output.c_str());
        return kErrorWriteOutput;
    }
    EngineLog(LogLevel::Info, "%zu cues of subtitle stream %d of '%s'", cues.size(), track,
        input.c_str());
    return 0;
}
