// A video's tracks for the browser over real HTTP with the real engine: the audio and
// subtitle streams of an MKV made at test time and the subtitle files beside it, both
// kinds of subtitle as WebVTT with Korean lines intact, and "/play" with "audio=N"
// streaming the chosen one of two tones of different pitch, in the phone's stream, the
// browser's transcodes and its direct stream.

#include "live_server_fixture.h"
#include "streaming/streaming_context.h"
#include "support/step_log.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Two lines of Korean in one cue, then an English one with characters WebVTT escapes.
constexpr const char* kSubRip = "1\n00:00:01,000 --> 00:00:02,500\n안녕하세요\n두 번째 줄\n\n"
                                "2\n00:00:03,000 --> 00:00:04,000\nTom & Jerry <3\n";

// 6 s of picture, a 440 Hz tone in Korean, a 1000 Hz tone in English, and the SubRip
// text as a subtitle stream.
bool MakeTwoToneMkv(const std::string& path)
{
    const std::string subtitles = path + ".in.srt";
    std::ofstream(subtitles) << kSubRip;
    return RunTool(
        "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=320x240:rate=24:duration=6"
        " -f lavfi -i sine=frequency=440:duration=6 -f lavfi -i sine=frequency=1000:duration=6 -i "
        + ShellQuote(subtitles)
        + " -map 0 -map 1 -map 2 -map 3 -c:v libx264 -preset ultrafast -g 48 -pix_fmt yuv420p"
          " -c:a aac -b:a 96k -c:s srt -metadata:s:a:0 language=kor -metadata:s:a:1 language=eng"
          " -metadata:s:a:1 title='English tone' -metadata:s:s:0 language=kor "
        + ShellQuote(path));
}

