#pragma once

// Mux stage. Encoded packets of both streams meet in one inbox, which hands
// them out in time order (waiting for the stream that lags, but never more than
// ten seconds of media). Live runs cut them into segment files: segment n holds
// media time [(n-1)L, nL), starts with its own PAT/PMT and an IDR picture, is
// written as NAME.part and renamed to NAME once complete; its timestamps are
// media time plus one fixed offset, the same for every run, so seek runs join
// the timeline. Other runs write one file (MP4 with its index first).

#include "engine/engine_job.h"
#include "engine/ffmpeg_ptr.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// Every live timestamp is media time plus this, so no timestamp is negative.
inline constexpr int64_t kTimelineOffset90k = 10 * 90000;

class MuxInbox {
public:
    explicit MuxInbox(std::vector<AVRational> timeBases);
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
        std::deque<PacketPtr> packets;
        bool ended = false;
        double newest = -1e18;
    };
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Lane> m_lanes; // guarded by m_lock (a deque: lanes never move)
    bool m_aborted = false; // guarded by m_lock
};

struct OutputStream {
    const AVCodecContext* encoder; // parameters and time base of the packets
    int64_t firstTimestamp; // in the encoder's time base: the run's start
};

class OutputWriter {
public:
    virtual ~OutputWriter() = default;
    virtual EngineError Write(int stream, AVPacket& packet) = 0;
    virtual EngineError Finish() = 0; // completes the output
    virtual void Discard() = 0; // after an abort: leaves no half segment behind
};

// Live segments; pattern is the -o path, numbers start at firstNumber.
std::unique_ptr<OutputWriter> MakeSegmentWriter(const std::string& pattern, int segmentSeconds,
    int64_t firstNumber, std::vector<OutputStream> streams, JobControl& control);

// One file in the given container ("mp4" gets +faststart; empty: from the name).
std::unique_ptr<OutputWriter> MakeFileWriter(const std::string& path, const std::string& container,
    std::vector<OutputStream> streams, JobControl& control);

// Thread body: writes what the inbox hands out, tracks the position written.
void RunMux(MuxInbox& inbox, OutputWriter& writer, const std::vector<OutputStream>& streams,
    JobControl& control);
