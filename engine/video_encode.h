#pragma once

// Video encode stage: H.264 through libx264 with the command line's options.
// Frames arrive with their slot as timestamp; the first frame of every segment
// (as the segment plan places it on the slot grid) is forced to be an IDR
// picture so each segment file can be played alone.

#include "engine/mux.h"
#include "engine/segment_plan.h"
#include "engine/video_filter.h"
#include "engine/x264_options.h"

struct VideoEncodeSettings {
    int width = 0;
    int height = 0;
    AVRational sampleAspect { 0, 1 };
    int rateNum = 24;
    int rateDen = 1;
    X264Settings x264;
    bool globalHeader = false; // MP4 keeps the stream headers in the container
    const SegmentPlan* plan = nullptr; // null: no segments
};

class VideoEncodeStage {
public:
    EngineError Open(const VideoEncodeSettings& settings);
    void Run(FrameQueue& in, MuxInbox& out, int stream, JobControl& control);
    const AVCodecContext& Codec() const { return *m_codec; }

private:
    bool Drain(MuxInbox& out, int stream, JobControl& control);

    bool SegmentStart(int64_t slot) const;

    CodecContextPtr m_codec;
    const SegmentPlan* m_plan = nullptr;
    bool m_first = true;
};
