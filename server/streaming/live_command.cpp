#include "streaming/live_command.h"

#include "config/trace.h"
#include "library/media_properties.h"
#include "library/request_paths.h"
#include "library/share_confine.h"
#include "library/shared_folders.h"
#include "platform/process.h"
#include "streaming/browser_command.h"
#include "streaming/browser_playlists.h"
#include "streaming/client_info.h"
#include "streaming/command_line.h"
#include "streaming/hls_playlists.h"
#include "streaming/streaming_context.h"
#include "streaming/subtitle_script.h"

#include <string_view>
#include <thread>

namespace {

// Leading decimal digits, as the screen texts are read ("480" → 480; junk → 0).
long LeadingNumber(const std::string& text)
{
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > 100000)
            break;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The key frame an engine started at seconds goes straight to: the last one at or
// before it, or 0 (where a seek finds the first key frame) when the file's first
// key frame lies a little after its start; -1 when the file is not indexed.
double StartKeyframe(const StreamPlan& plan, double seconds)
{
    if (!plan.index || plan.index->keyframes.empty())
        return -1;
    return KeyframeAtOrBefore(plan.index->keyframes, seconds).value_or(0.0);
}

// A browser's variant: the plan's cuts and the variant's own encoding.
bool MakeBrowserLine(StreamingContext& server, std::vector<std::string>& arguments,
    ClientInfo& session, const StreamPlan& plan, const std::string& localPath, int pipeNumber,
    int startIndex)
{
    int variantNumber = session.Play().variant;
    const BrowserVariant* variant = plan.Variant(variantNumber);
    if (!variant || (startIndex >= plan.segments.Count()))
        return false;
    std::string folder = server.WorkFolders().SessionWorkFolder(session.szClientID);
    BrowserLine line;
    line.variant = variant;
    line.localPath = localPath;
    double start = startIndex > 0 ? plan.segments.StartOf(startIndex + 1) : 0;
    if (startIndex > 0)
        line.startSeconds = start;
    line.keyframeSeconds = StartKeyframe(plan, start);
    // The sound the playlist's codecs name: the one chosen, else the first.
    const CommonInfo_t::TrackChoice tracks = session.Tracks();
    if (tracks.audio >= 0)
        line.audioTrack = tracks.audio;
    else if (plan.index && !plan.index->audio.empty())
        line.audioTrack = 0;
    line.frameRate = static_cast<float>(variant->frameRate);
    // The browser shows text subtitles itself; a picture stream it chose is burnt in.
    if (!variant->copyVideo)
        line.burntSubtitle = tracks.burntSubtitle;
    line.cutsFile = folder + "/" + kCutsFileName;
    line.output = folder + "/" + SegmentFileName(variant->number, std::max(startIndex + 1, 1));
    line.pipeNumber = pipeNumber;
    arguments = MakeBrowserCommandLine(line);
    TraceMessage(kTraceWindow, "MakeLiveCommandLine - %s (variant %d)", variant->label.c_str(),
        variant->number);
    return !arguments.empty();
}

} // namespace

std::string ResolveSessionFilePath(const SharedFolderList& shares, const std::string& storedPath)
{
    // The stored path has been decoded once already; mapping refuses ".." and
    // unknown shares like every request path, and a link out of the share is refused
    // as downloads refuse it (the file may have been swapped for one since "/play").
    RequestPathMapping mapping = MapDecodedRequestPath(shares, storedPath, RequestPathKind::File);
    return IsMappedInsideShare(shares, mapping) ? mapping.diskPath : std::string();
}

bool MakeLiveCommandLine(StreamingContext& server, std::vector<std::string>& arguments,
    ClientInfo& session, int pipeNumber, int startIndex, SeekBuild seek)
{
    arguments.clear();
    std::string localPath = ResolveSessionFilePath(server.SharedFolders(), session.FilePath());
    if (localPath.empty())
        return false;
    std::shared_ptr<const StreamPlan> plan = session.Plan();
    if (plan->IsBrowser()) {
        std::vector<std::string> words;
        if (!MakeBrowserLine(server, words, session, *plan, localPath, pipeNumber, startIndex))
            return false;
        if (session.IsSeekOvertaken())
            return false;
        TraceMessage(kTraceEncoderParam, " - Make Param : %s", CommandLineText(words).c_str());
        arguments = std::move(words);
        return true;
    }
    long screenWidth = LeadingNumber(session.Width());
    long screenHeight = LeadingNumber(session.Height());

    // The script is made before the properties are read, as the scale option
    // depends on whether subtitles are burnt in.
    SubtitleScriptJob script { localPath, screenWidth, screenHeight,
        LiveSubtitleScriptBase(server.WorkFolders().SessionWorkFolder(session.szClientID)),
        startIndex > 0 ? startIndex * 5 : 0 };
    std::vector<std::string> subtitleOptions = MakeSubtitleScript(server.Fonts(), script);

    std::string codecId;
    double frameRate = 0;
    int videoWidth = 0;
    int videoHeight = 0;
    if (!server.Media().GetMovieProperty(localPath, codecId, frameRate, videoWidth, videoHeight))
        TraceMessage(kTraceProgress, "GetMovieProperty Return False");
    if (session.IsSeekOvertaken())
        return false;

    int bandwidth = session.Play().variant;
    TraceMessage(kTraceWindow, "MakeLiveCommandLine - BANDWIDTH:%d", bandwidth);
    // Without a picture size the engine could only be given an empty picture: a
    // file that is not video gets no engine.
    if (videoWidth <= 0 || videoHeight <= 0) {
        TraceMessage(
            kTraceStreamFailure, "MakeLiveCommandLine : no picture size ('%s')", localPath.c_str());
        return false;
    }
    LiveLine line;
    line.startSegmentIndex = startIndex;
    line.keyframeSeconds = StartKeyframe(*plan, startIndex > 0 ? startIndex * 5.0 : 0.0);
    line.localPath = localPath;
    line.frameRate = static_cast<float>(frameRate);
    line.size = ComputeScaledSize(
        static_cast<int>(screenWidth), static_cast<int>(screenHeight), videoWidth, videoHeight);
    line.subtitleOptions = std::move(subtitleOptions);
    line.processors = std::thread::hardware_concurrency();
    line.servicesFolder = server.Places().ServicesFolder();
    line.clientId = session.szClientID;
    line.bandwidth = bandwidth;
    line.pipeNumber = pipeNumber;
    const CommonInfo_t::TrackChoice tracks = session.Tracks();
    line.audioTrack = tracks.audio;
    line.burntSubtitle = tracks.burntSubtitle;
    std::vector<std::string> words = MakeLiveCommandLine(line);
    if (words.empty())
        return false;
    if (seek == SeekBuild::Yes && session.IsSeekOvertaken())
        return false;
    TraceMessage(kTraceEncoderParam, " - Make Param : %s", CommandLineText(words).c_str());
    arguments = std::move(words);
    return true;
}
