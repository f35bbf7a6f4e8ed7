#pragma once

// The key frame index of a video as the engine writes it (`vembacast-engine
// -keyframes PATH -o OUT`): the file's streams, whether its video can be copied as it
// is, and the media time of every key frame, with each key frame's offset in the
// file where the container tells it. Direct streams are cut at these times; the
// offsets give the bitrate of each stretch between two cuts.
//
// The text comes from a child process that read a hostile file, so it is parsed
// as untrusted: bounded in size and count, every number checked, and anything that
// does not hold together (times out of order, counts that do not match) refused.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct MediaKeyframeIndex {
    struct Audio {
        std::string codec;
        int channels = 0;
        int sampleRate = 0;
        bool copyable = false; // AAC or MP3: -oac copy copies it
    };
    double durationSeconds = 0; // 0 when unknown
    std::string videoCodec; // "h264", "hevc", ...
    int width = 0; // stored picture size
    int height = 0;
    std::string pixelFormat;
    bool copyable = false; // H.264 in 8-bit 4:2:0: -ovc copy copies it
    int rotation = 0; // degrees clockwise to show the stored picture upright
    int rateNum = 0; // the frame rate kept when no -ofps is given
    int rateDen = 1;
    std::vector<Audio> audio; // in file order: the n-th is -aid n
    bool fromContainer = false; // the container's own index, not a scan
    std::vector<double> keyframes; // media seconds, ascending
    // The file offset of each key frame (same order), -1 where unknown; empty when
    // the engine gave none. fileBytes is the file's size then.
    std::vector<int64_t> positions;
    int64_t fileBytes = 0;

    double FrameRate() const { return rateDen > 0 ? double(rateNum) / rateDen : 0; }
    // The picture as it is shown: width and height swapped for a quarter turn.
    int UprightWidth() const { return rotation % 180 == 0 ? width : height; }
    int UprightHeight() const { return rotation % 180 == 0 ? height : width; }
};

// The most key frames an index may list (the engine's cut files take as many).
inline constexpr size_t kMaxIndexKeyframes = 1000000;
// The longest index text read from the engine.
inline constexpr size_t kMaxIndexTextBytes = 64u << 20;

// The index in text, or nullopt when the text is not a version 1 index, is too
// large, or does not hold together.
std::optional<MediaKeyframeIndex> ParseKeyframeIndex(const std::string& text);

// The last key frame at or before seconds (within a microsecond, the index's
// precision), or nullopt when there is none.
std::optional<double> KeyframeAtOrBefore(const std::vector<double>& keyframes, double seconds);
