#pragma once

// The engine's command line. The server builds it from a handful of templates
// (live segments per bandwidth preset, conversions, thumbnails); this parser
// accepts every option those templates carry, in any order, and ignores with a
// note what it does not know, so an older or newer server never stops an engine.

#include <functional>
#include <string>
#include <vector>

enum class FilterKind { Scale, Subtitles, Rotate };

// One step of the picture chain, in command-line order (-vf and -vf-add both
// append, as the templates expect). Scale 0 means "the source's size".
struct FilterStep {
    FilterKind kind = FilterKind::Scale;
    int width = 0;
    int height = 0;
    int rotation
        = 0; // 0: transpose, 1: 90 deg clockwise, 2: 90 deg counter-clockwise, 3: anti-transpose
};

struct EngineOptions {
    std::string input; // first word that is not an option
    std::string output; // -o: the output file, or the pattern of live segment names
    double startSeconds = 0; // -ss
    double inputFpsHint = 0; // -fps: used only for frames without timestamps
    int outputFpsNum = 24; // -ofps: the constant output rate
    int outputFpsDen = 1;
    std::vector<FilterStep> filters;
    std::string videoCodec = "x264"; // -ovc
    std::string x264Options; // -x264encopts, empty when none were given
    std::string audioCodec = "faac"; // -oac
    int audioBitrateKbps = 128; // br= of -faacopts
    bool noAudio = false; // -nosound
    std::string container; // format= of -lavfopts; empty: from the output name
    int segmentSeconds = 0; // -vembacast: live segment length, 0 = one output file
    int pipeNumber = 0; // -pipename: 0 = run without a server
    std::string subtitleFile; // -sub
    std::string fontFile; // -font
    std::string subtitleCodepage; // -subcp
    std::vector<std::string> notes; // what was ignored, and why, for the log

    // A run that has no input is a thumbnail run: it serves requests on its pipes.
    bool IsThumbnailRun() const { return input.empty(); }
    bool HasSubtitles() const { return !subtitleFile.empty(); }
};

using FileExistsFn = std::function<bool(const std::string&)>;

// Parses argv (without the program name). fileExists lets "-font" take a path
// that the server wrote without quotes although it holds blanks: further words
// are joined to it while that makes an existing file.
EngineOptions ParseEngineCommandLine(const std::vector<std::string>& args, FileExistsFn fileExists);

// Parses a -vf / -vf-add value ("scale=480:270", "fixpts=fps=24,ass,fixpts",
// "rotate=2") and appends the steps it names; other filters are noted and skipped.
void AppendFilterChain(const std::string& value, EngineOptions& options);
