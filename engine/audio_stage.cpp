#include "engine/audio_stage.h"

#include "engine/engine_log.h"

#include <cmath>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

// Timestamp differences below this are jitter, not gaps.
constexpr double kGapSeconds = 0.1;

int OutputRate(int source)
{
    static const int rates[]
        = { 96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000 };
    for (int rate : rates) {
        if (rate == source)
            return rate;
    }
    return 48000;
}

} // namespace

bool AudioStage::Open(const InputMedia& input, int bitrateKbps, double startSeconds)
{
    m_input = &input;
    m_stream = input.AudioStream();
    m_start = startSeconds;
    const AVCodec* decoder = avcodec_find_decoder(m_stream->codecpar->codec_id);
    m_decoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), m_stream->codecpar) < 0)
        return false;
    m_decoder->pkt_timebase = m_stream->time_base;
    if (avcodec_open2(m_decoder.get(), decoder, nullptr) < 0) {
        EngineLog(LogLevel::Warning, "audio codec %s cannot be decoded; no sound",
            avcodec_get_name(m_stream->codecpar->codec_id));
        return false;
    }
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    m_encoder.reset(encoder ? avcodec_alloc_context3(encoder) : nullptr);
    if (!m_encoder)
        return false;
    int channels = m_decoder->ch_layout.nb_channels >= 2 ? 2 : 1;
    av_channel_layout_default(&m_encoder->ch_layout, channels);
    m_encoder->sample_rate = OutputRate(m_decoder->sample_rate);
    m_encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_encoder->bit_rate = static_cast<int64_t>(bitrateKbps) * 1000;
    m_encoder->profile = FF_PROFILE_AAC_LOW;
    m_encoder->time_base = AVRational { 1, m_encoder->sample_rate };
    m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_encoder.get(), encoder, nullptr) < 0) {
        EngineLog(LogLevel::Warning, "the AAC encoder cannot be opened; no sound");
        return false;
    }
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, 4096));
    m_nextPts = FirstSample();
    return m_fifo != nullptr;
}

int64_t AudioStage::FirstSample() const
{
    return std::llround(m_start * m_encoder->sample_rate);
}

bool AudioStage::ConfigureResampler(const AVFrame& frame)
{
    AVChannelLayout layout {};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels <= 0)
        av_channel_layout_default(
            &layout, frame.ch_layout.nb_channels > 0 ? frame.ch_layout.nb_channels : 2);
    else
        av_channel_layout_copy(&layout, &frame.ch_layout);
    bool same = m_resampler && m_inRate == frame.sample_rate && m_inFormat == frame.format
        && av_channel_layout_compare(&layout, &m_inLayout) == 0;
    if (same) {
        av_channel_layout_uninit(&layout);
        return true;
    }
    av_channel_layout_uninit(&m_inLayout);
    m_inLayout = layout;
    m_inRate = frame.sample_rate;
    m_inFormat = frame.format;
    SwrContext* swr = nullptr;
    int result = swr_alloc_set_opts2(&swr, &m_encoder->ch_layout, AV_SAMPLE_FMT_FLTP,
        m_encoder->sample_rate, &m_inLayout, static_cast<AVSampleFormat>(frame.format),
        frame.sample_rate, 0, nullptr);
    m_resampler.reset(swr);
    if (result < 0 || swr_init(swr) < 0) {
        m_resampler.reset();
        return false;
    }
    return true;
}

bool AudioStage::Convert(const AVFrame& frame, int offset)
{
    int count = frame.nb_samples - offset;
    const AVSampleFormat format = static_cast<AVSampleFormat>(frame.format);
    int bytes = av_get_bytes_per_sample(format);
    bool planar = av_sample_fmt_is_planar(format);
    int channels = frame.ch_layout.nb_channels > 0 ? frame.ch_layout.nb_channels : 1;
    const uint8_t* in[64] = {};
    int planes = planar ? std::min(channels, 64) : 1;
    for (int i = 0; i < planes; ++i)
        in[i] = frame.extended_data[i]
            + static_cast<ptrdiff_t>(offset) * bytes * (planar ? 1 : channels);
    int capacity = swr_get_out_samples(m_resampler.get(), count);
    uint8_t** out = nullptr;
    int lineSize = 0;
    if (av_samples_alloc_array_and_samples(
            &out, &lineSize, m_encoder->ch_layout.nb_channels, capacity + 32, AV_SAMPLE_FMT_FLTP, 0)
        < 0)
        return false;
    int produced = swr_convert(m_resampler.get(), out, capacity + 32, in, count);
    bool ok = produced < 0
        || av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(out), produced) == produced;
    av_freep(&out[0]);
    av_freep(&out);
    return ok;
}

bool AudioStage::AppendSilence(int64_t samples)
{
    while (samples > 0) {
        int chunk = static_cast<int>(std::min<int64_t>(samples, 48000));
        uint8_t** out = nullptr;
        int lineSize = 0;
        int channels = m_encoder->ch_layout.nb_channels;
        if (av_samples_alloc_array_and_samples(
                &out, &lineSize, channels, chunk, AV_SAMPLE_FMT_FLTP, 0)
            < 0)
            return false;
        av_samples_set_silence(out, 0, chunk, channels, AV_SAMPLE_FMT_FLTP);
        bool ok = av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(out), chunk) == chunk;
        av_freep(&out[0]);
        av_freep(&out);
        if (!ok)
            return false;
        samples -= chunk;
    }
    return true;
}

