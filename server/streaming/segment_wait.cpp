#include "streaming/segment_wait.h"

SegmentWait WaitForSegments(int segment, int lastSegment, SegmentSource& source, Clock& clock,
    std::chrono::milliseconds stallLimit)
{
    int probe = segment;
    auto lastProgress = clock.Now();
    for (;;) {
        if (source.SegmentExists(probe)) {
            if (probe - segment >= kSegmentsAhead || probe >= lastSegment)
                return SegmentWait::Ready;
            ++probe;
            lastProgress = clock.Now();
            continue;
        }
        SegmentSource::Verdict verdict = source.WhileMissing();
        if (verdict == SegmentSource::Verdict::GiveUp)
            return SegmentWait::GaveUp;
        if (verdict == SegmentSource::Verdict::EngineGone) {
            // The engine may have written the file just before it ended.
            if (source.SegmentExists(probe))
                continue;
            return probe > segment ? SegmentWait::Ready : SegmentWait::GaveUp;
        }
        if (clock.Now() - lastProgress >= stallLimit)
            return SegmentWait::TimedOut;
        clock.Sleep(kSegmentPollPause);
    }
}
