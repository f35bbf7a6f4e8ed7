// A browser's stream without the engine: its segments planned at key frames, the
// variants offered and what they declare, its playlists and its engine arguments.

#include "library/keyframe_index.h"
#include "streaming/browser_command.h"
#include "streaming/browser_plan.h"
#include "streaming/browser_playlists.h"
#include "streaming/browser_variants.h"
#include "streaming/segment_plan.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using Words = std::vector<std::string>;

const std::vector<double> kIrregularKeys
    = { 0, 0.48, 2, 12, 13.2, 17.24, 19, 24.6, 27, 29.4, 34.96 };

bool HoldsRun(const Words& words, const Words& run)
{
    return std::search(words.begin(), words.end(), run.begin(), run.end()) != words.end();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A 1080p H.264 film of 120 s with a key frame every 2 s, indexed.
BrowserSource Film(int width = 1920, int height = 1080)
{
    BrowserSource source;
    source.width = width;
    source.height = height;
    source.frameRate = 24000.0 / 1001;
    source.indexed = true;
    source.videoCopyable = true;
    source.videoProfile = "High@L4.1";
    source.hasAudio = true;
    source.audioCodec = "aac";
    source.audioCopyable = true;
    source.durationSeconds = 120;
    // Key frames every 2 s at 5 Mbit/s, but 20 Mbit/s from 60 s to 64 s.
    int64_t at = 0;
    for (int i = 0; i < 60; ++i) {
        source.keyframes.push_back(i * 2.0);
        source.positions.push_back(at);
        at += (i == 30 || i == 31) ? 5000000 : 1250000;
    }
    source.fileBytes = at;
    return source;
}

// The index of a 40 s 720p H.264 clip with the irregular key frames and these sounds.
std::shared_ptr<const MediaKeyframeIndex> IndexedClip(std::vector<MediaKeyframeIndex::Audio> audio)
{
    auto index = std::make_shared<MediaKeyframeIndex>();
    index->durationSeconds = 40;
    index->videoCodec = "h264";
    index->width = 1280;
    index->height = 720;
    index->copyable = true;
    index->rateNum = 25;
    index->keyframes = kIrregularKeys;
    index->audio = std::move(audio);
    return index;
}

const BrowserVariant* Find(const std::vector<BrowserVariant>& variants, int number)
{
    for (const BrowserVariant& variant : variants) {
        if (variant.number == number)
            return &variant;
    }
    return nullptr;
}

} // namespace

TEST(SegmentPlanTest, CutsAtKeyFramesNearFiveSecondsNeverUnderTwo)
{
    SegmentPlan plan = PlanKeyframeSegments(kIrregularKeys, 40);
    EXPECT_TRUE(plan.keyframeAligned);
    // 0.48 is too soon after 0; from 2 the next key frame is 10 s away (the file's
    // GOP decides); 34.96 leaves 5 s for the last segment.
    EXPECT_EQ(plan.cuts, (std::vector<double> { 0, 2, 12, 17.24, 24.6, 29.4, 34.96 }));
    EXPECT_DOUBLE_EQ(plan.DurationOf(1), 2);
    EXPECT_DOUBLE_EQ(plan.DurationOf(2), 10);
    EXPECT_NEAR(plan.DurationOf(7), 5.04, 1e-9);
    EXPECT_EQ(plan.TargetDuration(), 10);
    double sum = 0;
    for (int n = 1; n <= plan.Count(); ++n) {
        EXPECT_NEAR(sum, plan.StartOf(n), 1e-9);
        EXPECT_GE(plan.DurationOf(n), kShortestSegmentSeconds);
        sum += plan.DurationOf(n);
    }
    EXPECT_NEAR(sum, 40, 1e-9);

    // A key frame a second before the end makes no segment of a second.
    plan = PlanKeyframeSegments({ 0, 5, 10, 14 }, 15);
    EXPECT_EQ(plan.cuts, (std::vector<double> { 0, 5, 10 }));
    // Key frames every second: segments of five.
    std::vector<double> everySecond;
    for (int i = 0; i < 30; ++i)
        everySecond.push_back(i);
    EXPECT_EQ(
        PlanKeyframeSegments(everySecond, 30).cuts, (std::vector<double> { 0, 5, 10, 15, 20, 25 }));
    // No key frame after the start: one segment of the whole file.
    plan = PlanKeyframeSegments({ 0 }, 7.5);
    EXPECT_EQ(plan.Count(), 1);
    EXPECT_EQ(plan.TargetDuration(), 8);
}