bool AudioStage::HandleFrame(const AVFrame& frame, MuxInbox& out, int stream, JobControl& control)
{
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0)
        return true;
    double length = static_cast<double>(frame.nb_samples) / frame.sample_rate;
    double seconds = frame.best_effort_timestamp != AV_NOPTS_VALUE
        ? m_input->MediaSeconds(frame.best_effort_timestamp, m_stream->time_base)
        : m_expected;
    int offset = 0;
    if (!m_started) {
        // A copied picture may start a little before -ss: the sound follows it.
        m_start = control.startSeconds.load();
        m_nextPts = FirstSample();
        if (seconds + length <= m_start)
            return true; // before the start of a seek run
        if (seconds < m_start) {
            offset = static_cast<int>(std::llround((m_start - seconds) * frame.sample_rate));
            offset = std::min(offset, frame.nb_samples - 1);
            seconds = m_start;
        } else if (seconds > m_start + kGapSeconds) {
            AppendSilence(std::llround((seconds - m_start) * m_encoder->sample_rate));
        }
        m_started = true;
        m_expected = seconds;
    } else if (seconds - m_expected > kGapSeconds) {
        AppendSilence(std::llround((seconds - m_expected) * m_encoder->sample_rate));
        m_expected = seconds;
    } else if (m_expected - seconds > kGapSeconds) {
        return true; // overlaps what was already played
    }
    if (!ConfigureResampler(frame) || !Convert(frame, offset)) {
        if (++m_errors <= 3)
            EngineLog(LogLevel::Warning, "audio frame dropped: cannot convert it");
        return true;
    }
    m_expected += static_cast<double>(frame.nb_samples - offset) / frame.sample_rate;
    return EncodeAvailable(false, out, stream, control);
}

bool AudioStage::EncodeAvailable(bool flush, MuxInbox& out, int stream, JobControl& control)
{
    int frameSize = m_encoder->frame_size > 0 ? m_encoder->frame_size : 1024;
    while (av_audio_fifo_size(m_fifo.get()) >= frameSize
        || (flush && av_audio_fifo_size(m_fifo.get()) > 0)) {
        int count = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
        FramePtr frame = MakeFrame();
        if (!frame)
            return false;
        frame->nb_samples = frameSize; // a short last frame is padded with silence
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = m_encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &m_encoder->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return false;
        av_samples_set_silence(
            frame->extended_data, 0, frameSize, frame->ch_layout.nb_channels, AV_SAMPLE_FMT_FLTP);
        av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(frame->extended_data), count);
        frame->pts = m_nextPts;
        m_nextPts += count;
        if (avcodec_send_frame(m_encoder.get(), frame.get()) < 0 || !Drain(out, stream, control))
            return false;
    }
    return true;
}

bool AudioStage::Drain(MuxInbox& out, int stream, JobControl& control)
{
    while (!control.Aborted()) {
        PacketPtr packet = MakePacket();
        if (!packet)
            return false;
        int result = avcodec_receive_packet(m_encoder.get(), packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return false;
        out.Push(stream, std::move(packet));
    }
    return false;
}

bool AudioStage::Decode(const AVPacket* packet, MuxInbox& out, int stream, JobControl& control)
{
    int result = avcodec_send_packet(m_decoder.get(), packet);
    if (result < 0 && result != AVERROR_EOF && ++m_errors <= 3)
        EngineLog(LogLevel::Info, "audio packet not decoded: %s", AvErrorText(result).c_str());
    FramePtr frame = MakeFrame();
    while (frame && !control.Aborted()) {
        result = avcodec_receive_frame(m_decoder.get(), frame.get());
        if (result < 0)
            return result == AVERROR(EAGAIN) || result == AVERROR_EOF;
        bool ok = HandleFrame(*frame, out, stream, control);
        av_frame_unref(frame.get());
        if (!ok)
            return false;
    }
    return false;
}

void AudioStage::Run(PacketQueue& in, MuxInbox& out, int stream, JobControl& control)
{
    PacketPtr packet;
    bool ok = true;
    while (ok && !control.Aborted() && in.Pop(packet))
        ok = Decode(packet.get(), out, stream, control);
    if (ok && !control.Aborted() && Decode(nullptr, out, stream, control)) {
        if (m_resampler) {
            int rest = swr_get_out_samples(m_resampler.get(), 0);
            if (rest > 0) {
                uint8_t** tail = nullptr;
                int lineSize = 0;
                if (av_samples_alloc_array_and_samples(&tail, &lineSize,
                        m_encoder->ch_layout.nb_channels, rest, AV_SAMPLE_FMT_FLTP, 0)
                    >= 0) {
                    int got = swr_convert(m_resampler.get(), tail, rest, nullptr, 0);
                    if (got > 0)
                        av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(tail), got);
                    av_freep(&tail[0]);
                    av_freep(&tail);
                }
            }
        }
        if (EncodeAvailable(true, out, stream, control)
            && avcodec_send_frame(m_encoder.get(), nullptr) >= 0)
            Drain(out, stream, control);
    }
    av_channel_layout_uninit(&m_inLayout);
    out.End(stream);
}
