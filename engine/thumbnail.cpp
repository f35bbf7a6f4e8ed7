#include "engine/thumbnail.h"

#include "engine/demux.h"
#include "engine/engine_log.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Bounds on the search for the picture, so a hostile file cannot hold a request.
constexpr int kMaxPackets = 3000;
constexpr int kMaxFrames = 300;

void PutWord(uint8_t* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Decodes from the key frame before `target` up to the first picture at or after it.
FramePtr DecodePictureNear(InputMedia& input, double target, JobControl& control)
{
    AVStream* stream = input.VideoStream();
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
        return nullptr;
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = 0;
    decoder->thread_type = FF_THREAD_SLICE; // one picture: frame threads would only add delay
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return nullptr;
    FramePtr best;
    FramePtr frame = MakeFrame();
    PacketPtr packet = MakePacket();
    int frames = 0;
    bool draining = false;
    for (int packets = 0; frame && packet && packets < kMaxPackets && !control.Aborted();
         ++packets) {
        if (!draining) {
            int result = av_read_frame(input.Format(), packet.get());
            if (result < 0) {
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else if (packet->stream_index == stream->index) {
                avcodec_send_packet(decoder.get(), packet.get());
            }
            av_packet_unref(packet.get());
        }
        int received = 0;
        while ((received = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
            double seconds = frame->best_effort_timestamp == AV_NOPTS_VALUE
                ? target
                : input.MediaSeconds(frame->best_effort_timestamp, stream->time_base);
            best = std::move(frame);
            frame = MakeFrame();
            if (seconds >= target - 0.001 || ++frames >= kMaxFrames || !frame)
                return best;
        }
        if (draining && received == AVERROR_EOF)
            break;
    }
    return best;
}

bool ToBitmap(const AVFrame& picture, std::vector<uint8_t>& payload)
{
    double aspect = picture.sample_aspect_ratio.num > 0 && picture.sample_aspect_ratio.den > 0
        ? av_q2d(picture.sample_aspect_ratio)
        : 1.0;
    int displayWidth
        = std::max(1, static_cast<int>(std::lround(picture.width * std::clamp(aspect, 0.1, 10.0))));
    int width = 0;
    int height = 0;
    FitThumbnail(displayWidth, picture.height, width, height);
    SwsPtr scaler(
        sws_getContext(picture.width, picture.height, static_cast<AVPixelFormat>(picture.format),
            width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler)
        return false;
    payload.assign(kBitmapHeaderSize, 0);
    size_t stride = WriteBitmapHeader(width, height, payload.data());
    payload.resize(kBitmapHeaderSize + stride * height, 0);
    uint8_t* planes[4] = { payload.data() + kBitmapHeaderSize, nullptr, nullptr, nullptr };
    int strides[4] = { static_cast<int>(stride), 0, 0, 0 };
    sws_scale(scaler.get(), picture.data, picture.linesize, 0, picture.height, planes, strides);
    return true;
}

} // namespace

size_t WriteBitmapHeader(int width, int height, uint8_t* header)
{
    size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    memset(header, 0, kBitmapHeaderSize);
    PutWord(header, 40);
    PutWord(header + 4, static_cast<uint32_t>(width));
    PutWord(header + 8, static_cast<uint32_t>(-height)); // negative: rows from the top down
    header[12] = 1; // planes
    header[14] = 24; // bits per pixel
    PutWord(header + 16, 0); // uncompressed
    PutWord(header + 20, static_cast<uint32_t>(stride * height));
    return stride;
}

void FitThumbnail(int width, int height, int& outWidth, int& outHeight)
{
    double scale = std::min({ 1.0, static_cast<double>(kThumbnailMaxWidth) / width,
        static_cast<double>(kThumbnailMaxHeight) / height });
    outWidth = std::clamp(static_cast<int>(std::lround(width * scale)), 1, kThumbnailMaxWidth);
    outHeight = std::clamp(static_cast<int>(std::lround(height * scale)), 1, kThumbnailMaxHeight);
}

bool MakeThumbnailImage(const std::string& path, JobControl& control, std::vector<uint8_t>& payload)
{
    InputMedia input;
    if (input.Open(path, control) != kErrorNone)
        return false;
    AVStream* stream = input.VideoStream();
    if (stream->codecpar->width <= 0 || stream->codecpar->height <= 0)
        return false;
    double target = input.DurationMs() / 1000.0 * 0.1;
    if (target > 0 && !input.SeekTo(target))
        target = 0;
    FramePtr picture = DecodePictureNear(input, target, control);
    if (!picture)
        return false;
    return ToBitmap(*picture, payload);
}

void ServeThumbnails(ControlChannel& channel, JobControl& control)
{
    std::string path;
    while (channel.NextRequest(path)) {
        std::vector<uint8_t> payload;
        if (MakeThumbnailImage(path, control, payload))
            channel.Send(
                EngineMessage::Image, payload.data(), static_cast<uint32_t>(payload.size()));
        else
            EngineLog(LogLevel::Warning, "no picture for '%s'", path.c_str());
        channel.Send(EngineMessage::RequestDone, nullptr, 0);
    }
}