TEST(SegmentPlanTest, GridSegmentsEndWithTheTrueLastDuration)
{
    SegmentPlan plan = PlanGridSegments(62);
    EXPECT_FALSE(plan.keyframeAligned);
    EXPECT_EQ(plan.Count(), 13);
    EXPECT_DOUBLE_EQ(plan.DurationOf(12), 5);
    EXPECT_DOUBLE_EQ(plan.DurationOf(13), 2);
    EXPECT_EQ(plan.TargetDuration(), 5);
    EXPECT_EQ(PlanGridSegments(60).Count(), 12);
    EXPECT_EQ(PlanGridSegments(0).Count(), 1); // unknown length: one segment
    EXPECT_EQ(CutsFileText(PlanGridSegments(12)), "0.000000\n5.000000\n10.000000\n");
}

TEST(BrowserVariantsTest, AnIndexedFilmGetsItsOwnPictureAndThreeTranscodes)
{
    BrowserSource source = Film();
    SegmentPlan plan = PlanKeyframeSegments(source.keyframes, source.durationSeconds);
    std::vector<BrowserVariant> variants = ChooseBrowserVariants(source, plan);
    ASSERT_EQ(variants.size(), 4u);
    const BrowserVariant& original = variants[0];
    EXPECT_EQ(original.number, kOriginalVariant);
    EXPECT_TRUE(original.copyVideo);
    EXPECT_EQ(original.codecs, "avc1.640029,mp4a.40.2");
    EXPECT_EQ(original.width, 1920);
    // The peak is the 20 Mbit/s stretch, not the 5 Mbit/s average, and more for
    // MPEG-TS.
    EXPECT_GE(original.bandwidth, PeakSourceBitrate(source, plan));
    EXPECT_GE(PeakSourceBitrate(source, plan), 15000000);
    EXPECT_LT(original.averageBandwidth, original.bandwidth);

    const BrowserVariant* hd = Find(variants, kHd1080Variant);
    ASSERT_NE(hd, nullptr);
    EXPECT_EQ(hd->width, 1920);
    EXPECT_EQ(hd->height, 1080);
    EXPECT_EQ(hd->level, "4.1");
    EXPECT_EQ(hd->codecs, "avc1.640029,mp4a.40.2");
    // No segment can pass the peak rate plus one buffer over the shortest segment.
    double bound = (hd->maxKbps + hd->bufferKbits / plan.ShortestDuration() + 128) * 1000;
    EXPECT_GE(hd->bandwidth, static_cast<int64_t>(bound));
    EXPECT_EQ(Find(variants, kHd720Variant)->height, 720);
    EXPECT_EQ(Find(variants, kHd480Variant)->width, 852);
    EXPECT_EQ(StartVariant(variants, true), kOriginalVariant);
    EXPECT_EQ(StartVariant(variants, false), kHd720Variant);
}

