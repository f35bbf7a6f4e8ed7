#include "engine/video_decode.h"

#include "engine/engine_log.h"
#include "engine/start_timing.h"

#include <thread>

namespace {

// Frames this far before the start are needed only as references.
constexpr double kPrerollMargin = 0.5;

} // namespace

EngineError VideoDecodeStage::Open(const InputMedia& input, const DecodeTuning& tuning)
{
    m_input = &input;
    m_tuning = tuning;
    m_stream = input.VideoStream();
    const AVCodec* codec = avcodec_find_decoder(m_stream->codecpar->codec_id);
    if (!codec) {
        EngineLog(LogLevel::Error, "no decoder for video codec %s",
            avcodec_get_name(m_stream->codecpar->codec_id));
        return kErrorDecoder;
    }
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec || avcodec_parameters_to_context(m_codec.get(), m_stream->codecpar) < 0)
        return kErrorInternal;
    m_codec->pkt_timebase = m_stream->time_base;
    m_codec->thread_count = tuning.decoderThreads;
    m_codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (tuning.skipBidirDeblock)
        m_codec->skip_loop_filter = AVDISCARD_BIDIR;
    int result = avcodec_open2(m_codec.get(), codec, nullptr);
    if (result < 0) {
        EngineLog(
            LogLevel::Error, "cannot open the video decoder: %s", AvErrorText(result).c_str());
        return kErrorDecoder;
    }
    AVRational rate
        = m_stream->avg_frame_rate.num > 0 ? m_stream->avg_frame_rate : m_stream->r_frame_rate;
    if (tuning.fpsHint > 0)
        m_frameSeconds = 1 / tuning.fpsHint;
    else if (rate.num > 0 && rate.den > 0 && av_q2d(rate) < 1000)
        m_frameSeconds = av_q2d(av_inv_q(rate));
    m_firstSlot = tuning.firstSlot >= 0
        ? tuning.firstSlot
        : FrameRateConverter::FirstSlot(tuning.startSeconds, tuning.rateNum, tuning.rateDen);
    m_rate.emplace(tuning.rateNum, tuning.rateDen, m_firstSlot);
    return kErrorNone;
}

void VideoDecodeStage::SetPreroll(const AVPacket& packet)
{
    if (m_tuning.startSeconds <= 0)
        return;
    int64_t ts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    bool before = ts != AV_NOPTS_VALUE
        && m_input->MediaSeconds(ts, m_stream->time_base) < m_tuning.startSeconds - kPrerollMargin;
    m_codec->skip_frame = before ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

bool VideoDecodeStage::HandleFrame(FramePtr frame, VideoWorkQueue& out)
{
    MarkStartStep(StartStep::FirstDecoded);
    double seconds = 0;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
        seconds = m_input->MediaSeconds(frame->best_effort_timestamp, m_stream->time_base);
    else
        seconds = m_lastSeconds < 0 ? 0 : m_lastSeconds + m_frameSeconds;
    m_lastSeconds = seconds;
    double duration = frame->pkt_duration > 0 ? frame->pkt_duration * av_q2d(m_stream->time_base)
                                              : m_frameSeconds;
    AVRational slotLength { m_tuning.rateDen, m_tuning.rateNum };
    return m_rate->Push(std::move(frame), seconds, duration,
        [&](const AVFrame& picture, int64_t slot, uint64_t serial) {
            FramePtr ref = RefFrame(&picture);
            return ref
                && out.Push(VideoWork { std::move(ref), slot, serial, slot * av_q2d(slotLength) });
        });
}

bool VideoDecodeStage::Decode(const AVPacket* packet, VideoWorkQueue& out, JobControl& control)
{
    int result = avcodec_send_packet(m_codec.get(), packet);
    if (result < 0 && result != AVERROR_EOF && ++m_errors <= 5)
        EngineLog(LogLevel::Info, "video packet not decoded: %s", AvErrorText(result).c_str());
    while (!control.Aborted()) {
        FramePtr frame = MakeFrame();
        if (!frame)
            return false;
        result = avcodec_receive_frame(m_codec.get(), frame.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0) {
            if (++m_errors <= 5)
                EngineLog(
                    LogLevel::Info, "video frame not decoded: %s", AvErrorText(result).c_str());
            return true;
        }
        if (!HandleFrame(std::move(frame), out))
            return false;
    }
    return false;
}

void VideoDecodeStage::Run(PacketQueue& in, VideoWorkQueue& out, JobControl& control)
{
    PacketPtr packet;
    bool going = true;
    while (going && in.Pop(packet)) {
        SetPreroll(*packet);
        going = Decode(packet.get(), out, control);
    }
    if (going && !control.Aborted()) {
        m_codec->skip_frame = AVDISCARD_DEFAULT;
        if (Decode(nullptr, out, control))
            m_rate->Finish([&](const AVFrame& picture, int64_t slot, uint64_t serial) {
                FramePtr ref = RefFrame(&picture);
                AVRational slotLength { m_tuning.rateDen, m_tuning.rateNum };
                return ref
                    && out.Push(
                        VideoWork { std::move(ref), slot, serial, slot * av_q2d(slotLength) });
            });
    }
    out.Close();
}
