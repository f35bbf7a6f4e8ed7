#include "engine/stream_subtitles.h"

#include "engine/demux.h"
#include "engine/engine_log.h"
#include "engine/text_subtitles.h"

#include <algorithm>

namespace {

// How far before the start the reader begins, so an event that is showing at the
// start is met; and how far ahead of the pictures it reads.
constexpr double kLookBehindSeconds = 30;
constexpr double kReadAheadSeconds = 1;
// Events kept at most (a stream that floods is cut from the oldest).
constexpr size_t kMaxEvents = 64;
constexpr int kDefaultCanvasWidth = 720;
constexpr int kDefaultCanvasHeight = 480;

} // namespace

StreamSubtitles::~StreamSubtitles() = default;

bool StreamSubtitles::Open(const std::string& path, int track, double startSeconds, int videoWidth,
    int videoHeight, JobControl& control)
{
    m_control = &control;
    if (OpenLocalFormat(path, control, m_format) != kErrorNone)
        return false;
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        if (m_format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE && track-- == 0)
            m_stream = static_cast<int>(i);
    }
    if (m_stream < 0) {
        EngineLog(LogLevel::Error, "'%s' has no such subtitle stream; none burnt in", path.c_str());
        return false;
    }
    const AVStream& stream = *m_format->streams[m_stream];
    if (IsTextSubtitleCodec(stream.codecpar->codec_id)) {
        EngineLog(LogLevel::Warning, "subtitle stream of '%s' is text, not pictures; none burnt in",
            path.c_str());
        return false;
    }
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!codec || !m_decoder || avcodec_parameters_to_context(m_decoder.get(), stream.codecpar) < 0
        || avcodec_open2(m_decoder.get(), codec, nullptr) < 0) {
        EngineLog(LogLevel::Error, "no decoder for the subtitle stream of '%s'", path.c_str());
        return false;
    }
    for (unsigned i = 0; i < m_format->nb_streams; ++i)
        m_format->streams[i]->discard
            = static_cast<int>(i) == m_stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    m_timeBase = stream.time_base;
    m_origin = m_format->start_time != AV_NOPTS_VALUE
        ? av_rescale_q(m_format->start_time, AV_TIME_BASE_Q, m_timeBase)
        : 0;
    m_canvasWidth = m_decoder->width > 0 ? m_decoder->width : videoWidth;
    m_canvasHeight = m_decoder->height > 0 ? m_decoder->height : videoHeight;
    if (m_canvasWidth <= 0 || m_canvasHeight <= 0) {
        m_canvasWidth = kDefaultCanvasWidth;
        m_canvasHeight = kDefaultCanvasHeight;
    }
    const double from = std::max(0.0, startSeconds - kLookBehindSeconds);
    if (from > 0)
        av_seek_frame(m_format.get(), -1,
            int64_t(from * AV_TIME_BASE)
                + (m_format->start_time != AV_NOPTS_VALUE ? m_format->start_time : 0),
            AVSEEK_FLAG_BACKWARD);
    m_packet = MakePacket();
    EngineLog(LogLevel::Info, "burning in subtitle stream %d (%s) of '%s'", m_stream,
        avcodec_get_name(stream.codecpar->codec_id), path.c_str());
    return m_packet != nullptr;
}

void StreamSubtitles::SetFrameSize(int width, int height)
{
    m_frameWidth = width;
    m_frameHeight = height;
    m_sizeChanged = true;
}

void StreamSubtitles::Decode(AVPacket& packet)
{
    AVSubtitle subtitle {};
    int got = 0;
    if (avcodec_decode_subtitle2(m_decoder.get(), &subtitle, &got, &packet) < 0 || !got)
        return;
    const double at = double(packet.pts - m_origin) * av_q2d(m_timeBase);
    Event event;
    event.start = at + subtitle.start_display_time / 1000.0;
    if (subtitle.end_display_time > subtitle.start_display_time
        && subtitle.end_display_time != UINT32_MAX)
        event.end = at + subtitle.end_display_time / 1000.0;
    for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const AVSubtitleRect& rect = *subtitle.rects[i];
        if (rect.type != SUBTITLE_BITMAP || rect.w <= 0 || rect.h <= 0 || !rect.data[0]
            || !rect.data[1] || rect.nb_colors <= 0 || rect.nb_colors > 256)
            continue;
        Bitmap bitmap { rect.x, rect.y, rect.w, rect.h, {}, {} };
        bitmap.indices.resize(size_t(rect.w) * size_t(rect.h));
        for (int y = 0; y < rect.h; ++y)
            std::copy_n(rect.data[0] + size_t(y) * size_t(rect.linesize[0]), rect.w,
                bitmap.indices.begin() + ptrdiff_t(y) * rect.w);
        const uint32_t* palette = reinterpret_cast<const uint32_t*>(rect.data[1]);
        bitmap.palette.assign(palette, palette + rect.nb_colors);
        event.bitmaps.push_back(std::move(bitmap));
    }
    avsubtitle_free(&subtitle);
    // An open event before this one ends where this one starts.
    if (!m_events.empty() && m_events.back().end < 0)
        m_events.back().end = event.start;
    m_events.push_back(std::move(event));
    while (m_events.size() > kMaxEvents) {
        if (m_shown == &m_events.front())
            m_shown = nullptr;
        m_events.pop_front();
    }
}