// A PGS (Blu-ray picture subtitle) stream, written as the format lays it out: one
// display set that shows a white rectangle on a 320x240 canvas at startMs, and one that
// clears it at endMs.
class PgsWriter {
public:
    void Show(uint32_t ms, int x, int y, int w, int h)
    {
        std::string pcs = Be16(320) + Be16(240) + "\x10" + Be16(0) + "\x80" + std::string(2, '\0')
            + "\x01" + Be16(0) + std::string(2, '\0') + Be16(x) + Be16(y);
        Segment(ms, 0x16, pcs);
        Segment(ms, 0x17, std::string("\x01\x00", 2) + Be16(x) + Be16(y) + Be16(w) + Be16(h));
        // Palette 0, entry 1: white (Y 235, Cr and Cb 128), opaque.
        Segment(ms, 0x14, std::string("\x00\x00\x01\xEB\x80\x80\xFF", 7));
        std::string rle;
        for (int row = 0; row < h; ++row)
            rle += std::string("\x00", 1) + char(0xC0 | (w >> 8)) + char(w & 0xFF) + "\x01"
                + std::string(2, '\0');
        const size_t length = rle.size() + 4;
        Segment(ms, 0x15,
            Be16(0) + std::string("\x00\xC0", 2) + char(length >> 16) + char((length >> 8) & 0xFF)
                + char(length & 0xFF) + Be16(w) + Be16(h) + rle);
        Segment(ms, 0x80, "");
    }
    void Clear(uint32_t ms)
    {
        Segment(ms, 0x16, Be16(320) + Be16(240) + "\x10" + Be16(1) + std::string(4, '\0'));
        Segment(ms, 0x17, std::string("\x01\x00", 2) + std::string(8, '\0'));
        Segment(ms, 0x80, "");
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    static std::string Be16(int value) { return { char((value >> 8) & 0xFF), char(value & 0xFF) }; }
    void Segment(uint32_t ms, int type, const std::string& data)
    {
        const uint32_t pts = ms * 90;
        m_bytes += "PG";
        for (int shift : { 24, 16, 8, 0 })
            m_bytes += char((pts >> shift) & 0xFF);
        m_bytes += std::string(4, '\0') + char(type) + Be16(int(data.size())) + data;
    }
    std::string m_bytes;
};

// 6 s of flat grey with a picture subtitle: a white bar from 1 s to 3 s.
bool MakeFlatWithPictureSubtitles(const std::string& path)
{
    PgsWriter pgs;
    pgs.Show(1000, 100, 180, 120, 30);
    pgs.Clear(3000);
    const std::string sup = path + ".sup";
    std::ofstream(sup, std::ios::binary) << pgs.Bytes();
    const std::string flat = path + ".flat.mp4";
    return MakeFlatClip(flat, 6, 320, 240)
        && RunTool("ffmpeg -nostdin -y -loglevel error -i " + ShellQuote(flat) + " -i "
            + ShellQuote(sup) + " -map 0 -map 1 -c copy " + ShellQuote(path));
}

// The mean grey of the bar's place (and of a place beside it) in a 80x60 picture.
std::pair<double, double> BarAndBeside(const std::vector<unsigned char>& picture)
{
    double bar = 0, beside = 0;
    int count = 0;
    for (int y = 46; y < 52; ++y) {
        for (int x = 28; x < 52; ++x, ++count) {
            bar += picture[size_t(y * 80 + x)];
            beside += picture[size_t((y - 30) * 80 + x)];
        }
    }
    return { bar / count, beside / count };
}

// The pitch of a sound file's first seconds, from its zero crossings.
double PitchOf(const std::string& media)
{
    const std::string raw = media + ".raw";
    if (!RunTool("ffmpeg -nostdin -y -loglevel error -i " + ShellQuote(media)
            + " -vn -ac 1 -ar 16000 -f s16le " + ShellQuote(raw)))
        return -1;
    std::ifstream in(raw, std::ios::binary);
    std::vector<int16_t> samples;
    int16_t sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
        samples.push_back(sample);
    // Leave the encoder's ramp at the start out.
    const size_t skip = std::min<size_t>(samples.size(), 1600);
    size_t crossings = 0;
    for (size_t i = skip + 1; i < samples.size(); ++i)
        crossings += (samples[i - 1] < 0) != (samples[i] < 0) ? 1 : 0;
    const double seconds = double(samples.size() - skip) / 16000.0;
    return seconds > 0.5 ? crossings / 2.0 / seconds : -1;
}

class ApiTracks : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(EnsureSharedMedia("two-tones.mkv", MakeTwoToneMkv));
        ASSERT_TRUE(EnsureSharedMedia("picture-subtitles.mkv", MakeFlatWithPictureSubtitles));
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_server.Running());
        ASSERT_TRUE(PutMedia(m_server, "two-tones.mkv", "film.mkv"));
        std::ofstream(m_server.MediaFolder() + "/film.ko.srt") << kSubRip;
        std::ofstream(m_server.MediaFolder() + "/film.srt.bak") << kSubRip;
        std::ofstream(m_server.MediaFolder() + "/.film.srt") << kSubRip;
    }

    json GetJson(const std::string& target)
    {
        const HttpReply reply = m_server.Get(target);
        EXPECT_EQ(reply.status, 200) << target << "\n" << reply.body;
        return json::parse(reply.body, nullptr, false);
    }

    // "/play" of film.mkv with extra query values → the plist's result and message.
    std::pair<int, std::string> Play(
        const std::string& id, const std::string& extra, const std::string& file = "film.mkv")
    {
        const HttpReply reply
            = m_server.Get("/play?id=" + id + "&path=" + UrlEncode("/Movies/" + file)
                + "&width=480&height=320&ostype=iOS&conntype=WIFI&playtime=00:00:06" + extra);
        return { std::atoi(PlistValue(reply.body, "result").value_or("1").c_str()),
            PlistValue(reply.body, "message").value_or("") };
    }

    // The first segment of the stream a play answer names, saved to a file.
    std::string FirstSegment(const std::string& id, const std::string& masterUrl)
    {
        const HttpReply master = m_server.Get(LoopbackServer::PathOf(masterUrl));
        const size_t url = master.body.find("http://");
        EXPECT_NE(url, std::string::npos) << master.body;
        const std::string variantPath
            = LoopbackServer::PathOf(master.body.substr(url, master.body.find("\r\n", url) - url));
        EXPECT_EQ(m_server.Get(variantPath).status, 200);
        const size_t digit = variantPath.rfind("movie") + 5;
        const std::string variant = variantPath.substr(digit, variantPath.find('.', digit) - digit);
        const HttpReply segment = m_server.Get("/file/" + id + "/vemba-" + variant + "-1.ts");
        EXPECT_EQ(segment.status, 200);
        const std::string path = m_server.Root() + "/segment-" + id + ".ts";
        std::ofstream(path, std::ios::binary) << segment.body;
        return path;
    }

    // A browser's "/play" → the plist's result and the variant to start with.
    std::pair<int, std::string> BrowserPlay(
        const std::string& id, const std::string& extra, const std::string& file = "film.mkv")
    {
        const HttpReply reply = m_server.Get("/play?id=" + id
            + "&path=" + UrlEncode("/Movies/" + file)
            + "&width=1280&height=720&ostype=web&conntype=WIFI&playtime=00:00:06&variants=browser"
            + extra);
        return { std::atoi(PlistValue(reply.body, "result").value_or("1").c_str()),
            PlistValue(reply.body, "startvariant").value_or("") };
    }

    // The first segment of a browser's variant, saved to a file; empty when not served.
    std::string VariantSegment(const std::string& id, int variant)
    {
        const std::string number = std::to_string(variant);
        if (m_server.Get("/list/" + id + "/movie" + number + ".m3u8").status != 200)
            return {};
        const HttpReply segment = m_server.Get("/file/" + id + "/vemba-" + number + "-1.ts");
        if (segment.status != 200)
            return {};
        const std::string path = m_server.Root() + "/variant-" + number + ".ts";
        std::ofstream(path, std::ios::binary) << segment.body;
        return path;
    }

    LoopbackServer m_server;
};

