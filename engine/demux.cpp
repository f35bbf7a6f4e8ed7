#include "engine/demux.h"

#include "engine/engine_log.h"

#include <cmath>

std::string LocalUrl(const std::string& path)
{
    // A name like "a:b.mp4" would otherwise be read as protocol "a".
    return path.rfind("file:", 0) == 0 ? path : "file:" + path;
}

EngineError InputMedia::Open(const std::string& path, JobControl& control)
{
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return kErrorInternal;
    format->interrupt_callback = { &JobControl::InterruptCallback, &control };
    // The input is a local file and nothing else: no network, no other protocol,
    // not even for playlists inside it.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
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
    m_format.reset(format);
    result = avformat_find_stream_info(format, nullptr);
    if (result < 0 && control.Aborted()) {
        EngineLog(LogLevel::Info, "told to quit while reading '%s'", path.c_str());
        return kErrorOpenInput;
    }
    if (result < 0) {
        EngineLog(LogLevel::Error, "no stream information in '%s': %s", path.c_str(),
            AvErrorText(result).c_str());
        return kErrorOpenInput;
    }
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
    m_audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, m_video, nullptr, 0);
    if (m_audio < 0)
        m_audio = -1;
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

void InputMedia::Run(PacketQueue& video, PacketQueue* audio, JobControl& control)
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
        bool pushed = true;
        if (packet->stream_index == m_video)
            pushed = video.Push(std::move(packet));
        else if (packet->stream_index == m_audio && audio)
            pushed = audio->Push(std::move(packet));
        if (!pushed && control.Aborted())
            break;
    }
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

uint32_t InputMedia::DurationMs() const
{
    int64_t duration = m_format->duration;
    if (duration == AV_NOPTS_VALUE || duration <= 0)
        return 0;
    int64_t ms = duration / 1000;
    return ms > 0xFFFFFFF0LL ? 0xFFFFFFF0u : static_cast<uint32_t>(ms);
}
