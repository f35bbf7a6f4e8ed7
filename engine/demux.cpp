#include "engine/demux.h"

#include "engine/copy_start.h"
#include "engine/engine_log.h"
#include "engine/start_timing.h"

#include <cmath>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace {

// With -kf the reader needs the streams' parameters only, not a long look at the
// file: a few hundred kilobytes give them for the containers that carry them.
constexpr const char* kShortProbeBytes = "2000000";
constexpr const char* kShortProbeMicroseconds = "1000000";

// How far a seek without an index backs off, in turn, to meet a key frame at or
// before the wanted time; and how many packets it reads to meet one.
constexpr double kSeekBackOffs[] = { 0, 2, 6, 18, 54 };
constexpr int kMaxProbePackets = 20000;

// The index of the `track`-th audio stream, or -1.
int NthAudioStream(const AVFormatContext& format, int track)
{
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && track-- == 0)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

bool CopyableVideo(const AVCodecParameters& params)
{
    return params.codec_id == AV_CODEC_ID_H264
        && (params.format == AV_PIX_FMT_YUV420P || params.format == AV_PIX_FMT_YUVJ420P);
}

bool CopyableAudio(const AVCodecParameters& params)
{
    return params.codec_id == AV_CODEC_ID_AAC || params.codec_id == AV_CODEC_ID_MP3;
}

int UprightTurn(const AVStream& stream)
{
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t))
        return 0;
    double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (!std::isfinite(angle))
        return 0;
    // The matrix turns counter-clockwise; a quarter turn is the nearest one.
    long turns = std::lround(-angle / 90.0);
    return static_cast<int>(((turns % 4) + 4) % 4) * 90;
}

std::string LocalUrl(const std::string& path)
{
    // A name like "a:b.mp4" would otherwise be read as protocol "a".
    return path.rfind("file:", 0) == 0 ? path : "file:" + path;
}

EngineError OpenLocalFormat(
    const std::string& path, JobControl& control, InputContextPtr& opened, bool shortProbe)
{
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return kErrorInternal;
    format->interrupt_callback = { &JobControl::InterruptCallback, &control };
    // The input is a local file and nothing else: no network, no other protocol,
    // not even for playlists inside it.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (shortProbe) {
        av_dict_set(&options, "probesize", kShortProbeBytes, 0);
        av_dict_set(&options, "analyzeduration", kShortProbeMicroseconds, 0);
    }
    int result = avformat_open_input(&format, LocalUrl(path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        // A quit cuts the open short; that says nothing about the file.
        if (control.Aborted()) {
            EngineLog(LogLevel::Info, "told to quit while opening '%s'", path.c_str());
            return kErrorOpenInput;
        }
        EngineLog(
            LogLevel::Error, "cannot open '%s': %s", path.c_str(), AvErrorText(result).c_str());
        return kErrorOpenInput;
    }
    opened.reset(format);
    MarkStartStep(StartStep::Open);
    result = avformat_find_stream_info(format, nullptr);
    MarkStartStep(StartStep::Probe);
    if (result < 0 && control.Aborted()) {
        EngineLog(LogLevel::Info, "told to quit while reading '%s'", path.c_str());
        return kErrorOpenInput;
    }
    if (result < 0) {
        EngineLog(LogLevel::Error, "no stream information in '%s': %s", path.c_str(),
            AvErrorText(result).c_str());
        return kErrorOpenInput;
    }
    return kErrorNone;
}

EngineError InputMedia::Open(const std::string& path, JobControl& control, OpenSettings settings)
{
    const EngineError opened = OpenLocalFormat(path, control, m_format, settings.shortProbe);
    if (opened != kErrorNone)
        return opened;
    AVFormatContext* format = m_format.get();
    m_video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    // Cover pictures are single frames, not the video of the file.
    if (m_video >= 0 && (format->streams[m_video]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        m_video = -1;
    if (m_video < 0) {
        for (unsigned i = 0; i < format->nb_streams && m_video < 0; ++i) {
            AVStream* stream = format->streams[i];
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
                && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
                m_video = static_cast<int>(i);
        }
    }
    if (m_video < 0) {
        EngineLog(LogLevel::Error, "'%s' has no video", path.c_str());
        return kErrorNoVideo;
    }
    if (settings.audioTrack >= 0) {
        m_audio = NthAudioStream(*format, settings.audioTrack);
        if (m_audio < 0) {
            EngineLog(
                LogLevel::Error, "'%s' has no audio stream %d", path.c_str(), settings.audioTrack);
            return kErrorOpenInput;
        }
    } else {
        m_audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, m_video, nullptr, 0);
        if (m_audio < 0)
            m_audio = -1;
    }
    m_originUs = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != m_video && static_cast<int>(i) != m_audio)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
    return kErrorNone;
}

bool InputMedia::SeekTo(double seconds)
{
    if (seconds <= 0)
        return true;
    int64_t target = m_originUs + static_cast<int64_t>(std::llround(seconds * AV_TIME_BASE));
    int result = avformat_seek_file(m_format.get(), -1, INT64_MIN, target, target, 0);
    if (result < 0) {
        // Some inputs seek only backwards by stream; try that before giving up.
        result = av_seek_frame(m_format.get(), -1, target, AVSEEK_FLAG_BACKWARD);
    }
    if (result < 0)
        EngineLog(LogLevel::Warning, "seek to %.3f s failed: %s; decoding from the start", seconds,
            AvErrorText(result).c_str());
    return result >= 0;
}