TEST_F(ApiTracks, TracksNameTheStreamsInsideAndTheFilesBeside)
{
    const json tracks = GetJson("/api/v1/tracks?path=" + UrlEncode("/Movies/film.mkv"));
    EXPECT_EQ(tracks["readable"], true);
    EXPECT_NEAR(tracks["duration"].get<double>(), 6.0, 0.2);
    ASSERT_EQ(tracks["audio"].size(), 2u);
    EXPECT_EQ(tracks["audio"][0]["language"], "kor");
    EXPECT_EQ(tracks["audio"][1]["language"], "eng");
    EXPECT_EQ(tracks["audio"][1]["title"], "English tone");
    EXPECT_EQ(tracks["audio"][1]["codec"], "aac");
    EXPECT_EQ(tracks["audio"][1]["channels"], 1);
    ASSERT_EQ(tracks["subtitles"].size(), 2u);
    EXPECT_EQ(tracks["subtitles"][0]["kind"], "stream");
    EXPECT_EQ(tracks["subtitles"][0]["codec"], "subrip");
    EXPECT_EQ(tracks["subtitles"][0]["text"], true);
    EXPECT_EQ(tracks["subtitles"][0]["language"], "kor");
    // Hidden files and other extensions are not offered.
    EXPECT_EQ(tracks["subtitles"][1]["kind"], "file");
    EXPECT_EQ(tracks["subtitles"][1]["file"], "film.ko.srt");
    EXPECT_EQ(tracks["subtitles"][1]["language"], "ko");
}

TEST_F(ApiTracks, ASubRipFileBesideBecomesWebVttWithItsKoreanLines)
{
    const HttpReply reply = m_server.Get("/api/v1/subtitle?path=" + UrlEncode("/Movies/film.mkv")
        + "&file=" + UrlEncode("film.ko.srt"));
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.Header("content-type"), "text/vtt; charset=utf-8");
    EXPECT_EQ(reply.body,
        "WEBVTT\n\n"
        "00:00:01.000 --> 00:00:02.500\n안녕하세요\n두 번째 줄\n\n"
        "00:00:03.000 --> 00:00:04.000\nTom &amp; Jerry &lt;3\n\n");
}

TEST_F(ApiTracks, ASubRipStreamInsideTheFileBecomesWebVtt)
{
    const HttpReply reply
        = m_server.Get("/api/v1/subtitle?path=" + UrlEncode("/Movies/film.mkv") + "&stream=0");
    ASSERT_EQ(reply.status, 200) << reply.body;
    ASSERT_TRUE(reply.body.starts_with("WEBVTT\n\n")) << reply.body;
    // Media time starts at the container's start, which the encoder's priming may
    // move a few tens of milliseconds.
    const size_t first = reply.body.find(" --> ");
    ASSERT_NE(first, std::string::npos);
    const double start = std::stod(reply.body.substr(first - 6, 6));
    EXPECT_NEAR(start, 1.0, 0.1);
    EXPECT_NE(reply.body.find("\n안녕하세요\n두 번째 줄\n\n"), std::string::npos) << reply.body;
    EXPECT_NE(reply.body.find("\nTom &amp; Jerry &lt;3\n"), std::string::npos) << reply.body;

    // Taken out once: the second answer is the same, from the kept file.
    const HttpReply again
        = m_server.Get("/api/v1/subtitle?path=" + UrlEncode("/Movies/film.mkv") + "&stream=0",
            "If-None-Match: " + reply.Header("etag") + "\r\n");
    EXPECT_EQ(again.status, 304);
    EXPECT_EQ(
        m_server.Get("/api/v1/subtitle?path=" + UrlEncode("/Movies/film.mkv") + "&stream=1").status,
        404);
}

