// A browser's stream end to end, over real HTTP with the real engine: the file's
// key frames indexed in the background, the direct stream and the HD transcodes in
// valid playlists, segments on the playlist's timeline after seeks in any order,
// and the ffmpeg tool as an HLS client.

#include "engine/test_media.h"
#include "live_server_fixture.h"
#include "streaming/browser_variants.h"
#include "streaming/streaming_context.h"
#include "support/step_log.h"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

constexpr double kOffset = 10.0; // the engine's timestamps: media time + 10 s
constexpr double kFrame = 1.0 / 25; // the irregular file's frame
constexpr double kAacFrame = 1024.0 / 44100;

struct Variant {
    std::map<std::string, std::string> attributes; // of its EXT-X-STREAM-INF line
    std::string uri;
};

struct Master {
    std::string url;
    std::string startVariant;
    std::string text;
    std::vector<Variant> variants;

    const Variant* Named(const std::string& uri) const
    {
        for (const Variant& variant : variants) {
            if (variant.uri == uri)
                return &variant;
        }
        return nullptr;
    }
};

struct Media {
    std::vector<double> durations;
    std::vector<std::string> uris;
    int targetDuration = 0;
    std::string text;
};

std::map<std::string, std::string> ParseAttributes(const std::string& list)
{
    std::map<std::string, std::string> attributes;
    size_t at = 0;
    while (at < list.size()) {
        size_t equals = list.find('=', at);
        if (equals == std::string::npos)
            break;
        std::string name = list.substr(at, equals - at);
        size_t end = equals + 1;
        if (end < list.size() && list[end] == '"')
            end = list.find('"', end + 1) + 1;
        end = list.find(',', end);
        if (end == std::string::npos)
            end = list.size();
        attributes[name] = list.substr(equals + 1, end - equals - 1);
        at = end + 1;
    }
    return attributes;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

Master ParseMaster(const std::string& text)
{
    Master master;
    master.text = text;
    std::vector<std::string> lines = Lines(text);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string head = "#EXT-X-STREAM-INF:";
        if (lines[i].starts_with(head))
            master.variants.push_back(
                { ParseAttributes(lines[i].substr(head.size())), lines[i + 1] });
    }
    return master;
}

Media ParseMedia(const std::string& text)
{
    Media media;
    media.text = text;
    std::vector<std::string> lines = Lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts_with("#EXT-X-TARGETDURATION:"))
            media.targetDuration = std::atoi(lines[i].c_str() + 22);
        if (lines[i].starts_with("#EXTINF:") && i + 1 < lines.size()) {
            media.durations.push_back(std::atof(lines[i].c_str() + 8));
            media.uris.push_back(lines[i + 1]);
        }
    }
    return media;
}

// The earliest video and audio timestamps of a segment, whether its first video
// packet is a key picture, its codecs and its picture.
struct SegmentFacts {
    double video = NAN;
    double audio = NAN;
    bool startsWithKey = false;
    std::string videoCodec;
    std::string audioCodec;
    std::string profile; // of the video
    int width = 0;
    int height = 0;
    std::string rate;
};

SegmentFacts ProbeSegment(const std::string& path)
{
    SegmentFacts facts;
    std::string packets;
    RunTool("ffprobe -v error -show_entries packet=codec_type,pts_time,flags -of csv=p=0 "
            + ShellQuote(path),
        &packets);
    bool first = true;
    for (const std::string& line : Lines(packets)) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, ',');)
            fields.push_back(field);
        if (fields.size() < 3)
            continue;
        double t = std::atof(fields[1].c_str());
        double& earliest = fields[0] == "video" ? facts.video : facts.audio;
        if (fields[0] == "video" && first) {
            facts.startsWithKey = fields[2].starts_with("K");
            first = false;
        }
        if (fields[0] == "video" || fields[0] == "audio")
            earliest = std::isnan(earliest) ? t : std::min(earliest, t);
    }
    std::string video;
    RunTool("ffprobe -v error -select_streams v:0 -show_entries "
            "stream=codec_name,profile,width,height,r_frame_rate -of default=nw=1 "
            + ShellQuote(path),
        &video);
    for (const std::string& line : Lines(video)) {
        size_t equals = line.find('=');
        std::string key = line.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "codec_name")
            facts.videoCodec = value;
        else if (key == "profile")
            facts.profile = value;
        else if (key == "width")
            facts.width = std::atoi(value.c_str());
        else if (key == "height")
            facts.height = std::atoi(value.c_str());
        else if (key == "r_frame_rate")
            facts.rate = value;
    }
    RunTool("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name "
            "-of default=nw=1:nk=1 "
            + ShellQuote(path),
        &facts.audioCodec);
    // A stream inside a program is listed twice: the first line names it.
    facts.audioCodec = facts.audioCodec.substr(0, facts.audioCodec.find('\n'));
    return facts;
}

