#pragma once

// How one encoding run is carried out.
//
// A run is a pipeline of stages, each on its own thread, joined only by queues:
//
//   demux --packets--> video decode --slots--> picture --frames--> video encode --+
//     |                                                                           +--> mux
//     +----packets---> audio (decode, resample, AAC) ----------------------------+
//
// The demuxer reads the input once and deals packets to the video and audio
// queues. The video decoder runs the codec's own frame threads and places each
// picture on the constant-rate grid (repeating or dropping pictures); a slot is
// only a reference to a decoded picture, never a copy. The picture stage scales
// once, straight from the decoder's buffer into the output size and format, then
// draws subtitles and turns the picture as the command line says. The encoder
// forces an IDR picture at each segment start. The audio stage is small and does
// its whole path on one thread. The mux stage interleaves both streams by time
// and writes segments or one file.
//
// A direct stream (-ovc copy on H.264 that can be copied) replaces the three
// video stages by one copy stage, and the demuxer finds the key picture to start
// at (copy_start.h); -oac copy does the same for AAC and MP3 sound.
//
// The queues up to the encoders are bounded, so a fast decoder cannot run away
// with memory; the mux inbox is not, so neither encoder ever waits for the other
// stream (that could deadlock against the demuxer), and the inbox itself bounds
// how far it waits for a lagging stream. Stages see the end of their input when
// the queue before them is closed, and they close the one after them. An error
// anywhere, a quit message or a closed pipe raises the job's abort flag and
// aborts every queue: each stage then returns within one frame's work, the
// libraries' blocking I/O is interrupted through the same flag, and no half
// segment is left behind. The scheduler joins all threads and reports the first
// error, which becomes message 16; a clean end becomes message 15.

#include "engine/audio_stage.h"
#include "engine/copy_start.h"
#include "engine/demux.h"
#include "engine/mux.h"
#include "engine/options.h"
#include "engine/segment_plan.h"
#include "engine/stream_copy.h"
#include "engine/video_decode.h"
#include "engine/video_encode.h"
#include "engine/video_filter.h"

#include <memory>
#include <thread>

class Scheduler {
public:
    Scheduler(const EngineOptions& options, JobControl& control);
    ~Scheduler();

    // Opens the input, seeks, opens decoders and encoders: everything that can be
    // done before the server says "start". Writes nothing.
    EngineError Prepare();
    // Runs the pipeline to its end; returns the first error or kErrorNone.
    EngineError Run();

    uint32_t TotalMs() const { return m_input.DurationMs(); }

private:
    EngineError LoadPlan();
    EngineError PrepareTranscode();
    bool PrepareCopy();
    void PrepareAudio();
    void ChooseRate();
    std::vector<OutputStream> OutputStreams() const;
    std::unique_ptr<OutputWriter> MakeWriter(const std::vector<OutputStream>& streams) const;
    void StartVideoThreads(std::vector<std::thread>& threads, PacketQueue& packets,
        VideoWorkQueue& slots, FrameQueue& frames, MuxInbox& inbox);

    const EngineOptions& m_options;
    JobControl& m_control;
    InputMedia m_input;
    SegmentPlan m_plan;
    int64_t m_firstSegment = 1;
    int m_rateNum = 24; // the encoded rate
    int m_rateDen = 1;
    double m_keyTolerance = 0.02; // half a source frame: rounding of key frame times
    bool m_copyVideo = false;
    VideoDecodeStage m_decode;
    PictureChain m_pictures;
    VideoEncodeStage m_encode;
    VideoCopyStage m_videoCopy;
    std::unique_ptr<CopyStartGate> m_gate; // copied video only
    std::unique_ptr<AudioStage> m_audio; // null: the output has no encoded sound
    std::unique_ptr<AudioCopyStage> m_audioCopy; // null: the sound is not copied
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
};
