#include "streaming/browser_variants.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

// One rung of the transcode ladder: the box its picture fits, its rates (kbit/s).
// The peak rate and the buffer bound every segment's size (see TranscodeBandwidth).
struct Rung {
    int number;
    const char* label;
    int boxLong;
    int boxShort;
    int videoKbps;
};
constexpr std::array<Rung, 3> kLadder = { {
    { kHd1080Variant, "1080p", 1920, 1080, 6000 },
    { kHd720Variant, "720p", 1280, 720, 3000 },
    { kHd480Variant, "480p", 854, 480, 1200 },
} };

constexpr int kAudioKbps = 128;
// MPEG-TS carries the streams in 188-byte packets with 4-byte headers, PES headers
// and stuffing at the end of each frame, PAT and PMT: a few percent, and a floor for
// the tables and headers at low rates.
constexpr double kTsOverhead = 1.06;
constexpr int64_t kTsFloorBits = 64000;

int64_t WithTsOverhead(double bitsPerSecond)
{
    return static_cast<int64_t>(std::ceil(bitsPerSecond * kTsOverhead)) + kTsFloorBits;
}

std::string Format(const char* format, auto... args)
{
    char text[128];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

int EvenDown(double side)
{
    int value = static_cast<int>(std::floor(side / 2 + 1e-9)) * 2;
    return std::max(value, 2);
}

// "mp4a.40.2" (AAC-LC, which the engine makes and most AAC is), "mp4a.40.34" (MP3).
std::string AudioCodecName(const BrowserSource& source, bool copy)
{
    if (copy && source.audioCodec == "mp3")
        return "mp4a.40.34";
    return "mp4a.40.2";
}

std::string CodecsOf(const std::string& video, const BrowserSource& source, bool copyAudio)
{
    if (!source.hasAudio)
        return video;
    return video + "," + AudioCodecName(source, copyAudio);
}

// Every segment of a transcode is bounded by x264's buffer: at most the peak rate
// over its length plus one buffer, so the peak over the plan's shortest segment
// (never taken below 2 s, as only a file's very end is shorter) bounds them all.
int64_t TranscodeBandwidth(const BrowserVariant& variant, const SegmentPlan& plan, bool audio)
{
    double shortest = std::max(plan.ShortestDuration(), kShortestSegmentSeconds);
    double video = (variant.maxKbps + variant.bufferKbits / shortest) * 1000.0;
    return WithTsOverhead(video + (audio ? kAudioKbps * 1000.0 : 0));
}

BrowserVariant MakeOriginal(const BrowserSource& source, const SegmentPlan& plan)
{
    BrowserVariant variant;
    variant.number = kOriginalVariant;
    variant.label = "Original";
    variant.copyVideo = true;
    variant.width = source.width;
    variant.height = source.height;
    variant.audioKbps = source.audioCopyable ? 0 : kAudioKbps;
    variant.codecs = CodecsOf(
        H264CodecName(source.videoProfile, source.videoLevel), source, source.audioCopyable);
    variant.frameRate = source.frameRate;
    double seconds = source.durationSeconds > 0 ? source.durationSeconds : plan.endSeconds;
    double average
        = seconds > 0 && source.fileBytes > 0 ? double(source.fileBytes) * 8 / seconds : 0;
    int64_t peak = PeakSourceBitrate(source, plan);
    // Offsets that are unknown leave twice the average as the best guess of a peak.
    if (peak <= 0)
        peak = static_cast<int64_t>(average * 2);
    // Sound that is encoded may be larger than the source's (a mono MP3 at 32 kbit/s
    // becomes 128 kbit/s AAC).
    double encodedSound = source.hasAudio && !source.audioCopyable ? kAudioKbps * 1000.0 : 0;
    variant.bandwidth = WithTsOverhead(double(peak) + encodedSound);
    variant.averageBandwidth = WithTsOverhead(average + encodedSound);
    return variant;
}

BrowserVariant MakeTranscode(
    const Rung& rung, PictureSize size, const BrowserSource& source, const SegmentPlan& plan)
{
    BrowserVariant variant;
    variant.number = rung.number;
    variant.label = rung.label;
    variant.width = size.width;
    variant.height = size.height;
    // A picture smaller than the rung's box needs fewer bits for the same look.
    double area = double(size.width) * size.height / (double(rung.boxLong) * rung.boxShort);
    variant.videoKbps = std::max(200, static_cast<int>(rung.videoKbps * std::min(1.0, area)));
    variant.maxKbps = variant.videoKbps * 3 / 2;
    variant.bufferKbits = variant.videoKbps;
    variant.frameRate = source.frameRate;
    variant.level = H264LevelFor(size.width, size.height, source.frameRate);
    variant.audioKbps = kAudioKbps;
    variant.codecs = CodecsOf(H264CodecName("High", variant.level), source, false);
    variant.bandwidth = TranscodeBandwidth(variant, plan, source.hasAudio);
    variant.averageBandwidth
        = WithTsOverhead((variant.videoKbps + (source.hasAudio ? kAudioKbps : 0)) * 1000.0);
    return variant;
}

int ProfileIdc(const std::string& profile, int& constraints)
{
    constraints = 0;
    if (profile.starts_with("Constrained Baseline")) {
        constraints = 0xE0;
        return 66;
    }
    if (profile.starts_with("Baseline"))
        return 66;
    if (profile.starts_with("Main"))
        return 77;
    if (profile.starts_with("Extended"))
        return 88;
    if (profile.starts_with("High 10"))
        return 110;
    if (profile.starts_with("High 4:2:2"))
        return 122;
    if (profile.starts_with("High 4:4:4"))
        return 244;
    if (profile.starts_with("High"))
        return 100;
    return 0;
}

// "4.1" → 41, "3" → 30, "1b" → 11; 0 when it is not a level.
int LevelIdc(const std::string& text)
{
    if (text == "1b")
        return 11;
    int major = 0;
    int minor = 0;
    if (std::sscanf(text.c_str(), "%d.%d", &major, &minor) < 1 || major < 1 || major > 6
        || minor < 0 || minor > 9)
        return 0;
    return major * 10 + minor;
}

} // namespace

