#include "streaming/browser_plan.h"

#include "streaming/hls_playlists.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The file's length: the index's, else the media read's, else the client's claim;
// never more than any stream may announce.
double DurationOf(const BrowserPlanInput& input)
{
    double seconds = 0;
    if (input.index && input.index->durationSeconds > 0)
        seconds = input.index->durationSeconds;
    else if (input.properties.durationMs > 0)
        seconds = input.properties.durationMs / 1000.0;
    else if (input.playSeconds)
        seconds = static_cast<double>(*input.playSeconds);
    return std::min(seconds, static_cast<double>(kMaxPlaySeconds));
}

BrowserSource SourceOf(const BrowserPlanInput& input, double duration)
{
    const MediaProperties& read = input.properties;
    BrowserSource source;
    source.width = read.width;
    source.height = read.height;
    source.rotation = read.rotation;
    source.frameRate = read.frameRate;
    source.videoProfile = read.videoProfile;
    source.videoLevel = read.videoLevel;
    source.hasAudio = !read.audioId.empty();
    source.audioCodec = Lower(read.audioFormat);
    source.burntSubtitles = input.burntSubtitles;
    source.durationSeconds = duration;
    if (const MediaKeyframeIndex* index = input.index.get()) {
        // The engine read the file the way it will stream it: its word holds.
        source.width = index->width;
        source.height = index->height;
        source.rotation = index->rotation;
        if (index->FrameRate() > 0)
            source.frameRate = index->FrameRate();
        source.indexed = !index->keyframes.empty();
        source.videoCopyable = index->copyable;
        source.hasAudio = !index->audio.empty();
        if (source.hasAudio) {
            // The chosen stream is what the Original carries, and its codec decides
            // whether it is copied.
            size_t chosen = input.audioTrack > 0 && size_t(input.audioTrack) < index->audio.size()
                ? size_t(input.audioTrack)
                : 0;
            source.audioCodec = index->audio[chosen].codec;
            source.audioCopyable = index->audio[chosen].copyable;
        }
        source.keyframes = index->keyframes;
        source.positions = index->positions;
        source.fileBytes = index->fileBytes;
    }
    return source;
}

} // namespace

std::shared_ptr<StreamPlan> MakeBrowserPlan(const BrowserPlanInput& input)
{
    auto plan = std::make_shared<StreamPlan>();
    plan->client = StreamPlan::Client::Browser;
    plan->index = input.index;
    double duration = DurationOf(input);
    BrowserSource source = SourceOf(input, duration);
    plan->segments = source.indexed ? PlanKeyframeSegments(source.keyframes, duration)
                                    : PlanGridSegments(duration);
    plan->variants = ChooseBrowserVariants(source, plan->segments);
    plan->startVariant = StartVariant(plan->variants, input.homeNetwork);
    return plan;
}
