#pragma once

// Key frame index mode: `vembacast-engine -keyframes "PATH" -o OUT`. The server
// runs it once per file (as a plain child process it bounds in time) and plans
// its segments from the result. Nothing is decoded: the key frame times come from
// the container's own index where it has one that can be trusted (MP4 sync
// samples, Matroska cues, AVI's index), else from one pass over the video packets
// reading their key flags.
//
// OUT, written whole (as OUT.part, then renamed), is UTF-8 text, one item a line,
// each line a keyword and its values separated by single blanks:
//
//   vembacast-keyframes 1           format and its version (first line)
//   duration 7200.040000            length in seconds, 0.000000 when unknown
//   video h264 1920 1080 yuv420p    codec, stored width and height, pixel format
//                                   ("unknown" when the file does not say)
//   copyable 1                      1: H.264 8-bit 4:2:0, -ovc copy copies it
//   rotation 90                     degrees to turn the stored picture clockwise to
//                                   show it upright (0, 90, 180, 270); -ovc copy
//                                   does not turn it, -autorotate does
//   fps 24000/1001                  the rate kept when no -ofps is given
//   audio aac 2 48000 copy          one line per audio stream, in file order (the
//                                   n-th line is -aid n): codec, channels, sample
//                                   rate, "copy" or "encode" (what -oac copy does)
//   index container                 "container" (the file's index) or "scan"
//   keyframes 3                     the number of lines that follow
//   0.000000                        key frame times, ascending, in media seconds
//   4.004000                        (the timeline of -ss, -kf and -cuts), six
//   9.342667                        decimals
//
// Readers ignore keywords they do not know; a change that old readers would
// misread gets a new version number.
//
// Exit status: 0 written; otherwise the engine's error code (1 no -o, 2 the input
// cannot be opened or is not media, 3 no video, 6 OUT cannot be written), with a
// line on stderr.

#include "engine/engine_job.h"

#include <string>
#include <vector>

struct KeyframeIndex {
    struct Audio {
        std::string codec;
        int channels = 0;
        int sampleRate = 0;
        bool copyable = false;
    };
    double durationSeconds = 0;
    std::string videoCodec;
    int width = 0;
    int height = 0;
    std::string pixelFormat;
    bool copyable = false;
    int rotation = 0;
    int rateNum = 25;
    int rateDen = 1;
    std::vector<Audio> audio;
    bool fromContainer = false;
    std::vector<double> keyframes; // media seconds, ascending
};

// The text of OUT for an index.
std::string FormatKeyframeIndex(const KeyframeIndex& index);

// Reads the index of the file. kErrorNone, or the error code (logged).
EngineError BuildKeyframeIndex(const std::string& path, JobControl& control, KeyframeIndex& index);

// The whole mode: builds the index of `input` and writes it to `output`; the
// process exit status.
int RunKeyframeIndex(const std::string& input, const std::string& output);
