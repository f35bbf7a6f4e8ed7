#include "engine/video_encode.h"

#include "engine/engine_log.h"
#include "engine/start_timing.h"

EngineError VideoEncodeStage::Open(const VideoEncodeSettings& settings)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        EngineLog(LogLevel::Error, "the H.264 encoder is missing");
        return kErrorEncoder;
    }
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec)
        return kErrorInternal;
    m_plan = settings.plan;
    AVCodecContext* c = m_codec.get();
    c->width = settings.width;
    c->height = settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational { settings.rateDen, settings.rateNum };
    c->framerate = AVRational { settings.rateNum, settings.rateDen };
    c->sample_aspect_ratio = settings.sampleAspect;
    if (settings.x264.bitrateKbps > 0)
        c->bit_rate = static_cast<int64_t>(settings.x264.bitrateKbps) * 1000;
    c->thread_count = settings.x264.threads >= 0 ? settings.x264.threads : 0;
    if (settings.globalHeader || settings.x264.globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* options = nullptr;
    // A key frame requested for a segment start must be an IDR picture.
    av_dict_set(&options, "forced-idr", "1", 0);
    if (!settings.x264.preset.empty())
        av_dict_set(&options, "preset", settings.x264.preset.c_str(), 0);
    if (!settings.x264.tune.empty())
        av_dict_set(&options, "tune", settings.x264.tune.c_str(), 0);
    if (!settings.x264.profile.empty())
        av_dict_set(&options, "profile", settings.x264.profile.c_str(), 0);
    std::string params = JoinX264Params(settings.x264.params);
    if (!params.empty())
        av_dict_set(&options, "x264-params", params.c_str(), 0);
    int result = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        EngineLog(LogLevel::Error, "cannot open the H.264 encoder (%dx%d, '%s'): %s", c->width,
            c->height, params.c_str(), AvErrorText(result).c_str());
        return kErrorEncoder;
    }
    return kErrorNone;
}

bool VideoEncodeStage::Drain(MuxInbox& out, int stream, JobControl& control)
{
    while (true) {
        PacketPtr packet = MakePacket();
        if (!packet)
            return false;
        int result = avcodec_receive_packet(m_codec.get(), packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0) {
            control.Fail(kErrorEncoder, "H.264 encoding failed: " + AvErrorText(result));
            return false;
        }
        MarkStartStep(StartStep::FirstEncoded);
        out.Push(stream, std::move(packet));
    }
}

bool VideoEncodeStage::SegmentStart(int64_t slot) const
{
    if (!m_plan)
        return false;
    int num = m_codec->time_base.den;
    int den = m_codec->time_base.num;
    return m_plan->FirstSlotOf(m_plan->SegmentOfSlot(slot, num, den), num, den) == slot;
}

void VideoEncodeStage::Run(FrameQueue& in, MuxInbox& out, int stream, JobControl& control)
{
    VideoWork work;
    bool ok = true;
    while (ok && !control.Aborted() && in.Pop(work)) {
        AVFrame* frame = work.frame.get();
        bool segmentStart = SegmentStart(frame->pts);
        frame->pict_type = (m_first || segmentStart) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        frame->key_frame = 0;
        m_first = false;
        int result = avcodec_send_frame(m_codec.get(), frame);
        if (result < 0) {
            control.Fail(kErrorEncoder, "H.264 encoding failed: " + AvErrorText(result));
            break;
        }
        ++control.framesEncoded;
        ok = Drain(out, stream, control);
    }
    if (ok && !control.Aborted() && avcodec_send_frame(m_codec.get(), nullptr) >= 0)
        Drain(out, stream, control);
    out.End(stream);
}
