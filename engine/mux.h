#pragma once

// Mux stage. Packets of both streams meet in one inbox, which hands them out in
// time order (waiting for the stream that lags, but never more than ten seconds
// of media). Live runs cut them into segment files as the segment plan says
// (segment_plan.h): each starts with PAT/PMT and a key picture with its
// parameter sets, is written as NAME.part and renamed to NAME once complete, and
// its timestamps are media time plus one fixed offset, the same for every run,
// so seek runs join the timeline. One MPEG-TS muxer writes all segments of a
// run, switching files at the cuts, so the continuity counters and the clock go
// on across the files as players expect. Other runs write one file (MP4 with
// its index first).
//
// Time order is decode order, except that a video key picture counts at its
// presentation time: the sound before a cut is then written before the picture
// that opens the next segment, and the sound after it after that picture.

#include "engine/engine_job.h"
#include "engine/ffmpeg_ptr.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Every live timestamp is media time plus this, so no timestamp is negative.
inline constexpr int64_t kTimelineOffset90k = 10 * 90000;

class MuxInbox {
public:
    // videoLane: the stream whose key pictures count at presentation time.
    MuxInbox(std::vector<AVRational> timeBases, int videoLane);
    void Push(int stream, PacketPtr packet); // never blocks
    void End(int stream);
    void Abort();
    // The next packet in time order; false when every stream has ended and all
    // was handed out, or on abort.
    bool Pop(int& stream, PacketPtr& packet);

private:
    double Seconds(int stream, const AVPacket& packet) const;
    int PickLocked() const; // -1: must wait

    struct Lane {
        AVRational timeBase;
        bool video = false;
        std::deque<PacketPtr> packets;
        bool ended = false;
        double newest = -1e18;
    };
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Lane> m_lanes; // guarded by m_lock (a deque: lanes never move)
    bool m_aborted = false; // guarded by m_lock
};

struct CodecParametersDeleter {
    void operator()(AVCodecParameters* params) const { avcodec_parameters_free(&params); }
};
using CodecParametersPtr = std::shared_ptr<AVCodecParameters>;

struct OutputStream {
    CodecParametersPtr params; // what the container is told about the stream
    AVRational timeBase { 1, 90000 }; // of the packets' timestamps (media time)
    int64_t firstTimestamp = 0; // in timeBase: the run's start (files begin there)
    bool video = false;
};

// The parameters of an encoder, or a copy of a stream's; null when out of memory.
CodecParametersPtr ParametersOf(const AVCodecContext& encoder);
CodecParametersPtr CopyParameters(const AVCodecParameters& source);

// How the segment writer sees a cut in the video. Encoded video has its output
// slot as timestamp (time base 1/rate), and a segment opens at the key picture of
// its first slot. Copied video opens a segment at the first key picture at or
// after the segment's start, `keyTolerance` seconds early counting as at it.
struct VideoCutRule {
    int slotNum = 0; // the encoded rate num/den; 0 for copied video
    int slotDen = 1;
    double keyTolerance = 0;
};

class OutputWriter {
public:
    virtual ~OutputWriter() = default;
    virtual EngineError Write(int stream, AVPacket& packet) = 0;
    virtual EngineError Finish() = 0; // completes the output
    virtual void Discard() = 0; // after an abort: leaves no half segment behind
};

class SegmentPlan;

// Live segments; pattern is the -o path, numbers start at firstNumber. The plan
// must outlive the writer.
std::unique_ptr<OutputWriter> MakeSegmentWriter(const std::string& pattern, const SegmentPlan& plan,
    VideoCutRule rule, int64_t firstNumber, std::vector<OutputStream> streams, JobControl& control);

// One file in the given container ("mp4" gets +faststart; empty: from the name).
std::unique_ptr<OutputWriter> MakeFileWriter(const std::string& path, const std::string& container,
    std::vector<OutputStream> streams, JobControl& control);

// Thread body: writes what the inbox hands out, tracks the position written.
void RunMux(MuxInbox& inbox, OutputWriter& writer, const std::vector<OutputStream>& streams,
    JobControl& control);