TEST(BrowserVariantsTest, WhatCannotBeCopiedAsItIsGetsTranscodesOnly)
{
    SegmentPlan plan = PlanKeyframeSegments(Film().keyframes, 120);
    struct Case {
        const char* what;
        void (*change)(BrowserSource&);
    } cases[] = {
        { "not indexed", [](BrowserSource& s) { s.indexed = false; } },
        { "HEVC", [](BrowserSource& s) { s.videoCopyable = false; } },
        { "turned", [](BrowserSource& s) { s.rotation = 90; } },
        { "subtitles burnt in", [](BrowserSource& s) { s.burntSubtitles = true; } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BrowserSource source = Film();
        c.change(source);
        std::vector<BrowserVariant> variants = ChooseBrowserVariants(source, plan);
        EXPECT_EQ(Find(variants, kOriginalVariant), nullptr);
        EXPECT_EQ(variants.size(), 3u);
        EXPECT_NE(StartVariant(variants, true), kOriginalVariant);
    }
    // A phone's portrait film is offered upright.
    BrowserSource turned = Film();
    turned.rotation = 270;
    std::vector<BrowserVariant> uprights = ChooseBrowserVariants(turned, plan);
    const BrowserVariant* upright = Find(uprights, kHd720Variant);
    ASSERT_NE(upright, nullptr);
    EXPECT_EQ(upright->width, 720);
    EXPECT_EQ(upright->height, 1280);
    // AC-3 sound is encoded: the direct stream names AAC, and counts 128 kbit/s more.
    BrowserSource ac3 = Film();
    ac3.audioCodec = "ac3";
    ac3.audioCopyable = false;
    std::vector<BrowserVariant> withAc3 = ChooseBrowserVariants(ac3, plan);
    std::vector<BrowserVariant> withAac = ChooseBrowserVariants(Film(), plan);
    const BrowserVariant* original = Find(withAc3, kOriginalVariant);
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(original->codecs, "avc1.640029,mp4a.40.2");
    EXPECT_GE(original->bandwidth, Find(withAac, kOriginalVariant)->bandwidth + 128000);
    BrowserSource mp3 = Film();
    mp3.audioCodec = "mp3";
    std::vector<BrowserVariant> withMp3 = ChooseBrowserVariants(mp3, plan);
    EXPECT_EQ(Find(withMp3, kOriginalVariant)->codecs, "avc1.640029,mp4a.40.34");
}

TEST(BrowserVariantsTest, NoTranscodeIsLargerThanTheSource)
{
    SegmentPlan plan = PlanGridSegments(60);
    BrowserSource hd720 = Film(1280, 720);
    hd720.indexed = false;
    std::vector<BrowserVariant> variants = ChooseBrowserVariants(hd720, plan);
    ASSERT_EQ(variants.size(), 2u);
    EXPECT_EQ(variants[0].number, kHd720Variant);
    EXPECT_EQ(variants[1].number, kHd480Variant);
    // A small picture gets the smallest rung at its own size, at fewer bits.
    variants = ChooseBrowserVariants(Film(320, 240), PlanGridSegments(60));
    ASSERT_GE(variants.size(), 1u);
    const BrowserVariant& small = variants.back();
    EXPECT_EQ(small.number, kHd480Variant);
    EXPECT_EQ(small.width, 320);
    EXPECT_EQ(small.height, 240);
    EXPECT_LT(small.videoKbps, 1200);
    // A cinema picture fills the 1080p box by its width.
    variants = ChooseBrowserVariants(Film(1920, 800), plan);
    EXPECT_EQ(Find(variants, kHd1080Variant)->height, 800);
    EXPECT_EQ(ChooseBrowserVariants(Film(0, 0), plan).size(), 0u);
    // Odd sides of an odd picture become even.
    PictureSize fitted = FitPicture(1001, 563, 854, 480);
    EXPECT_EQ(fitted.width % 2, 0);
    EXPECT_EQ(fitted.height % 2, 0);
    EXPECT_LE(fitted.width, 854);
}

TEST(BrowserVariantsTest, CodecNamesAndLevels)
{
    EXPECT_EQ(H264CodecName("High@L4.1", ""), "avc1.640029");
    EXPECT_EQ(H264CodecName("Main@L3.1", ""), "avc1.4D001F");
    EXPECT_EQ(H264CodecName("Constrained Baseline@L3", ""), "avc1.42E01E");
    EXPECT_EQ(H264CodecName("High", "4"), "avc1.640028");
    EXPECT_EQ(H264CodecName("High 10@L5.1", ""), "avc1.6E0033");
    EXPECT_EQ(H264CodecName("", ""), "avc1.640029");
    EXPECT_EQ(H264CodecName("Main@Lx", ""), "avc1.640029");
    EXPECT_EQ(H264LevelFor(1920, 1080, 25), "4.1");
    EXPECT_EQ(H264LevelFor(1920, 1080, 60), "4.2");
    EXPECT_EQ(H264LevelFor(1280, 720, 30), "3.1");
    EXPECT_EQ(H264LevelFor(1280, 720, 60), "3.2");
    EXPECT_EQ(H264LevelFor(854, 480, 25), "3");
    EXPECT_EQ(H264LevelFor(854, 480, 30), "3.1");
    EXPECT_EQ(H264LevelFor(3840, 2160, 30), "5.1");
}

TEST(BrowserPlaylistsTest, ValidHlsWithRelativeUrls)
{
    BrowserSource source = Film();
    SegmentPlan plan = PlanKeyframeSegments(source.keyframes, 119.5);
    std::vector<BrowserVariant> variants = ChooseBrowserVariants(source, plan);
    std::string master = MakeBrowserMasterPlaylist(variants);
    std::vector<std::string> lines = Lines(master);
    ASSERT_EQ(lines.size(), 3 + 2 * variants.size());
    EXPECT_EQ(lines[0], "#EXTM3U");
    EXPECT_EQ(lines[1], "#EXT-X-VERSION:3");
    EXPECT_EQ(lines[3],
        "#EXT-X-STREAM-INF:BANDWIDTH=" + std::to_string(variants[0].bandwidth)
            + ",AVERAGE-BANDWIDTH=" + std::to_string(variants[0].averageBandwidth)
            + ",CODECS=\"avc1.640029,mp4a.40.2\",RESOLUTION=1920x1080,FRAME-RATE=23.976");
    EXPECT_EQ(lines[4], "movie7.m3u8");
    EXPECT_EQ(lines.back(), "movie10.m3u8");

    const std::string id = "0123456789ABCDEF0123456789ABCDEF";
    std::string media = MakeBrowserVariantPlaylist(plan, id, kHd720Variant);
    lines = Lines(media);
    EXPECT_EQ(lines[1], "#EXT-X-VERSION:3");
    EXPECT_EQ(lines[2], "#EXT-X-PLAYLIST-TYPE:VOD");
    // Key frames every 2 s: segments of 4 s (as near to 5 s as they can be).
    EXPECT_EQ(lines[3], "#EXT-X-TARGETDURATION:4");
    EXPECT_EQ(lines[5], "#EXTINF:4.000000,");
    EXPECT_EQ(lines[6], "../../file/" + id + "/vemba-9-1.ts");
    EXPECT_EQ(lines.back(), "#EXT-X-ENDLIST");
    // The last segment lasts what is left of the file, and nothing more.
    EXPECT_EQ(lines[lines.size() - 3], "#EXTINF:3.500000,");
    EXPECT_EQ(lines[lines.size() - 2],
        "../../file/" + id + "/vemba-9-" + std::to_string(plan.Count()) + ".ts");
}

TEST(BrowserCommandTest, TheDirectStreamCopiesAndTranscodesTurnUpright)
{
    BrowserSource source = Film();
    SegmentPlan plan = PlanKeyframeSegments(source.keyframes, 120);
    std::vector<BrowserVariant> variants = ChooseBrowserVariants(source, plan);
    BrowserLine line;
    line.variant = &variants[0];
    line.localPath = "-odd name.mkv";
    line.startSeconds = 36;
    line.keyframeSeconds = 36;
    line.audioTrack = 0;
    line.cutsFile = "/svc/ID/cuts.txt";
    line.output = "/svc/ID/vemba-7-8.ts";
    line.pipeNumber = 50001;
    Words words = MakeBrowserCommandLine(line);
    EXPECT_TRUE(HoldsRun(words, { "-ss", "36.000000", "-kf", "36.000000", "./-odd name.mkv" }));
    EXPECT_TRUE(HoldsRun(words, { "-aid", "0" }));
    EXPECT_TRUE(HoldsRun(words, { "-ovc", "copy" }));
    EXPECT_TRUE(HoldsRun(words, { "-oac", "copy" }));
    EXPECT_TRUE(HoldsRun(words,
        { "-vembacast", "5", "-cuts", "/svc/ID/cuts.txt", "-o", "/svc/ID/vemba-7-8.ts",
            "-pipename=50001" }));
    EXPECT_EQ(words.back(), "-pipename=50001");
    EXPECT_EQ(std::count(words.begin(), words.end(), "-autorotate"), 0);

    line.variant = Find(variants, kHd720Variant);
    line.startSeconds = -1;
    line.keyframeSeconds = -1;
    words = MakeBrowserCommandLine(line);
    EXPECT_EQ(words.front(), "./-odd name.mkv");
    EXPECT_TRUE(HoldsRun(words, { "-autorotate", "-vf", "scale=1280:720" }));
    EXPECT_TRUE(HoldsRun(words,
        { "-ovc", "x264", "-x264encopts",
            "profile=high:preset=veryfast:bitrate=3000:vbv_maxrate=4500:vbv_bufsize=3000:keyint="
            "240:level=3.1:threads=auto" }));
    // The source's frame rate: no constant rate is asked for.
    EXPECT_EQ(std::count(words.begin(), words.end(), "-ofps"), 0);
    EXPECT_EQ(std::count(words.begin(), words.end(), "harddup"), 0);
    line.variant = nullptr;
    EXPECT_TRUE(MakeBrowserCommandLine(line).empty());
}

TEST(BrowserPlanTest, WithoutAnIndexTheGridAndWithItTheKeyFrames)
{
    BrowserPlanInput input;
    input.properties.width = 1280;
    input.properties.height = 720;
    input.properties.frameRate = 25;
    input.properties.durationMs = 62000;
    input.properties.audioId = "2";
    input.properties.audioFormat = "AAC";
    input.homeNetwork = true;
    std::shared_ptr<StreamPlan> plan = MakeBrowserPlan(input);
    EXPECT_TRUE(plan->IsBrowser());
    EXPECT_EQ(plan->segments.Count(), 13);
    EXPECT_EQ(plan->Variant(kOriginalVariant), nullptr);
    EXPECT_EQ(plan->startVariant, kHd720Variant);

    input.index = IndexedClip({ { "aac", 2, 48000, true } });
    plan = MakeBrowserPlan(input);
    EXPECT_EQ(plan->segments.Count(), 7); // the index's length and key frames decide
    EXPECT_NE(plan->Variant(kOriginalVariant), nullptr);
    EXPECT_EQ(plan->startVariant, kOriginalVariant);
    // A day-long claim of a file that says nothing is bounded.
    BrowserPlanInput claim;
    claim.properties.width = 640;
    claim.properties.height = 360;
    claim.playSeconds = 1000000;
    EXPECT_EQ(MakeBrowserPlan(claim)->segments.Count(), 24 * 3600 / 5);
}

TEST(BrowserPlanTest, TheChosenAudioStreamDecidesWhatTheOriginalCarries)
{
    BrowserPlanInput input;
    input.homeNetwork = true;
    input.index = IndexedClip(
        { { "aac", 2, 48000, true }, { "ac3", 6, 48000, false }, { "mp3", 2, 44100, true } });
    struct Case {
        int audio;
        const char* codecs;
        int audioKbps; // 0: copied
    };
    for (const Case& c :
        { Case { -1, "avc1.640029,mp4a.40.2", 0 }, Case { 1, "avc1.640029,mp4a.40.2", 128 },
            Case { 2, "avc1.640029,mp4a.40.34", 0 }, Case { 7, "avc1.640029,mp4a.40.2", 0 } }) {
        SCOPED_TRACE(c.audio);
        input.audioTrack = c.audio;
        std::shared_ptr<StreamPlan> plan = MakeBrowserPlan(input);
        const BrowserVariant* original = plan->Variant(kOriginalVariant);
        ASSERT_NE(original, nullptr);
        EXPECT_EQ(original->codecs, c.codecs);
        EXPECT_EQ(original->audioKbps, c.audioKbps);
    }
    // A picture subtitle burnt in can only be shown by a transcode.
    input.audioTrack = -1;
    input.burntSubtitles = true;
    std::shared_ptr<StreamPlan> plan = MakeBrowserPlan(input);
    EXPECT_EQ(plan->Variant(kOriginalVariant), nullptr);
    EXPECT_EQ(plan->startVariant, kHd720Variant);
}

TEST(KeyframeIndexText, ReadsWhatTheEngineWritesAndRefusesWhatDoesNotHold)
{
    const std::string good = "vembacast-keyframes 1\nduration 40.000000\nvideo h264 1920 1080 "
                             "yuv420p\ncopyable 1\nrotation 90\nfps 24000/1001\naudio aac 2 "
                             "48000 copy\naudio ac3 6 48000 encode\nlater words we do not know\n"
                             "index container\nkeyframes 3\n0.000000\n4.004000\n9.342667\n"
                             "filesize 9000\npositions 3\n48\n4000\n8000\n";
    std::optional<MediaKeyframeIndex> index = ParseKeyframeIndex(good);
    ASSERT_TRUE(index);
    EXPECT_DOUBLE_EQ(index->durationSeconds, 40);
    EXPECT_EQ(index->videoCodec, "h264");
    EXPECT_EQ(index->UprightWidth(), 1080);
    EXPECT_TRUE(index->copyable);
    EXPECT_NEAR(index->FrameRate(), 23.976, 0.001);
    ASSERT_EQ(index->audio.size(), 2u);
    EXPECT_TRUE(index->audio[0].copyable);
    EXPECT_FALSE(index->audio[1].copyable);
    EXPECT_TRUE(index->fromContainer);
    EXPECT_EQ(index->keyframes, (std::vector<double> { 0, 4.004, 9.342667 }));
    EXPECT_EQ(index->positions, (std::vector<int64_t> { 48, 4000, 8000 }));
    EXPECT_EQ(KeyframeAtOrBefore(index->keyframes, 9.0), 4.004);
    EXPECT_EQ(KeyframeAtOrBefore(index->keyframes, 9.3426665), 9.342667);
    EXPECT_FALSE(KeyframeAtOrBefore({ 0.5 }, 0.1));

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return ParseKeyframeIndex(text);
    };
    EXPECT_FALSE(replaced("vembacast-keyframes 1", "vembacast-keyframes 2"));
    EXPECT_FALSE(replaced("keyframes 3\n", "keyframes 4\n")); // fewer lines than said
    EXPECT_FALSE(replaced("4.004000", "0.000000")); // not ascending
    EXPECT_FALSE(replaced("4.004000", "nan"));
    EXPECT_FALSE(replaced("4.004000", "-4"));
    EXPECT_FALSE(replaced("keyframes 3", "keyframes 99999999999"));
    EXPECT_FALSE(replaced("rotation 90", "rotation 45"));
    EXPECT_FALSE(replaced("fps 24000/1001", "fps 24000/0"));
    EXPECT_FALSE(replaced("video h264 1920 1080 yuv420p", "video h264 -1 1080 yuv420p"));
    EXPECT_FALSE(ParseKeyframeIndex(""));
    EXPECT_FALSE(ParseKeyframeIndex(std::string(kMaxIndexTextBytes + 1, 'x')));
    // Offsets beyond the file say nothing; the rest of the index stands.
    std::optional<MediaKeyframeIndex> beyond = replaced("filesize 9000", "filesize 5000");
    ASSERT_TRUE(beyond);
    EXPECT_TRUE(beyond->positions.empty());
    EXPECT_EQ(beyond->keyframes.size(), 3u);
}