class BrowserPlay : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Running());
        id = server.Connect();
        ASSERT_EQ(id.size(), 32u);
        server.Server().Keyframes().SetPassObserver(
            [this](const std::string& path, KeyframeIndexer::State state) {
                passes.Add({ std::filesystem::path(path).filename().string(), state });
            });
    }

    void Put(const std::string& source, const std::string& name)
    {
        std::filesystem::copy_file(source, server.MediaFolder() + "/" + name);
    }

    Master Play(const std::string& name, const std::string& playTime)
    {
        HttpReply reply = server.Get("/play?id=" + id + "&path=" + UrlEncode("/Movies/" + name)
            + "&width=1280&height=720&ostype=web&conntype=WIFI&playtime=" + playTime
            + "&variants=browser");
        EXPECT_EQ(PlistValue(reply.body, "result"), "0") << reply.body;
        std::string url = PlistValue(reply.body, "message").value_or("");
        HttpReply master = server.Get(LoopbackServer::PathOf(url));
        EXPECT_EQ(master.status, 200);
        Master parsed = ParseMaster(master.body);
        parsed.url = url;
        parsed.startVariant = PlistValue(reply.body, "startvariant").value_or("");
        return parsed;
    }

    // The first play of a file starts its index pass; the second finds the index.
    Master PlayIndexed(const std::string& name, const std::string& playTime)
    {
        Play(name, playTime);
        EXPECT_TRUE(passes.WaitForMatch([&](const auto& pass) { return pass.first == name; }));
        return Play(name, playTime);
    }

    Media Fetch(const std::string& uri)
    {
        HttpReply reply = server.Get("/list/" + id + "/" + uri);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.Header("content-type"), "application/vnd.apple.mpegurl");
        return ParseMedia(reply.body);
    }

    // Segment n of the variant playlist at uri, saved; empty when not served.
    std::string Segment(const Media& media, int n, const std::string& name)
    {
        // "../../file/ID/vemba-V-n.ts" against "/list/ID/movieV.m3u8".
        std::string uri = media.uris.at(static_cast<size_t>(n - 1));
        EXPECT_TRUE(uri.starts_with("../../file/" + id + "/")) << uri;
        HttpReply reply = server.Get(uri.substr(5));
        if (reply.status != 200)
            return {};
        std::string path = server.Root() + "/" + name;
        std::ofstream(path, std::ios::binary) << reply.body;
        return path;
    }

    LoopbackServer server;
    std::string id;
    vembatest::StepLog<std::pair<std::string, KeyframeIndexer::State>> passes;
};

const TestMedia& Samples()
{
    return TestMedia::Get();
}

} // namespace

