#pragma once

// Video decode stage: decodes the video packets with the decoder's own threads
// and puts each picture on the constant-rate grid. Pictures that lie before the
// start of a seek run are decoded only as far as later pictures need them:
// frames that nothing refers to are not decoded at all until the start is near.

#include "engine/demux.h"
#include "engine/frame_rate.h"

#include <optional>

// One output frame slot: a reference to a decoded picture (repeats share it).
struct VideoWork {
    FramePtr frame;
    int64_t slot = 0;
    uint64_t serial = 0; // equal for repeats of one decoded picture
    double seconds = 0; // media time of the slot
};
using VideoWorkQueue = BlockingQueue<VideoWork>;

struct DecodeTuning {
    double startSeconds = 0;
    int rateNum = 24;
    int rateDen = 1;
    // The first output slot; -1: the first at or after startSeconds. A start on a
    // cut begins at the cut's own slot, so it joins the run before it exactly.
    int64_t firstSlot = -1;
    double fpsHint = 0;
    // Skip the deblocking of B pictures: for output a quarter of the source's
    // area or less the difference is below what the scaler keeps, and B
    // pictures are referred to, if at all, only within their own short group, so
    // the difference cannot build up over the group of pictures. Skipping it in P
    // pictures too builds up over a long group: engine_bench measured the SSIM of
    // preset 1 on a 1080p source 0.0037 below the ffmpeg tool's, too much.
    bool skipBidirDeblock = false;
    int decoderThreads = 0; // 0: FFmpeg's own choice
};

class VideoDecodeStage {
public:
    EngineError Open(const InputMedia& input, const DecodeTuning& tuning);
    void Run(PacketQueue& in, VideoWorkQueue& out, JobControl& control);

    const AVCodecContext& Codec() const { return *m_codec; }
    int64_t FirstSlot() const { return m_firstSlot; }
    int64_t SlotsEmitted() const { return m_rate ? m_rate->Emitted() : 0; }

private:
    bool Decode(const AVPacket* packet, VideoWorkQueue& out, JobControl& control);
    bool HandleFrame(FramePtr frame, VideoWorkQueue& out);
    void SetPreroll(const AVPacket& packet);

    const InputMedia* m_input = nullptr;
    AVStream* m_stream = nullptr;
    CodecContextPtr m_codec;
    DecodeTuning m_tuning;
    int64_t m_firstSlot = 0;
    std::optional<FrameRateConverter> m_rate;
    double m_lastSeconds = -1;
    double m_frameSeconds = 1.0 / 25; // nominal frame length of the source
    int m_errors = 0;
};
