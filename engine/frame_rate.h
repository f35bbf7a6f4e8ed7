#pragma once

// Constant output frame rate. Every output frame has a slot k on one global
// grid (media time k / rate); a decoded frame at media time t lands in slot
// round(t * rate) and is shown in every slot up to the next frame's slot: a
// slower source has frames repeated, a faster one has frames dropped, and a
// seek run continues exactly the grid of the run before it.

#include "engine/ffmpeg_ptr.h"

#include <cstdint>
#include <functional>

// The rate a source is encoded at when no constant rate is asked for: its real
// base rate r when the average rate agrees with it (exact for 24000/1001 and the
// like), else the average, else r, else 25; always between 1 and 240 per second
// with a denominator of at most 1001 (a finer average is rounded to 1/100 fps).
AVRational NominalFrameRate(AVRational average, AVRational base);

class FrameRateConverter {
public:
    // rate = num/den frames per second; slots before firstSlot are never emitted
    // (the frames decoded before the start of a seek run).
    FrameRateConverter(int num, int den, int64_t firstSlot);

    // emit(frame, slot, serial): serial is the same for repeats of one frame.
    // Returning false stops the emission (an abort).
    using Emit = std::function<bool(const AVFrame& frame, int64_t slot, uint64_t serial)>;

    // A decoded frame at media time `seconds`, shown for `duration` seconds when
    // it turns out to be the last. False when emit asked to stop.
    bool Push(FramePtr frame, double seconds, double duration, const Emit& emit);
    // Emits the last frame up to its end. False when emit asked to stop.
    bool Finish(const Emit& emit);

    int64_t SlotOf(double seconds) const;
    static int64_t FirstSlot(double startSeconds, int num, int den);
    int64_t NextSlot() const { return m_nextSlot; }
    int64_t Emitted() const { return m_emitted; }

private:
    bool EmitPendingUpTo(int64_t endSlot, const Emit& emit);

    const int m_num;
    const int m_den;
    int64_t m_nextSlot;
    FramePtr m_pending;
    double m_pendingEnd = 0;
    uint64_t m_serial = 0;
    int64_t m_emitted = 0;
};