TEST_F(BrowserPlay, AnIndexedFileOffersItsOwnPictureInValidPlaylists)
{
    Put(Samples().IrregularMkv(), "film.mkv");
    Master first = Play("film.mkv", "00:00:40");
    // Not indexed yet: the play goes on at once with what needs no index.
    EXPECT_EQ(first.Named("movie7.m3u8"), nullptr) << first.text;
    EXPECT_EQ(first.startVariant, "movie10.m3u8");
    ASSERT_TRUE(passes.WaitForMatch([](const auto& pass) { return pass.first == "film.mkv"; }));
    EXPECT_EQ(passes.Events().front().second, KeyframeIndexer::State::Ready);

    Master master = Play("film.mkv", "00:00:40");
    EXPECT_EQ(master.startVariant, "movie7.m3u8") << "the source's own picture at home";
    EXPECT_TRUE(master.text.starts_with("#EXTM3U\n#EXT-X-VERSION:3\n")) << master.text;
    ASSERT_EQ(master.variants.size(), 2u) << master.text; // Original and one HD no larger
    for (const Variant& variant : master.variants) {
        SCOPED_TRACE(variant.uri);
        EXPECT_FALSE(variant.uri.starts_with("/") || variant.uri.find(':') != std::string::npos);
        for (const char* name : { "BANDWIDTH", "AVERAGE-BANDWIDTH", "CODECS", "RESOLUTION" })
            EXPECT_TRUE(variant.attributes.count(name)) << name;
        EXPECT_EQ(variant.attributes.at("RESOLUTION"), "320x240");
        Media media = Fetch(variant.uri);
        EXPECT_NE(media.text.find("#EXT-X-PLAYLIST-TYPE:VOD\n"), std::string::npos);
        EXPECT_TRUE(media.text.ends_with("#EXT-X-ENDLIST\n"));
        double total = 0;
        double longest = 0;
        for (double duration : media.durations) {
            total += duration;
            longest = std::max(longest, duration);
            EXPECT_GE(duration, 2.0);
        }
        EXPECT_NEAR(total, 40.0, 0.1);
        EXPECT_EQ(media.targetDuration, static_cast<int>(std::ceil(longest - 1e-6)));
    }
    // The cuts are the file's key frames: the direct stream cannot cut elsewhere.
    Media original = Fetch("movie7.m3u8");
    double start = 0;
    for (size_t i = 0; i + 1 < original.durations.size(); ++i) {
        start += original.durations[i];
        std::vector<double> keys = IrregularKeyTimes();
        bool atKey = std::any_of(
            keys.begin(), keys.end(), [&](double key) { return std::fabs(key - start) < 0.05; });
        EXPECT_TRUE(atKey) << "cut " << start;
    }
}

TEST_F(BrowserPlay, SeeksInAnyOrderStayOnThePlaylistsTimeline)
{
    Put(Samples().IrregularMkv(), "film.mkv");
    Master master = PlayIndexed("film.mkv", "00:00:40");
    const Variant* original = master.Named("movie7.m3u8");
    ASSERT_NE(original, nullptr) << master.text;
    const double bandwidth = std::atof(original->attributes.at("BANDWIDTH").c_str());
    Media media = Fetch("movie7.m3u8");
    const int count = static_cast<int>(media.durations.size());
    ASSERT_GE(count, 5);
    std::vector<double> starts { 0 };
    for (double duration : media.durations)
        starts.push_back(starts.back() + duration);

    // In sequence, then jumps forwards and backwards, the last segment, the first.
    std::vector<int> order { 1, 2, count - 2, 3, count, count - 1, 4, 2, count, 1, 5, 6 };
    for (size_t step = 0; step < order.size(); ++step) {
        int n = order[step];
        SCOPED_TRACE("segment " + std::to_string(n) + " at step " + std::to_string(step));
        std::string path = Segment(media, n, "seg.ts");
        ASSERT_FALSE(path.empty());
        SegmentFacts facts = ProbeSegment(path);
        EXPECT_TRUE(facts.startsWithKey);
        EXPECT_NEAR(facts.video - kOffset, starts[static_cast<size_t>(n - 1)], kFrame);
        EXPECT_NEAR(facts.audio, facts.video, kAacFrame);
        EXPECT_EQ(facts.videoCodec, "h264");
        // BANDWIDTH is at least every segment's bitrate.
        double bits = static_cast<double>(std::filesystem::file_size(path)) * 8;
        EXPECT_LE(bits / media.durations[static_cast<size_t>(n - 1)], bandwidth);
    }
}

