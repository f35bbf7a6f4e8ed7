#pragma once

// The engine's arguments, word by word, exactly as the engine receives them (no
// program name, nothing to quote or split again). Everything here is a pure
// function of its inputs so the exact options, which the engine parses, can be
// checked alone; MakeLiveCommandLine and QZ_MakeConvertCmd gather the inputs (media
// properties, the subtitle script, the font) and call these.

#include <cstdint>
#include <string>
#include <vector>

// A picture size after fitting the client's box; never enlarged.
struct ScaledSize {
    int width = 0;
    int height = 0;
};

// The classic MulDiv: a × b / c in 64 bits, rounded to the nearest integer (halves
// away from zero); 0 when c is 0.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c);

// Fits a video of videoWidth × videoHeight into the box boxWidth × boxHeight (the
// box turned for portrait and square videos), keeping the aspect, never enlarging;
// an odd side is rounded down to a multiple of 4. A side that would vanish is kept
// at 2 pixels so the engine is never asked for an empty picture.
ScaledSize ComputeScaledSize(int boxWidth, int boxHeight, int videoWidth, int videoHeight);

// "-vf scale=W:H", or with "-vf-add rotate=2" after it when the picture is not
// wider than high (so the phone always gets landscape); when subtitles are burnt in,
// "-vf-add ass" goes before the rotation so they are drawn on the upright picture
// and turn with it.
enum class BurnSubtitles { No, Yes };
std::vector<std::string> MakeScaleOption(ScaledSize size, BurnSubtitles subtitles);

// "-fps %3.2f" with the file's frame rate (0.00 when unknown; the engine ignores 0).
std::vector<std::string> MakeFrameRateOption(float frameRate);

// x264 threads of a live run: "threads=1" on machines with 1 to 3 processors (the
// cores serve several clients at once), "threads=auto" otherwise.
std::string MakeLiveThreadsOption(unsigned processors);

// A path as one engine word. The engine reads a word that starts with '-' as an
// option, so such a (relative) path is given as "./" + path, the same file.
std::string EnginePathWord(const std::string& path);

// Options that burn the ASS script scriptBase + ".ass" into the picture with the
// font file fontPath. startSeconds > 0 tells the subtitle timer where a seek starts
// (live only; pass 0 otherwise).
std::vector<std::string> MakeSubtitleOptions(
    const std::string& fontPath, const std::string& scriptBase, int startSeconds);

// Inputs of one live line (one variant of a client's stream).
struct LiveLine {
    int startSegmentIndex = -1; // S: -1 from the beginning, else start at S × 5 s
    // The key frame at or before the start (-kf), when the file is indexed: the
    // engine goes straight to it instead of probing; -1 unknown.
    double keyframeSeconds = -1;
    std::string localPath; // the media file on disk
    float frameRate = 0;
    ScaledSize size;
    std::vector<std::string> subtitleOptions; // empty, or MakeSubtitleOptions
    unsigned processors = 1;
    std::string servicesFolder;
    std::string clientId;
    int bandwidth = 0; // variant 1 to 4
    int pipeNumber = 0;
    int audioTrack = -1; // -aid: the N-th audio stream; -1 the engine's choice
    int burntSubtitle = -1; // -sid: a subtitle stream of the file burnt in; -1 none
};

// True when variant has a live encoding (1 to 4); 5 and 6 have playlists only.
bool IsEncodedVariant(int bandwidth);

// The whole live argument list; empty when the variant has no encoding.
std::vector<std::string> MakeLiveCommandLine(const LiveLine& line);

// Inputs of one conversion line (to an .m4v at outputPath).
struct ConvertLine {
    std::string localPath;
    float frameRate = 0;
    ScaledSize size;
    std::vector<std::string> subtitleOptions;
    int bitrate = 0; // video kbit/s
    unsigned processors = 1;
    std::string outputPath;
    int pipeNumber = 0;
};

std::vector<std::string> MakeConvertCommandLine(const ConvertLine& line);

// Conversions fit their picture into 480 × 320.
inline constexpr int kConvertBoxWidth = 480;
inline constexpr int kConvertBoxHeight = 320;
