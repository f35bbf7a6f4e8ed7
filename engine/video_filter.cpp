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
    std::unique_ptr<PictureSubtitles> subtitles, int scaleFlags, int uprightTurn)
{
    m_subtitles = std::move(subtitles);
    m_scaleFlags = scaleFlags;
    m_steps.clear();
    bool sideways = uprightTurn == 90 || uprightTurn == 270;
    int width = 0;
    int height = 0;
    // The chain always starts with the one scaler pass: it also converts the
    // decoder's format to 4:2:0 and evens odd sides.
    size_t first = 0;
    if (!steps.empty() && steps[0].kind == FilterKind::Scale) {
        width = steps[0].width;
        height = steps[0].height;
        first = 1;
    }
    // Sizes are those of the upright picture; a sideways source is scaled before
    // it is turned, which is the cheaper order.
    ResolveScale(width, height, sideways ? srcHeight : srcWidth, sideways ? srcWidth : srcHeight);
    if (sideways) {
        m_steps.push_back({ FilterKind::Scale, height, width, 0 });
        m_steps.push_back({ FilterKind::Rotate, width, height, uprightTurn == 90 ? 1 : 2 });
    } else {
        m_steps.push_back({ FilterKind::Scale, width, height, 0 });
        if (uprightTurn == 180)
            m_steps.push_back({ FilterKind::Rotate, width, height, kHalfTurn });
    }
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

const AVFrame* PictureChain::Halve(const AVFrame& src, size_t level)
{
    int width = (src.width / 2) & ~1;
    int height = (src.height / 2) & ~1;
    if (m_halved.size() <= level)
        m_halved.resize(level + 1);
    FramePtr& target = m_halved[level];
    if (!target || target->width != width || target->height != height
        || target->format != src.format) {
        target = MakePictureFrame(src.format, width, height);
        if (!target)
            return nullptr;
    }
    target->color_range = src.color_range;
    target->colorspace = src.colorspace;
    HalvePlane(
        src.data[0], src.linesize[0], 2 * width, 2 * height, target->data[0], target->linesize[0]);
    HalvePlane(src.data[1], src.linesize[1], width, height, target->data[1], target->linesize[1]);
    HalvePlane(src.data[2], src.linesize[2], width, height, target->data[2], target->linesize[2]);
    return target.get();
}

FramePtr PictureChain::Scale(const AVFrame& src, const Step& step)
{
    // A large shrink first halves the picture by 2x2 means (memory speed) while
    // the half is still at least twice the target, and leaves the last step of
    // 2x or more to the scaler, whose filter then decides the sharpness: nearly
    // the same picture for a fraction of the work.
    const AVFrame* input = &src;
    bool halvable = (src.format == AV_PIX_FMT_YUV420P || src.format == AV_PIX_FMT_YUVJ420P);
    for (size_t level = 0;
         halvable && input->width >= 4 * step.width && input->height >= 4 * step.height; ++level) {
        input = Halve(*input, level);
        if (!input)
            return nullptr;
    }
    m_sws = sws_getCachedContext(m_sws, input->width, input->height,
        static_cast<AVPixelFormat>(input->format), step.width, step.height, AV_PIX_FMT_YUV420P,
        m_scaleFlags, nullptr, nullptr, nullptr);
    m_swsOwner.release();
    m_swsOwner.reset(m_sws);
    if (!m_sws)
        return nullptr;
    FramePtr dst = MakePictureFrame(AV_PIX_FMT_YUV420P, step.width, step.height);
    if (!dst)
        return nullptr;
    sws_scale(m_sws, input->data, input->linesize, 0, input->height, dst->data, dst->linesize);
    return dst;
}

FramePtr PictureChain::Rotate(const AVFrame& src, const Step& step)
{
    // step.width/height are the sizes after the turn.
    FramePtr dst = MakePictureFrame(AV_PIX_FMT_YUV420P, step.width, step.height);
    if (!dst)
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
