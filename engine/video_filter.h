#pragma once

// Picture stage: brings each decoded picture to the output size and format in
// one scaler pass (straight from the decoder's buffer into the output frame),
// draws the subtitles and turns the picture, in the order the command line
// gives. Repeats of one picture reuse the finished frame unless the subtitles
// changed in between, so a slow source costs one scale per decoded picture.

#include "engine/options.h"
#include "engine/subtitles.h"
#include "engine/video_decode.h"

#include <memory>
#include <vector>

using FrameQueue = BlockingQueue<VideoWork>;

class PictureChain {
public:
    // Works out the sizes along the chain for a source of srcWidth x srcHeight.
    // subtitles may be null (no script, or it could not be read). uprightTurn
    // (0, 90, 180, 270 degrees clockwise) turns the picture upright first; the
    // command line's sizes are then sizes of the upright picture.
    void Configure(const std::vector<FilterStep>& steps, int srcWidth, int srcHeight,
        std::unique_ptr<PictureSubtitles> subtitles, int scaleFlags, int uprightTurn = 0);

    int OutputWidth() const { return m_outWidth; }
    int OutputHeight() const { return m_outHeight; }

    // The output frame for one slot; null when out of memory.
    FramePtr Process(const VideoWork& work);

    // Thread body: frames from in, finished frames (pts = slot) to out.
    void Run(VideoWorkQueue& in, FrameQueue& out, JobControl& control);

private:
    struct Step {
        FilterKind kind;
        int width; // size after this step
        int height;
        int rotation;
    };
    FramePtr RunSteps(FramePtr frame, size_t from, size_t to);
    FramePtr Scale(const AVFrame& src, const Step& step);
    const AVFrame* Halve(const AVFrame& src, size_t level);
    FramePtr Rotate(const AVFrame& src, const Step& step);

    std::vector<Step> m_steps;
    size_t m_subtitleStep = SIZE_MAX; // index of the subtitle step, if any
    std::unique_ptr<PictureSubtitles> m_subtitles;
    int m_scaleFlags = 0;
    int m_outWidth = 0;
    int m_outHeight = 0;
    SwsContext* m_sws = nullptr; // owned; cached across source changes
    SwsPtr m_swsOwner;
    std::vector<FramePtr> m_halved; // reused targets of the 2x2 shrink steps
    uint64_t m_cachedSerial = UINT64_MAX;
    FramePtr m_beforeSubtitles; // picture of the cached serial before the subtitle step
    FramePtr m_lastOutput;
};

// Even sides of at least 2: the 4:2:0 encoder needs them.
int EvenSide(int side);
