#include "engine/frame_rate.h"

#include <cmath>

namespace {

// A jump in the timestamps longer than this is a broken stream, not a still
// picture; the grid skips the gap instead of repeating one frame for it.
constexpr double kMaxRepeatSeconds = 60;

bool UsableRate(AVRational rate)
{
    return rate.num > 0 && rate.den > 0 && av_q2d(rate) >= 1 && av_q2d(rate) <= 240;
}

AVRational Tidy(AVRational rate)
{
    if (rate.den <= 1001)
        return rate;
    AVRational tidy { 0, 1 };
    av_reduce(&tidy.num, &tidy.den, std::lround(av_q2d(rate) * 100), 100, 100000);
    return tidy;
}

} // namespace

AVRational NominalFrameRate(AVRational average, AVRational base)
{
    if (UsableRate(average) && UsableRate(base)
        && std::fabs(av_q2d(average) / av_q2d(base) - 1) < 0.01)
        return Tidy(base);
    if (UsableRate(average))
        return Tidy(average);
    if (UsableRate(base))
        return Tidy(base);
    return AVRational { 25, 1 };
}

FrameRateConverter::FrameRateConverter(int num, int den, int64_t firstSlot)
    : m_num(num)
    , m_den(den)
    , m_nextSlot(firstSlot)
{
}

int64_t FrameRateConverter::FirstSlot(double startSeconds, int num, int den)
{
    if (!(startSeconds > 0))
        return 0;
    return static_cast<int64_t>(std::ceil(startSeconds * num / den - 1e-6));
}

int64_t FrameRateConverter::SlotOf(double seconds) const
{
    return static_cast<int64_t>(std::llround(seconds * m_num / m_den));
}

bool FrameRateConverter::EmitPendingUpTo(int64_t endSlot, const Emit& emit)
{
    if (!m_pending)
        return true;
    int64_t limit = static_cast<int64_t>(kMaxRepeatSeconds * m_num / m_den);
    if (endSlot - m_nextSlot > limit) {
        emit(*m_pending, m_nextSlot, m_serial);
        ++m_emitted;
        m_nextSlot = endSlot;
        return true;
    }
    for (; m_nextSlot < endSlot; ++m_nextSlot) {
        if (!emit(*m_pending, m_nextSlot, m_serial))
            return false;
        ++m_emitted;
    }
    return true;
}

bool FrameRateConverter::Push(FramePtr frame, double seconds, double duration, const Emit& emit)
{
    if (!EmitPendingUpTo(SlotOf(seconds), emit))
        return false;
    m_pending = std::move(frame);
    ++m_serial;
    m_pendingEnd = seconds + (duration > 0 ? duration : static_cast<double>(m_den) / m_num);
    return true;
}

bool FrameRateConverter::Finish(const Emit& emit)
{
    if (!m_pending)
        return true;
    int64_t end = SlotOf(m_pendingEnd);
    // A run that would show nothing at all (one picture, or a start past the last
    // frame) still shows the last frame once, so its first segment exists.
    if (end <= m_nextSlot && m_emitted == 0)
        end = m_nextSlot + 1;
    bool ok = EmitPendingUpTo(end, emit);
    m_pending.reset();
    return ok;
}
