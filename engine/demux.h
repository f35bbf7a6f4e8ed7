#pragma once

// Demux stage: opens the input, picks its video and audio streams, seeks to the
// start and reads packets, handing each to the queue of its stream. Media time
// is measured from the container's start time, so a file whose timestamps begin
// at 1.4 s (MPEG-TS) still starts at media time 0.

#include "engine/blocking_queue.h"
#include "engine/engine_job.h"
#include "engine/ffmpeg_ptr.h"

#include <string>

using PacketQueue = BlockingQueue<PacketPtr>;

// The URL that names exactly this local file to the libraries.
std::string LocalUrl(const std::string& path);

class InputMedia {
public:
    // 0 or an EngineError. The control's abort flag interrupts blocking reads.
    EngineError Open(const std::string& path, JobControl& control);

    // Positions the reader on the key frame at or before `seconds` of media time.
    bool SeekTo(double seconds);

    // Reads packets until the end, an error or an abort. Packets of streams that
    // are not used are dropped. Both queues are closed at the end.
    void Run(PacketQueue& video, PacketQueue* audio, JobControl& control);

    AVFormatContext* Format() const { return m_format.get(); }
    AVStream* VideoStream() const;
    AVStream* AudioStream() const; // null when the input has no usable audio
    // Media seconds of a timestamp in time base tb.
    double MediaSeconds(int64_t ts, AVRational tb) const;
    // The whole length in milliseconds, 0 when unknown.
    uint32_t DurationMs() const;

private:
    InputContextPtr m_format;
    int m_video = -1;
    int m_audio = -1;
    int64_t m_originUs = 0; // container start time in AV_TIME_BASE units
};