void StreamSubtitles::ReadUntil(double seconds)
{
    while (!m_ended && m_readUpTo <= seconds + kReadAheadSeconds && !m_control->Aborted()) {
        const int result = av_read_frame(m_format.get(), m_packet.get());
        if (result == AVERROR(EAGAIN))
            continue;
        if (result < 0) {
            m_ended = true;
            break;
        }
        if (m_packet->stream_index == m_stream && m_packet->pts != AV_NOPTS_VALUE) {
            m_readUpTo = double(m_packet->pts - m_origin) * av_q2d(m_timeBase);
            Decode(*m_packet);
        }
        av_packet_unref(m_packet.get());
    }
}

const ASS_Image* StreamSubtitles::Render(double seconds, bool& changed)
{
    ReadUntil(seconds);
    const Event* now = nullptr;
    for (const Event& event : m_events) {
        if (event.start <= seconds && (event.end < 0 || seconds < event.end))
            now = &event;
    }
    // Events over before this moment are not needed again (time only goes forward).
    while (!m_events.empty() && m_events.front().end >= 0 && m_events.front().end < seconds
        && &m_events.front() != now) {
        if (m_shown == &m_events.front())
            m_shown = nullptr;
        m_events.pop_front();
    }
    changed = now != m_shown || m_sizeChanged;
    if (changed) {
        m_shown = now;
        m_sizeChanged = false;
        m_masks.clear();
        m_images.clear();
        if (now)
            MakeImages(*now, m_canvasWidth, m_canvasHeight, m_frameWidth, m_frameHeight, m_masks,
                m_images);
    }
    return m_images.empty() ? nullptr : &m_images.front();
}

void StreamSubtitles::MakeImages(const Event& event, int canvasWidth, int canvasHeight, int width,
    int height, std::vector<std::vector<uint8_t>>& masks, std::vector<ASS_Image>& images)
{
    if (canvasWidth <= 0 || canvasHeight <= 0 || width <= 0 || height <= 0)
        return;
    for (const Bitmap& bitmap : event.bitmaps) {
        // The bitmap's place and size in the frame.
        const int x0 = int(int64_t(bitmap.x) * width / canvasWidth);
        const int y0 = int(int64_t(bitmap.y) * height / canvasHeight);
        const int w = std::max(1, int(int64_t(bitmap.w) * width / canvasWidth));
        const int h = std::max(1, int(int64_t(bitmap.h) * height / canvasHeight));
        for (size_t colour = 0; colour < bitmap.palette.size(); ++colour) {
            const uint32_t argb = bitmap.palette[colour];
            if ((argb >> 24) == 0)
                continue;
            std::vector<uint8_t> mask(size_t(w) * size_t(h), 0);
            bool used = false;
            for (int y = 0; y < h; ++y) {
                const int sy = int(int64_t(y) * bitmap.h / h);
                for (int x = 0; x < w; ++x) {
                    const int sx = int(int64_t(x) * bitmap.w / w);
                    if (bitmap.indices[size_t(sy) * size_t(bitmap.w) + size_t(sx)] == colour) {
                        mask[size_t(y) * size_t(w) + size_t(x)] = 255;
                        used = true;
                    }
                }
            }
            if (!used)
                continue;
            masks.push_back(std::move(mask));
            ASS_Image image {};
            image.w = w;
            image.h = h;
            image.stride = w;
            image.bitmap = masks.back().data();
            // ASS colours are RGBA with A as transparency.
            image.color = ((argb & 0xFFFFFF) << 8) | (255 - (argb >> 24));
            image.dst_x = x0;
            image.dst_y = y0;
            images.push_back(image);
        }
    }
    // Linked only now: the vectors no longer move.
    for (size_t i = 0; i + 1 < images.size(); ++i)
        images[i].next = &images[i + 1];
}
