#pragma once

// Burnt-in subtitles from a subtitle stream of the input itself (-sid N): the picture
// subtitles of Blu-ray (PGS) and DVD files, which have no text to show any other way.
//
// The stream is read by a reader of its own over the same file, which skips every
// other stream and keeps just ahead of the pictures being drawn: Render(t) reads and
// decodes the packets up to a little past t, keeps the events that may still show,
// and hands the picture stage the event of time t as images in the frame's own size
// (one image per colour of the event's palette, each a coverage mask, so the stage
// blends them as it blends an ASS script's). An event without an end lasts until the
// next one, as those streams mean it.
//
// Threads: the picture stage's thread alone.

#include "engine/engine_job.h"
#include "engine/ffmpeg_ptr.h"
#include "engine/subtitles.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class StreamSubtitles : public PictureSubtitles {
public:
    ~StreamSubtitles() override;

    // Opens the track-th subtitle stream of path (0-based among its subtitle streams)
    // and places the reader a little before startSeconds. The picture's own size
    // stands in for streams that do not say the size of their canvas. False (logged)
    // when there is no such stream or it cannot be decoded.
    bool Open(const std::string& path, int track, double startSeconds, int videoWidth,
        int videoHeight, JobControl& control);

    void SetFrameSize(int width, int height) override;
    const ASS_Image* Render(double seconds, bool& changed) override;

    // One decoded event: its time and its pictures in canvas pixels.
    struct Bitmap {
        int x = 0, y = 0, w = 0, h = 0;
        std::vector<uint8_t> indices; // w * h palette indices
        std::vector<uint32_t> palette; // 0xAARRGGBB
    };
    struct Event {
        double start = 0;
        double end = -1; // -1: until the next event
        std::vector<Bitmap> bitmaps;
    };

    // The images of an event for a frame of width x height drawn over a canvas of
    // canvasWidth x canvasHeight (nearest pixels), into masks and images it owns.
    static void MakeImages(const Event& event, int canvasWidth, int canvasHeight, int width,
        int height, std::vector<std::vector<uint8_t>>& masks, std::vector<ASS_Image>& images);

private:
    void ReadUntil(double seconds);
    void Decode(AVPacket& packet);

    struct DecoderDeleter {
        void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    };

    InputContextPtr m_format;
    std::unique_ptr<AVCodecContext, DecoderDeleter> m_decoder;
    PacketPtr m_packet;
    JobControl* m_control = nullptr;
    int m_stream = -1;
    AVRational m_timeBase { 1, 1000 };
    int64_t m_origin = 0; // the container's start in the stream's time base
    double m_readUpTo = -1; // media time of the last packet read
    bool m_ended = false;
    int m_canvasWidth = 0;
    int m_canvasHeight = 0;
    int m_frameWidth = 0;
    int m_frameHeight = 0;

    std::deque<Event> m_events; // in time order
    const Event* m_shown = nullptr;
    bool m_sizeChanged = false;
    std::vector<std::vector<uint8_t>> m_masks;
    std::vector<ASS_Image> m_images;
};