TEST_F(BrowserPlay, TheFfmpegToolPlaysTheBrowserMasterWithoutWarnings)
{
    Put(Samples().IrregularMkv(), "film.mkv");
    Master master = PlayIndexed("film.mkv", "00:00:40");
    ASSERT_NE(master.Named("movie7.m3u8"), nullptr);
    std::string output = server.Root() + "/played.ts";
    std::string warnings;
    ASSERT_TRUE(RunTool("ffmpeg -nostdin -y -v warning -i " + ShellQuote(master.url) + " -c copy "
            + ShellQuote(output),
        &warnings));
    EXPECT_EQ(warnings, "");
    MediaFacts facts = ProbeMedia(output);
    EXPECT_NEAR(facts.duration, 40.0, 0.2);
    EXPECT_EQ(facts.videoFrames, 1000);
}

TEST_F(BrowserPlay, VideoThatCannotBeCopiedIsTranscodedAndForeignSoundEncoded)
{
    Put(Samples().Mpeg4(), "part2.mp4");
    Put(Samples().Hevc(), "hevc.mp4");
    Put(Samples().Ac3Sound(), "ac3.mkv");
    for (const char* name : { "part2.mp4", "hevc.mp4" }) {
        SCOPED_TRACE(name);
        Master master = PlayIndexed(name, "00:00:04");
        EXPECT_EQ(master.Named("movie7.m3u8"), nullptr) << master.text;
        ASSERT_FALSE(master.variants.empty());
        Media media = Fetch(master.variants.front().uri);
        std::string path = Segment(media, 1, "transcoded.ts");
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(ProbeSegment(path).videoCodec, "h264");
    }
    Master master = PlayIndexed("ac3.mkv", "00:00:06");
    const Variant* original = master.Named("movie7.m3u8");
    ASSERT_NE(original, nullptr) << master.text;
    EXPECT_NE(original->attributes.at("CODECS").find("mp4a.40.2"), std::string::npos);
    std::string path = Segment(Fetch("movie7.m3u8"), 1, "ac3.ts");
    ASSERT_FALSE(path.empty());
    SegmentFacts facts = ProbeSegment(path);
    EXPECT_EQ(facts.videoCodec, "h264");
    EXPECT_EQ(facts.audioCodec, "aac");
    // Copied, not encoded: the source's own pictures, in the profile the source was
    // made with (the transcodes are High).
    SegmentFacts source = ProbeSegment(server.MediaFolder() + "/ac3.mkv");
    EXPECT_EQ(facts.profile, source.profile);
    EXPECT_NE(facts.profile, "High");
}

TEST_F(BrowserPlay, ATurnedPictureIsOfferedUprightAtItsOwnFrameRate)
{
    Put(Samples().RotatedNtsc(), "phone.mp4");
    Master master = PlayIndexed("phone.mp4", "00:00:06");
    // A copy would play sideways: only transcodes, turned upright.
    EXPECT_EQ(master.Named("movie7.m3u8"), nullptr) << master.text;
    ASSERT_EQ(master.variants.size(), 1u) << master.text;
    EXPECT_EQ(master.variants[0].attributes["RESOLUTION"], "180x320");
    EXPECT_EQ(master.variants[0].attributes["FRAME-RATE"], "29.970");
    std::string path = Segment(Fetch(master.variants[0].uri), 1, "upright.ts");
    ASSERT_FALSE(path.empty());
    SegmentFacts facts = ProbeSegment(path);
    EXPECT_EQ(facts.width, 180);
    EXPECT_EQ(facts.height, 320);
    EXPECT_EQ(facts.rate, "30000/1001");
    // Upright, the white half of the picture is on the right.
    std::vector<unsigned char> grey = GreyFrameAt(path, 0, 2, 1);
    ASSERT_EQ(grey.size(), 2u);
    EXPECT_GT(grey[1], grey[0] + 150);
}
