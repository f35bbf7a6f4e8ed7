#pragma once

// Media for the engine tests, made with the ffmpeg tool at test time (small and
// short), and the engine's arguments as the server's builders make them.

#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed by the caller.
std::string MakeTempFolder(const std::string& prefix);
void RemoveTree(const std::string& path);

// Runs a shell command; its exit status. Output goes to /dev/null unless captured.
int RunShell(const std::string& command);
std::string CaptureShell(const std::string& command);

// Files made once per test process in one folder (each on first use).
struct TestMedia {
    static const TestMedia& Get();
    std::string folder;
    // 320x240, 25 fps, 12 s, H.264 (key frame every 2 s) and AAC.
    std::string Main() const;
    // The same picture without sound, 6 s.
    std::string Silent() const;
    // Sound only.
    std::string AudioOnly() const;
    // 20 s of 640x360 at 30 fps, for runs that must last a while.
    std::string Long() const;
    // Black 320x240, 10 s, no sound: subtitles show up against it.
    std::string Black() const;
    // 321x241 (odd sides), 2 s, no sound.
    std::string OddSize() const;
    // The main video as MPEG-TS, cut off in the middle.
    std::string Truncated() const;
    // A text file with a video's name.
    std::string NotMedia() const;

    // 40 s of 320x240 at 25 fps, H.264 with B pictures and key frames 12 to 250
    // frames apart (IrregularKeyTimes), AAC; as MP4, and copied into Matroska and
    // MPEG-TS (whose timestamps then start later).
    std::string Irregular() const;
    std::string IrregularMkv() const;
    std::string IrregularTs() const;
    // 4 s of MPEG-4 Part 2 video, and of HEVC, each with AAC.
    std::string Mpeg4() const;
    std::string Hevc() const;
    // 6 s of H.264 with AC-3 sound.
    std::string Ac3Sound() const;
    // 6 s of H.264 with two AAC streams: 440 Hz, then 1000 Hz.
    std::string TwoTones() const;
    // 6 s of 320x180 at 30000/1001 fps, stored white above and black below, with
    // a display matrix that turns it a quarter clockwise (a phone held upright):
    // upright, the white half is on the right.
    std::string RotatedNtsc() const;
};

// The key frame times of Irregular() (media seconds).
std::vector<double> IrregularKeyTimes();

struct ProbedFrame {
    double pts = 0;
    bool key = false;
    char type = '?';
};
// The video frames of a file, in presentation order.
std::vector<ProbedFrame> ProbeVideoFrames(const std::string& path);
// "codec_type" of each stream, in order.
std::vector<std::string> ProbeStreamTypes(const std::string& path);
// Mean luma of the frame nearest to `seconds` (file time), or -1.
double MeanLumaAt(const std::string& path, double seconds);

using Words = std::vector<std::string>;

// The live arguments of bandwidth preset 1 (480 box, 576 kbit/s), as the server
// makes them; scale is the scale option ("-vf", "scale=W:H"), startSegment -1 for a
// run from the beginning.
Words LiveCommandLine(const std::string& input, const Words& scale, const std::string& outFolder,
    int variant, int startSegment, int pipe, const Words& subtitleOptions = {});
// The arguments of preset 4 (no scale, no x264 options).
Words LivePreset4CommandLine(const std::string& input, const std::string& outFolder, int pipe);
Words ConversionCommandLine(const std::string& input, const Words& scale, const std::string& output,
    int pipe, int bitrate = 400);
