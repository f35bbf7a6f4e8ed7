#pragma once

// The engine's command line. The server builds it from a handful of templates
// (live segments per bandwidth preset, conversions, thumbnails); this parser
// accepts every option those templates carry, in any order, and ignores with a
// note what it does not know, so an older or newer server never stops an engine.
//
// Options beyond the phone's templates (all times are media seconds: the time of
// a picture counted from the container's start, the same in every option and in
// the key frame index):
//
//   -keyframes "PATH" -o OUT   key frame index mode: no pipes; writes the index of
//                              PATH to OUT (format in keyframe_index.h) and exits
//                              0, or non-zero with a line on stderr
//   -tracks "PATH" -o OUT      track list mode: no pipes; writes the audio and
//                              subtitle streams of PATH to OUT (track_list.h)
//   -textsub N "PATH" -o OUT   text subtitle mode: no pipes; writes the N-th
//                              subtitle stream of PATH (0-based among the
//                              subtitle streams) to OUT as SubRip (UTF-8)
//   -previews "PATH" -o OUT    seek preview mode: no pipes; writes the preview
//                              sheets of PATH into the folder OUT (seek_previews.h)
//   -sid N                     burn the N-th subtitle stream of the input (0-based
//                              among its subtitle streams; pictures such as PGS or
//                              DVD) into the picture; -sub (an ASS script) wins
//   -cuts FILE                 live segment boundaries: one time a line, ascending,
//                              the first 0; segment n holds [cut n-1, cut n), the
//                              last one runs to the end; a file that breaks
//                              these rules is error 1 (message 16). Without it:
//                              the 5 s grid
//   -ovc copy                  H.264 video copied, cut at its key frames (a cut
//                              without one moves to the next key frame; the log
//                              says so); -vf, subtitles and -autorotate do not
//                              apply. Video that cannot be copied (not H.264 in
//                              8-bit 4:2:0) is encoded with the x264 options
//                              given, and the log says so. Live segments only
//   -oac copy                  AAC and MP3 copied; any other sound is encoded to
//                              AAC-LC at the -faacopts br= rate
//   -aid N                     the N-th audio stream (0-based, audio streams in
//                              file order); out of range: error 2 (message 16)
//   -kf T                      the key frame at or before -ss, from the index: the
//                              engine seeks straight to it and probes briefly; a
//                              T after -ss is ignored
//   -autorotate                turn the picture upright as the file's display
//                              matrix says before the other filters; -vf scale
//                              then gives the upright size
//   -ofps F / -vf-add harddup  constant output rate F (harddup alone: 24); with
//                              neither, the source's own frame rate
//   -x264encopts ...           also x264's preset=, tune= and profile= names
//                              (x264_options.h), beside its parameters such as
//                              vbv_maxrate=, vbv_bufsize=, level=, keyint=

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
    bool outputFpsGiven = false; // -ofps or harddup; otherwise the source's rate is kept
    std::vector<FilterStep> filters;
    std::string videoCodec = "x264"; // -ovc: "copy" copies H.264
    std::string x264Options; // -x264encopts, empty when none were given
    std::string audioCodec = "faac"; // -oac: "copy" copies AAC and MP3
    int audioBitrateKbps = 128; // br= of -faacopts
    bool noAudio = false; // -nosound
    std::string container; // format= of -lavfopts; empty: from the output name
    int segmentSeconds = 0; // -vembacast: live segment length, 0 = one output file
    int pipeNumber = 0; // -pipename: 0 = run without a server
    std::string subtitleFile; // -sub
    std::string fontFile; // -font
    std::string subtitleCodepage; // -subcp
    std::string keyframesInput; // -keyframes: the file whose index is written to -o
    std::string tracksInput; // -tracks: the file whose streams are listed in -o
    std::string previewsInput; // -previews: the file whose seek previews go to -o
    int textSubtitleTrack = -1; // -textsub: the subtitle stream written to -o
    int burntSubtitleTrack = -1; // -sid: the subtitle stream drawn into the picture
    std::string cutsFile; // -cuts
    double keyframeSeconds = -1; // -kf: the key frame at or before the start, -1 unknown
    int audioTrack = -1; // -aid: 0-based among the audio streams, -1 the usual choice
    bool autoRotate = false; // -autorotate
    std::vector<std::string> notes; // what was ignored, and why, for the log

    // A run that has no input is a thumbnail run: it serves requests on its pipes.
    bool IsThumbnailRun() const
    {
        return input.empty() && keyframesInput.empty() && tracksInput.empty()
            && previewsInput.empty();
    }
    bool IsPreviewRun() const { return !previewsInput.empty(); }
    bool IsKeyframeIndexRun() const { return !keyframesInput.empty(); }
    bool IsTrackListRun() const { return !tracksInput.empty(); }
    bool IsTextSubtitleRun() const { return textSubtitleTrack >= 0; }
    bool CopyVideo() const { return videoCodec == "copy"; }
    bool CopyAudio() const { return audioCodec == "copy"; }
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