bool InputMedia::Deal(PacketPtr packet, PacketQueue& video, PacketQueue* audio)
{
    if (packet->stream_index == m_video)
        return video.Push(std::move(packet));
    if (packet->stream_index == m_audio && audio)
        return audio->Push(std::move(packet));
    return true;
}

void InputMedia::PassGate(PacketPtr packet, CopyStartGate& gate, PacketQueue& video,
    PacketQueue* audio, JobControl& control)
{
    std::vector<GatePacket> ready;
    if (packet) {
        AVStream* stream = m_format->streams[packet->stream_index];
        GatePacket item;
        item.video = packet->stream_index == m_video;
        if (!item.video && (packet->stream_index != m_audio || !audio))
            return;
        int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts == AV_NOPTS_VALUE)
            return; // cannot be placed on the timeline of a copy
        item.key = item.video && (packet->flags & AV_PKT_FLAG_KEY);
        item.seconds = MediaSeconds(ts, stream->time_base);
        int64_t duration = packet->duration;
        if (duration <= 0 && !item.video && stream->codecpar->frame_size > 0
            && stream->codecpar->sample_rate > 0)
            duration = av_rescale_q(stream->codecpar->frame_size,
                AVRational { 1, stream->codecpar->sample_rate }, stream->time_base);
        item.end = item.seconds + std::max<int64_t>(duration, 0) * av_q2d(stream->time_base);
        item.packet = std::move(packet);
        bool wasOpen = gate.IsOpen();
        gate.Feed(std::move(item), ready);
        if (!wasOpen && gate.IsOpen())
            control.startSeconds = gate.StartSeconds();
    } else {
        gate.End(ready);
        control.startSeconds = gate.StartSeconds();
    }
    for (GatePacket& item : ready) {
        if (!Deal(std::move(item.packet), video, audio))
            return;
    }
}

bool InputMedia::HasKeyFrameIndex() const
{
    std::string name = m_format->iformat->name ? m_format->iformat->name : "";
    return name.find("mov") != std::string::npos || name.find("matroska") != std::string::npos
        || name == "avi";
}

double InputMedia::FirstKeyFrameAfterSeek(JobControl& control)
{
    for (int read = 0; read < kMaxProbePackets && !control.Aborted(); ++read) {
        PacketPtr packet = MakePacket();
        if (!packet || av_read_frame(m_format.get(), packet.get()) < 0)
            break;
        int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (packet->stream_index == m_video && (packet->flags & AV_PKT_FLAG_KEY)
            && ts != AV_NOPTS_VALUE)
            return MediaSeconds(ts, m_format->streams[m_video]->time_base);
    }
    return -1;
}

bool InputMedia::SeekToKeyFrame(double seconds, double tolerance, JobControl& control)
{
    if (seconds <= 0)
        return true;
    if (HasKeyFrameIndex())
        return SeekTo(seconds + tolerance);
    for (double backOff : kSeekBackOffs) {
        double at = std::max(seconds - backOff, 0.0);
        if (at <= 0 || !SeekTo(at + tolerance))
            break;
        double key = FirstKeyFrameAfterSeek(control);
        if (key >= 0 && key <= seconds + tolerance)
            return SeekTo(at + tolerance);
    }
    // The key frame is far back or the file cannot seek: read from the start.
    avformat_seek_file(m_format.get(), -1, INT64_MIN, m_originUs, m_originUs, 0);
    return false;
}

void InputMedia::Run(
    PacketQueue& video, PacketQueue* audio, JobControl& control, CopyStartGate* gate)
{
    while (!control.Aborted()) {
        PacketPtr packet = MakePacket();
        if (!packet) {
            control.Fail(kErrorInternal, "out of memory reading packets");
            break;
        }
        int result = av_read_frame(m_format.get(), packet.get());
        if (result == AVERROR(EAGAIN))
            continue;
        if (result < 0) {
            // A truncated or damaged file ends here; what was read is encoded.
            if (result != AVERROR_EOF && !control.Aborted())
                EngineLog(LogLevel::Warning, "reading stopped: %s", AvErrorText(result).c_str());
            break;
        }
        MarkStartStep(StartStep::FirstPacket);
        if (gate) {
            PassGate(std::move(packet), *gate, video, audio, control);
            continue;
        }
        if (!Deal(std::move(packet), video, audio) && control.Aborted())
            break;
    }
    if (gate && !control.Aborted())
        PassGate(nullptr, *gate, video, audio, control);
    video.Close();
    if (audio)
        audio->Close();
}

AVStream* InputMedia::VideoStream() const
{
    return m_video >= 0 ? m_format->streams[m_video] : nullptr;
}

AVStream* InputMedia::AudioStream() const
{
    return m_audio >= 0 ? m_format->streams[m_audio] : nullptr;
}

double InputMedia::MediaSeconds(int64_t ts, AVRational tb) const
{
    return ts * av_q2d(tb) - m_originUs / static_cast<double>(AV_TIME_BASE);
}

int64_t InputMedia::OriginIn(AVRational tb) const
{
    return av_rescale_q(m_originUs, AV_TIME_BASE_Q, tb);
}

uint32_t InputMedia::DurationMs() const
{
    int64_t duration = m_format->duration;
    if (duration == AV_NOPTS_VALUE || duration <= 0)
        return 0;
    int64_t ms = duration / 1000;
    return ms > 0xFFFFFFF0LL ? 0xFFFFFFF0u : static_cast<uint32_t>(ms);
}
