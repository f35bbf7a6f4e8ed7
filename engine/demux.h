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

class CopyStartGate;

struct OpenSettings {
    int audioTrack = -1; // 0-based among the audio streams; -1: the best one
    // The caller knows where the key frames are (-kf): a short probe will do.
    bool shortProbe = false;
};

// H.264 with 8-bit 4:2:0 pictures: what a direct stream can copy as it is.
bool CopyableVideo(const AVCodecParameters& params);
// AAC and MP3: the sound a direct stream copies as it is.
bool CopyableAudio(const AVCodecParameters& params);
// Degrees (0, 90, 180, 270) to turn the stored picture clockwise so it shows
// upright, from the stream's display matrix.
int UprightTurn(const AVStream& stream);

// The URL that names exactly this local file to the libraries.
std::string LocalUrl(const std::string& path);

// Opens a local file (and nothing but a file) and reads its streams' parameters;
// 0 or an EngineError (logged). The control's abort flag interrupts blocking reads.
EngineError OpenLocalFormat(
    const std::string& path, JobControl& control, InputContextPtr& format, bool shortProbe = false);

class InputMedia {
public:
    // 0 or an EngineError. The control's abort flag interrupts blocking reads.
    EngineError Open(const std::string& path, JobControl& control, OpenSettings settings = {});

    // Positions the reader on the key frame at or before `seconds` of media time.
    bool SeekTo(double seconds);
    // The same where the container has no index to seek by (MPEG-TS and the
    // like, where a seek lands on a time, not on a key frame): the reader backs
    // off further until the first key frame it meets is at or before `seconds`
    // (plus tolerance), so a copy or a decode can start there.
    bool SeekToKeyFrame(double seconds, double tolerance, JobControl& control);
    // The container's index lists every key frame once the header (or, for
    // Matroska, the cues a first seek loads) has been read: MP4, Matroska, AVI.
    bool HasKeyFrameIndex() const;

    // Reads packets until the end, an error or an abort. Packets of streams that
    // are not used are dropped. With a gate (copied video), packets pass it
    // before they are queued. Both queues are closed at the end.
    void Run(
        PacketQueue& video, PacketQueue* audio, JobControl& control, CopyStartGate* gate = nullptr);

    AVFormatContext* Format() const { return m_format.get(); }
    AVStream* VideoStream() const;
    AVStream* AudioStream() const; // null when the input has no usable audio
    // Media seconds of a timestamp in time base tb.
    double MediaSeconds(int64_t ts, AVRational tb) const;
    // The container's start (media time 0) as a timestamp in time base tb.
    int64_t OriginIn(AVRational tb) const;
    // The whole length in milliseconds, 0 when unknown.
    uint32_t DurationMs() const;

private:
    // Media time of the first video key frame read from here on, or -1.
    double FirstKeyFrameAfterSeek(JobControl& control);
    bool Deal(PacketPtr packet, PacketQueue& video, PacketQueue* audio);
    void PassGate(PacketPtr packet, CopyStartGate& gate, PacketQueue& video, PacketQueue* audio,
        JobControl& control);

    InputContextPtr m_format;
    int m_video = -1;
    int m_audio = -1;
    int64_t m_originUs = 0; // container start time in AV_TIME_BASE units
};