std::string H264CodecName(const std::string& profile, const std::string& level)
{
    std::string name = profile;
    std::string levelText = level;
    size_t at = name.find("@L");
    if (at != std::string::npos) {
        if (levelText.empty())
            levelText = name.substr(at + 2);
        name.resize(at);
    }
    int constraints = 0;
    int profileIdc = ProfileIdc(name, constraints);
    int levelIdc = LevelIdc(levelText);
    if (profileIdc == 0 || levelIdc == 0)
        return "avc1.640029";
    return Format("avc1.%02X%02X%02X", profileIdc, constraints, levelIdc);
}

std::string H264LevelFor(int width, int height, double frameRate)
{
    struct Level {
        const char* name;
        long maxFrameMbs;
        long maxMbsPerSecond;
    };
    static constexpr Level kLevels[] = {
        { "3", 1620, 40500 },
        { "3.1", 3600, 108000 },
        { "3.2", 5120, 216000 },
        { "4.1", 8192, 245760 },
        { "4.2", 8704, 522240 },
        { "5", 22080, 589824 },
        { "5.1", 36864, 983040 },
        { "5.2", 36864, 2073600 },
    };
    long frameMbs = long((width + 15) / 16) * long((height + 15) / 16);
    double rate = frameRate > 0 ? frameRate : 30;
    for (const Level& level : kLevels) {
        if (frameMbs <= level.maxFrameMbs && frameMbs * rate <= level.maxMbsPerSecond)
            return level.name;
    }
    return "5.2";
}

PictureSize FitPicture(int width, int height, int boxWidth, int boxHeight)
{
    if (width <= 0 || height <= 0)
        return {};
    if (height > width)
        std::swap(boxWidth, boxHeight);
    double scale = std::min({ 1.0, double(boxWidth) / width, double(boxHeight) / height });
    return { EvenDown(width * scale), EvenDown(height * scale) };
}

int64_t PeakSourceBitrate(const BrowserSource& source, const SegmentPlan& plan)
{
    const std::vector<double>& keys = source.keyframes;
    if (source.positions.size() != keys.size() || keys.empty() || source.fileBytes <= 0)
        return 0;
    // The offset of the key frame a cut is at (the first one for the cut at 0).
    auto offsetAt = [&](double cut) -> int64_t {
        auto it = std::lower_bound(keys.begin(), keys.end(), cut - 1e-6);
        if (it == keys.end())
            return -1;
        return source.positions[static_cast<size_t>(it - keys.begin())];
    };
    int64_t peak = 0;
    for (int n = 1; n <= plan.Count(); ++n) {
        int64_t from = offsetAt(plan.StartOf(n));
        int64_t to = n < plan.Count() ? offsetAt(plan.StartOf(n + 1)) : source.fileBytes;
        double seconds = plan.DurationOf(n);
        if (from < 0 || to < 0)
            return 0;
        if (to <= from || seconds <= 0)
            continue;
        peak = std::max(peak, static_cast<int64_t>(std::ceil(double(to - from) * 8 / seconds)));
    }
    return peak;
}

std::vector<BrowserVariant> ChooseBrowserVariants(
    const BrowserSource& source, const SegmentPlan& plan)
{
    std::vector<BrowserVariant> variants;
    if (source.width <= 0 || source.height <= 0 || plan.Count() == 0)
        return variants;
    if (source.indexed && plan.keyframeAligned && source.videoCopyable && source.rotation == 0
        && !source.burntSubtitles)
        variants.push_back(MakeOriginal(source, plan));
    bool quarterTurn = source.rotation % 180 != 0;
    int uprightWidth = quarterTurn ? source.height : source.width;
    int uprightHeight = quarterTurn ? source.width : source.height;
    int longSide = std::max(uprightWidth, uprightHeight);
    int shortSide = std::min(uprightWidth, uprightHeight);
    for (const Rung& rung : kLadder) {
        // A rung is offered when the source fills its box in either direction; the
        // smallest is always offered, at the source's size when that is smaller.
        bool fills = longSide >= rung.boxLong || shortSide >= rung.boxShort;
        if (!fills && rung.number != kHd480Variant)
            continue;
        PictureSize size = FitPicture(uprightWidth, uprightHeight, rung.boxLong, rung.boxShort);
        variants.push_back(MakeTranscode(rung, size, source, plan));
    }
    return variants;
}

int StartVariant(const std::vector<BrowserVariant>& variants, bool homeNetwork)
{
    if (variants.empty())
        return 0;
    if (homeNetwork)
        return variants.front().number;
    for (const BrowserVariant& variant : variants) {
        if (!variant.copyVideo && variant.number >= kHd720Variant)
            return variant.number;
    }
    return variants.back().number;
}
