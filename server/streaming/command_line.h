#pragma once

// The texts of the engine's command lines. Everything here is a pure function of
// its inputs so the exact wording, which the engine parses, can be checked alone;
// MakeLiveCommandLine and QZ_MakeConvertCmd gather the inputs (media properties, the
// subtitle script, the font) and call these.

#include <cstdint>
#include <string>

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

// "-vf scale=W:H", or with " -vf-add rotate=2" when the picture is not wider than
// high (so the phone always gets landscape); when subtitles are burnt in,
// "-vf-add ass" goes before the rotation so they are drawn on the upright picture
// and turn with it.
enum class BurnSubtitles { No, Yes };
std::string MakeScaleOption(ScaledSize size, BurnSubtitles subtitles);

// " -fps %3.2f " with the file's frame rate (0.00 when unknown; the engine ignores 0).
std::string MakeFrameRateOption(float frameRate);

// x264 threads of a live run: "threads=1" on machines with 1 to 3 processors (the
// cores serve several clients at once), "threads=auto" otherwise.
std::string MakeLiveThreadsOption(unsigned processors);

// The double-quoted form of a path for the engine's command line, which the
// engine-side splitter (SplitCommandLine) gives back byte for byte whatever the
// name holds: quotes group a word with blanks, a quote inside the path is written
// \", and backslashes that stand before a quote (or before the closing quote) are
// doubled.
std::string QuoteForCommandLine(const std::string& path);
// The same without the outer quotes, for text that a template quotes itself and
// follows with more text inside the quotes (not with the closing quote).
std::string EscapeQuotes(const std::string& text);

// Options that burn the ASS script scriptBase + ".ass" into the picture with the
// font file fontPath. startSeconds > 0 tells the subtitle timer where a seek starts
// (live only; pass 0 otherwise).
std::string MakeSubtitleOptions(
    const std::string& fontPath, const std::string& scriptBase, int startSeconds);

// Inputs of one live line (one variant of a client's stream).
struct LiveLine {
    int startSegmentIndex = -1; // S: -1 from the beginning, else start at S × 5 s
    std::string localPath; // the media file on disk
    float frameRate = 0;
    ScaledSize size;
    std::string subtitleOptions; // empty, or MakeSubtitleOptions
    unsigned processors = 1;
    std::string servicesFolder;
    std::string clientId;
    int bandwidth = 0; // variant 1 to 4
    int pipeNumber = 0;
};

// True when variant has a live encoding (1 to 4); 5 and 6 have playlists only.
bool IsEncodedVariant(int bandwidth);

// The whole live command line; empty when the variant has no encoding.
std::string MakeLiveCommandLine(const LiveLine& line);

// Inputs of one conversion line (to an .m4v at outputPath).
struct ConvertLine {
    std::string localPath;
    float frameRate = 0;
    ScaledSize size;
    std::string subtitleOptions;
    int bitrate = 0; // video kbit/s
    unsigned processors = 1;
    std::string outputPath;
    int pipeNumber = 0;
};

std::string MakeConvertCommandLine(const ConvertLine& line);

// Conversions fit their picture into 480 × 320.
inline constexpr int kConvertBoxWidth = 480;
inline constexpr int kConvertBoxHeight = 320;
