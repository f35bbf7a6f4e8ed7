#pragma once

// Waiting for segments. The engine writes vemba-V-n.ts one after the other (each
// as NAME.part, renamed when complete, so a file that exists is whole). A segment
// request is answered once its segment and the two after it exist, so the client
// never catches up with the engine and stalls mid-file, or once the last segment of
// the playlist exists. The file system is polled every 10 ms without any lock held.
// The wait is bounded: when no new segment appears for the stall limit, the request
// gives up and ends without an answer.

#include "platform/clock.h"

#include <chrono>

// What the wait sees of the session and the work folder.
class SegmentSource {
public:
    enum class Verdict {
        KeepWaiting, // the engine is making segments
        EngineGone, // no engine runs: no further segment will appear
        GiveUp, // play has ended or a newer seek waits: the request is abandoned
    };
    virtual ~SegmentSource() = default;
    virtual bool SegmentExists(int segment) = 0;
    // Asked whenever a needed segment is missing.
    virtual Verdict WhileMissing() = 0;
};

enum class SegmentWait { Ready, GaveUp, TimedOut };

inline constexpr std::chrono::milliseconds kSegmentPollPause { 10 };
inline constexpr int kSegmentsAhead = 2; // segments that must exist after the one asked for

// Waits until segment and the kSegmentsAhead after it exist, or until a segment
// at or after lastSegment exists. When the engine is gone, a segment that exists is
// still served (the file may end before the play time the client announced), and
// one that does not ends the wait.
SegmentWait WaitForSegments(int segment, int lastSegment, SegmentSource& source, Clock& clock,
    std::chrono::milliseconds stallLimit);
