#pragma once

// Audio stage: decodes the audio, drops what lies before the start, converts to
// the output layout and rate and encodes AAC-LC in frames of the encoder's size.
// Timestamps count output samples on the media timeline; a gap in the source is
// filled with silence and an overlap dropped, so the sound stays with the picture.

#include "engine/demux.h"
#include "engine/mux.h"

class AudioStage {
public:
    // False when the audio cannot be decoded or encoded: the run goes on silent.
    // The sound starts at startSeconds, or where the job's startSeconds says when
    // the first sound arrives (the key picture a copy run begins with).
    bool Open(const InputMedia& input, int bitrateKbps, double startSeconds);
    void Run(PacketQueue& in, MuxInbox& out, int stream, JobControl& control);

    const AVCodecContext& Codec() const { return *m_encoder; }
    int64_t FirstSample() const;

private:
    bool Decode(const AVPacket* packet, MuxInbox& out, int stream, JobControl& control);
    bool HandleFrame(const AVFrame& frame, MuxInbox& out, int stream, JobControl& control);
    bool Convert(const AVFrame& frame, int offset);
    bool ConfigureResampler(const AVFrame& frame);
    bool AppendSilence(int64_t samples);
    bool EncodeAvailable(bool flush, MuxInbox& out, int stream, JobControl& control);
    bool Drain(MuxInbox& out, int stream, JobControl& control);

    const InputMedia* m_input = nullptr;
    AVStream* m_stream = nullptr;
    CodecContextPtr m_decoder;
    CodecContextPtr m_encoder;
    SwrPtr m_resampler;
    AudioFifoPtr m_fifo;
    double m_start = 0;
    bool m_started = false;
    double m_expected = 0; // media time the next input sample should have
    int64_t m_nextPts = 0; // output samples: timestamp of the fifo's first sample
    int m_inRate = 0;
    int m_inFormat = -1;
    AVChannelLayout m_inLayout {};
    int m_errors = 0;
};