TEST_F(ApiTracks, PlayWithAudioStreamsTheChosenTone)
{
    const std::string id = m_server.Connect();
    ASSERT_FALSE(id.empty());
    auto [result, master] = Play(id, "&audio=1");
    ASSERT_EQ(result, 0) << master;
    EXPECT_NEAR(PitchOf(FirstSegment(id, master)), 1000, 60);

    // Without the value the first stream plays, as the phone always had it.
    std::tie(result, master) = Play(id, "");
    ASSERT_EQ(result, 0) << master;
    EXPECT_NEAR(PitchOf(FirstSegment(id, master)), 440, 40);

    for (const char* bad : { "&audio=2", "&audio=x", "&audio=", "&audio=-1", "&sub=5" })
        EXPECT_EQ(Play(id, bad).first, -11) << bad;
}

TEST_F(ApiTracks, TheBrowsersTranscodeAndDirectStreamCarryTheChosenTone)
{
    vembatest::StepLog<std::string> passes;
    m_server.Server().Keyframes().SetPassObserver(
        [&passes](const std::string& path, KeyframeIndexer::State) {
            passes.Add(fs::path(path).filename().string());
        });
    const std::string id = m_server.Connect();
    // The first play starts the file's key frame pass; once it is done the next play
    // offers the direct stream, which a browser at home starts with.
    ASSERT_EQ(BrowserPlay(id, "&audio=1").first, 0);
    ASSERT_TRUE(passes.WaitFor("film.mkv"));
    auto [result, start] = BrowserPlay(id, "&audio=1");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(start, "movie7.m3u8");
    EXPECT_NEAR(PitchOf(VariantSegment(id, 7)), 1000, 60) << "the direct stream";
    EXPECT_NEAR(PitchOf(VariantSegment(id, 10)), 1000, 60) << "a transcode";

    std::tie(result, start) = BrowserPlay(id, "");
    ASSERT_EQ(result, 0);
    EXPECT_NEAR(PitchOf(VariantSegment(id, 7)), 440, 40) << "no choice: the first";
    EXPECT_EQ(BrowserPlay(id, "&audio=2").first, -11);
    m_server.Server().Keyframes().SetPassObserver({});
}

} // namespace

TEST_F(ApiTracks, APictureSubtitleStreamIsBurntInWhenChosen)
{
    ASSERT_TRUE(PutMedia(m_server, "picture-subtitles.mkv", "bluray.mkv"));
    const json tracks = GetJson("/api/v1/tracks?path=" + UrlEncode("/Movies/bluray.mkv"));
    ASSERT_EQ(tracks["subtitles"].size(), 1u);
    EXPECT_EQ(tracks["subtitles"][0]["codec"], "hdmv_pgs_subtitle");
    EXPECT_EQ(tracks["subtitles"][0]["text"], false);
    EXPECT_EQ(m_server.Get("/api/v1/subtitle?path=" + UrlEncode("/Movies/bluray.mkv") + "&stream=0")
                  .status,
        422);

    const std::string id = m_server.Connect();
    auto [result, master] = Play(id, "&sub=0", "bluray.mkv");
    ASSERT_EQ(result, 0) << master;
    const std::string burnt = FirstSegment(id, master);
    const auto [during, besideDuring] = BarAndBeside(GreyFrameAt(burnt, 2.0, 80, 60));
    const auto [after, besideAfter] = BarAndBeside(GreyFrameAt(burnt, 4.0, 80, 60));
    EXPECT_GT(during, besideDuring + 100) << "the bar shows from 1 s to 3 s";
    EXPECT_NEAR(after, besideAfter, 10) << "and is gone after 3 s";

    // The phone's stream, and a text stream chosen for burning in, leave the picture alone.
    std::tie(result, master) = Play(id, "", "bluray.mkv");
    ASSERT_EQ(result, 0) << master;
    const auto [plain, besidePlain]
        = BarAndBeside(GreyFrameAt(FirstSegment(id, master), 2.0, 80, 60));
    EXPECT_NEAR(plain, besidePlain, 10);
    EXPECT_EQ(Play(id, "&sub=0").first, -11);

    // A browser gets it in its transcodes, and no direct stream, which cannot show it.
    std::string start;
    std::tie(result, start) = BrowserPlay(id, "&sub=0", "bluray.mkv");
    ASSERT_EQ(result, 0);
    ASSERT_TRUE(start.starts_with("movie") && start != "movie7.m3u8") << start;
    const std::vector<unsigned char> picture
        = GreyFrameAt(VariantSegment(id, std::stoi(start.substr(5))), 2.0, 80, 60, true);
    ASSERT_EQ(picture.size(), 80u * 60u);
    const auto [browserBar, browserBeside] = BarAndBeside(picture);
    EXPECT_GT(browserBar, browserBeside + 100);
}
