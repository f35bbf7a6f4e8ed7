#include "engine/stream_copy.h"

#include "engine/engine_log.h"

#include <cstring>

namespace {

constexpr int kNalSequenceParameterSet = 7;

void MoveToMediaTime(AVPacket& packet, int64_t origin)
{
    // Some containers (AVI) give decoding times only; MPEG-TS needs a presentation time.
    if (packet.pts == AV_NOPTS_VALUE)
        packet.pts = packet.dts;
    if (packet.pts != AV_NOPTS_VALUE)
        packet.pts -= origin;
    if (packet.dts != AV_NOPTS_VALUE)
        packet.dts -= origin;
}

} // namespace

bool HasSequenceParameterSet(const uint8_t* data, size_t size)
{
    // Start codes are 00 00 01 (a fourth leading zero belongs to the one before).
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if ((data[i + 3] & 0x1F) == kNalSequenceParameterSet)
                return true;
            i += 2;
        }
    }
    return false;
}

bool VideoCopyStage::Open(const InputMedia& input)
{
    m_stream = input.VideoStream();
    m_origin = input.OriginIn(m_stream->time_base);
    const AVBitStreamFilter* filter = av_bsf_get_by_name("h264_mp4toannexb");
    AVBSFContext* context = nullptr;
    if (!filter || av_bsf_alloc(filter, &context) < 0)
        return false;
    m_bsf.reset(context);
    if (avcodec_parameters_copy(context->par_in, m_stream->codecpar) < 0)
        return false;
    context->time_base_in = m_stream->time_base;
    int result = av_bsf_init(context);
    if (result < 0) {
        EngineLog(LogLevel::Error, "the H.264 stream cannot be prepared for copying: %s",
            AvErrorText(result).c_str());
        return false;
    }
    return true;
}

OutputStream VideoCopyStage::Output() const
{
    OutputStream output;
    output.params = CopyParameters(*m_bsf->par_out);
    output.timeBase = m_bsf->time_base_out;
    output.video = true;
    return output;
}

bool VideoCopyStage::EnsureParameterSets(AVPacket& packet)
{
    const AVCodecParameters& params = *m_bsf->par_out;
    if (!(packet.flags & AV_PKT_FLAG_KEY) || params.extradata_size < 4
        || HasSequenceParameterSet(packet.data, static_cast<size_t>(packet.size))
        || !HasSequenceParameterSet(params.extradata, static_cast<size_t>(params.extradata_size)))
        return true;
    PacketPtr joined = MakePacket();
    if (!joined || av_new_packet(joined.get(), params.extradata_size + packet.size) < 0)
        return false;
    memcpy(joined->data, params.extradata, static_cast<size_t>(params.extradata_size));
    memcpy(joined->data + params.extradata_size, packet.data, static_cast<size_t>(packet.size));
    if (av_packet_copy_props(joined.get(), &packet) < 0)
        return false;
    av_packet_unref(&packet);
    av_packet_move_ref(&packet, joined.get());
    return true;
}

bool VideoCopyStage::Filter(AVPacket* packet, MuxInbox& out, int stream, JobControl& control)
{
    int result = av_bsf_send_packet(m_bsf.get(), packet);
    if (result < 0 && result != AVERROR_EOF) {
        EngineLog(LogLevel::Info, "video packet not copied: %s", AvErrorText(result).c_str());
        return true;
    }
    while (!control.Aborted()) {
        PacketPtr filtered = MakePacket();
        if (!filtered)
            return false;
        result = av_bsf_receive_packet(m_bsf.get(), filtered.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0) {
            EngineLog(LogLevel::Info, "video packet not copied: %s", AvErrorText(result).c_str());
            return true;
        }
        if (!EnsureParameterSets(*filtered))
            return false;
        ++m_written;
        out.Push(stream, std::move(filtered));
    }
    return false;
}

void VideoCopyStage::Run(PacketQueue& in, MuxInbox& out, int stream, JobControl& control)
{
    PacketPtr packet;
    bool going = true;
    while (going && !control.Aborted() && in.Pop(packet)) {
        MoveToMediaTime(*packet, m_origin);
        going = Filter(packet.get(), out, stream, control);
    }
    if (going && !control.Aborted())
        Filter(nullptr, out, stream, control);
    if (!going && !control.Aborted())
        control.Fail(kErrorInternal, "out of memory copying the video");
    out.End(stream);
}

void AudioCopyStage::Open(const InputMedia& input)
{
    m_stream = input.AudioStream();
    m_origin = input.OriginIn(m_stream->time_base);
}

OutputStream AudioCopyStage::Output() const
{
    OutputStream output;
    output.params = CopyParameters(*m_stream->codecpar);
    output.timeBase = m_stream->time_base;
    return output;
}

void AudioCopyStage::Run(PacketQueue& in, MuxInbox& out, int stream, JobControl& control)
{
    PacketPtr packet;
    AVRational tb = m_stream->time_base;
    int64_t frame = 0;
    if (m_stream->codecpar->frame_size > 0 && m_stream->codecpar->sample_rate > 0)
        frame = av_rescale_q(
            m_stream->codecpar->frame_size, AVRational { 1, m_stream->codecpar->sample_rate }, tb);
    while (!control.Aborted() && in.Pop(packet)) {
        if (packet->pts == AV_NOPTS_VALUE && packet->dts == AV_NOPTS_VALUE)
            continue;
        MoveToMediaTime(*packet, m_origin);
        int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        int64_t length = packet->duration > 0 ? packet->duration : frame;
        if ((ts + length) * av_q2d(tb) <= control.startSeconds.load())
            continue; // before the run's start
        out.Push(stream, std::move(packet));
    }
    out.End(stream);
}
