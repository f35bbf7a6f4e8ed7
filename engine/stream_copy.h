#pragma once

// Copy stages of a direct stream: the source's packets go to the mux as they
// are, with their timestamps moved to media time (the container's start is 0).
//
// Video: H.264 from MP4 or Matroska carries its parameter sets in the container
// and length-prefixed pictures; MPEG-TS wants start codes and the parameter sets
// in the stream. The h264_mp4toannexb filter converts (and passes Annex B input
// through); a key picture that still has no sequence parameter set in front of it
// (a key picture that is not IDR, or a source that sent them once) gets the
// stream's own in front, so every segment can be decoded from its first picture.
//
// Sound: AAC (the muxer writes it as ADTS) and MP3 go unchanged; packets that
// end at or before the run's start are dropped.

#include "engine/demux.h"
#include "engine/mux.h"

extern "C" {
#include <libavcodec/bsf.h>
}

struct BsfDeleter {
    void operator()(AVBSFContext* context) const { av_bsf_free(&context); }
};
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;

class VideoCopyStage {
public:
    // False when the filter cannot be set up (out of memory).
    bool Open(const InputMedia& input);
    void Run(PacketQueue& in, MuxInbox& out, int stream, JobControl& control);

    // The stream as the mux sees it (after the filter), in the source's time base.
    OutputStream Output() const;
    int64_t PacketsWritten() const { return m_written; }

private:
    bool Filter(AVPacket* packet, MuxInbox& out, int stream, JobControl& control);
    bool EnsureParameterSets(AVPacket& packet);

    AVStream* m_stream = nullptr;
    int64_t m_origin = 0; // the container's start in the stream's time base
    BsfPtr m_bsf;
    int64_t m_written = 0;
};

class AudioCopyStage {
public:
    void Open(const InputMedia& input);
    void Run(PacketQueue& in, MuxInbox& out, int stream, JobControl& control);
    OutputStream Output() const;

private:
    AVStream* m_stream = nullptr;
    int64_t m_origin = 0;
};

// True when an Annex B H.264 packet holds a sequence parameter set.
bool HasSequenceParameterSet(const uint8_t* data, size_t size);
