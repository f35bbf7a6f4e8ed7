#include "engine/video_filter.h"

#include "engine/engine_log.h"
#include "engine/picture_ops.h"

int EvenSide(int side)
{
    return side < 2 ? 2 : side & ~1;
}

namespace {

// A side left 0 follows the other side with the picture's aspect ratio.
void ResolveScale(int& width, int& height, int curWidth, int curHeight)
{
    if (width <= 0 && height <= 0) {
        width = curWidth;
        height = curHeight;
    } else if (width <= 0) {
        width = static_cast<int>(static_cast<int64_t>(curWidth) * height / curHeight);
    } else if (height <= 0) {
        height = static_cast<int>(static_cast<int64_t>(curHeight) * width / curWidth);
    }
    width = EvenSide(width);
    height = EvenSide(height);
}

} // namespace

void PictureChain::Configure(const std::vector<FilterStep>& steps, int srcWidth, int srcHeight,
    std::unique_ptr<SubtitleRenderer> subtitles, int scaleFlags)
{
    m_subtitles = std::move(subtitles);
    m_scaleFlags = scaleFlags;
    m_steps.clear();
    int width = srcWidth;
    int height = srcHeight;
    // The chain always starts with the one scaler pass: it also converts the
    // decoder's format to 4:2:0 and evens odd sides.
    size_t first = 0;
    if (!steps.empty() && steps[0].kind == FilterKind::Scale) {
        width = steps[0].width;
        height = steps[0].height;
        first = 1;
    } else {
        width = 0;
        height = 0;
    }
    ResolveScale(width, height, srcWidth, srcHeight);
    m_steps.push_back({ FilterKind::Scale, width, height, 0 });
    bool subtitleStep = false;
    for (size_t i = first; i < steps.size(); ++i) {
        const FilterStep& step = steps[i];
        if (step.kind == FilterKind::Scale) {
            int w = step.width;
            int h = step.height;
            ResolveScale(w, h, width, height);
            width = w;
            height = h;
            m_steps.push_back({ FilterKind::Scale, width, height, 0 });
        } else if (step.kind == FilterKind::Rotate) {
            std::swap(width, height);
            m_steps.push_back({ FilterKind::Rotate, width, height, step.rotation });
        } else if (m_subtitles && !subtitleStep) {
            subtitleStep = true;
            m_subtitleStep = m_steps.size();
            m_subtitles->SetFrameSize(width, height);
            m_steps.push_back({ FilterKind::Subtitles, width, height, 0 });
        }
    }
    // A script given without "ass" in the chain is drawn on the finished picture.
    if (m_subtitles && !subtitleStep) {
        m_subtitleStep = m_steps.size();
        m_subtitles->SetFrameSize(width, height);
        m_steps.push_back({ FilterKind::Subtitles, width, height, 0 });
    }
    m_outWidth = width;
    m_outHeight = height;
}

FramePtr PictureChain::Scale(const AVFrame& src, const Step& step)
{
    m_sws
        = sws_getCachedContext(m_sws, src.width, src.height, static_cast<AVPixelFormat>(src.format),
            step.width, step.height, AV_PIX_FMT_YUV420P, m_scaleFlags, nullptr, nullptr, nullptr);
    m_swsOwner.release();
    m_swsOwner.reset(m_sws);
    if (!m_sws)
        return nullptr;
    FramePtr dst = MakeFrame();
    if (!dst)
        return nullptr;
    dst->format = AV_PIX_FMT_YUV420P;
    dst->width = step.width;
    dst->height = step.height;
    if (av_frame_get_buffer(dst.get(), 0) < 0)
        return nullptr;
    sws_scale(m_sws, src.data, src.linesize, 0, src.height, dst->data, dst->linesize);
    return dst;
}

FramePtr PictureChain::Rotate(const AVFrame& src, const Step& step)
{
    FramePtr dst = MakeFrame();
    if (!dst)
        return nullptr;
    dst->format = AV_PIX_FMT_YUV420P;
    dst->width = step.width;
    dst->height = step.height;
    if (av_frame_get_buffer(dst.get(), 0) < 0)
        return nullptr;
    RotateFrame(src, *dst, step.rotation);
    return dst;
}

FramePtr PictureChain::RunSteps(FramePtr frame, size_t from, size_t to)
{
    for (size_t i = from; i < to && frame; ++i) {
        const Step& step = m_steps[i];
        if (step.kind == FilterKind::Scale)
            frame = Scale(*frame, step);
        else if (step.kind == FilterKind::Rotate)
            frame = Rotate(*frame, step);
    }
    return frame;
}

FramePtr PictureChain::Process(const VideoWork& work)
{
    bool repeat = work.serial == m_cachedSerial && m_beforeSubtitles;
    if (!repeat) {
        size_t end = m_subtitles ? m_subtitleStep : m_steps.size();
        m_beforeSubtitles = RunSteps(RefFrame(work.frame.get()), 0, end);
        m_cachedSerial = work.serial;
        m_lastOutput.reset();
        if (!m_beforeSubtitles)
            return nullptr;
    }
    if (!m_subtitles)
        return RefFrame(m_beforeSubtitles.get());
    bool changed = false;
    const ASS_Image* images = m_subtitles->Render(work.seconds, changed);
    if (repeat && m_lastOutput && !changed)
        return RefFrame(m_lastOutput.get());
    FramePtr canvas = RefFrame(m_beforeSubtitles.get());
    if (!canvas || av_frame_make_writable(canvas.get()) < 0)
        return nullptr;
    BlendSubtitleImages(*canvas, images);
    m_lastOutput = RunSteps(std::move(canvas), m_subtitleStep + 1, m_steps.size());
    return m_lastOutput ? RefFrame(m_lastOutput.get()) : nullptr;
}

void PictureChain::Run(VideoWorkQueue& in, FrameQueue& out, JobControl& control)
{
    VideoWork work;
    while (!control.Aborted() && in.Pop(work)) {
        FramePtr frame = Process(work);
        if (!frame) {
            control.Fail(kErrorInternal, "out of memory in the picture stage");
            break;
        }
        frame->pts = work.slot;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (!out.Push(VideoWork { std::move(frame), work.slot, work.serial, work.seconds }))
            break;
    }
    out.Close();
}
