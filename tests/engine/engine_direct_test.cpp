// The engine's half of the direct stream and the key frame aligned segments: the
// key frame index against what ffprobe sees, copy runs started at cuts in any
// order landing on one timeline, playlists the ffmpeg tool plays without a
// warning, the fallbacks for what cannot be copied, and the audio track choice.

#include "engine/engine_harness.h"
#include "engine/test_media.h"
#include "enginectl/engine_pipe.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;
using vembatest::ShellQuote;

// Media time + 10 s on every run.
constexpr double kOffset = 10.0;
constexpr double kFrame = 1.0 / 25; // the sources' frame
constexpr double kAacFrame = 1024.0 / 44100;

struct IndexRun {
    int status = -1;
    std::string errors; // what the engine wrote on stderr
    std::map<std::string, std::vector<std::string>> fields; // keyword: values (last line)
    std::vector<std::string> audio; // the "audio" lines' values, in order
    std::vector<double> keyframes;
};

std::vector<std::string> SplitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

// `vembacast-engine -keyframes PATH -o OUT` as the server runs it: a plain child.
IndexRun RunIndex(const std::string& input, const std::string& output, const std::string& errors)
{
    IndexRun run;
    int status = system((ShellQuote(EnginePath()) + " -keyframes " + ShellQuote(input) + " -o "
        + ShellQuote(output) + " 2>" + ShellQuote(errors))
                            .c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream errorFile(errors);
    run.errors.assign(std::istreambuf_iterator<char>(errorFile), std::istreambuf_iterator<char>());
    std::ifstream file(output);
    std::string line;
    size_t count = 0;
    while (std::getline(file, line)) {
        std::vector<std::string> words = SplitWords(line);
        if (words.empty())
            continue;
        if (run.fields.count("keyframes") && run.keyframes.size() < count) {
            run.keyframes.push_back(atof(words[0].c_str()));
            continue;
        }
        std::vector<std::string> values(words.begin() + 1, words.end());
        if (words[0] == "audio")
            run.audio.push_back(line.substr(6));
        run.fields[words[0]] = values;
        if (words[0] == "keyframes" && !values.empty())
            count = static_cast<size_t>(atol(values[0].c_str()));
    }
    return run;
}

// Key frames as ffprobe sees them, in media time (from the container's start).
std::vector<double> ProbeKeyframes(const std::string& path)
{
    double start = atof(CaptureShell(
        "ffprobe -v error -show_entries format=start_time -of csv=p=0 " + ShellQuote(path))
                            .c_str());
    std::string text = CaptureShell("ffprobe -v error -select_streams v:0 -show_entries "
                                    "packet=pts_time,flags -of csv=p=0 "
        + ShellQuote(path));
    std::vector<double> keys;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t comma = line.find(',');
        if (comma != std::string::npos && line[comma + 1] == 'K')
            keys.push_back(atof(line.c_str()) - start);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

struct SegmentStart {
    double video = NAN; // the earliest video timestamp
    bool videoKey = false; // the first video packet is a key picture
    double audio = NAN; // the earliest audio timestamp
    std::string videoCodec;
    std::string audioCodec;
};

// One ffprobe: the packets (type, time, flags), then the streams (codec, type).
SegmentStart ProbeSegment(const std::string& path)
{
    SegmentStart start;
    std::string text = CaptureShell("ffprobe -v error -show_entries "
                                    "packet=codec_type,pts_time,flags:stream=codec_name,codec_type "
                                    "-of csv=p=0 "
        + ShellQuote(path));
    std::istringstream lines(text);
    std::string line;
    bool firstVideo = true;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string first, second, third;
        std::getline(fields, first, ',');
        std::getline(fields, second, ',');
        std::getline(fields, third, ',');
        if (second == "video" || second == "audio") { // a stream: codec, type
            (second == "video" ? start.videoCodec : start.audioCodec) = first;
            continue;
        }
        double t = atof(second.c_str());
        if (first == "video") {
            if (firstVideo)
                start.videoKey = !third.empty() && third[0] == 'K';
            firstVideo = false;
            start.video = std::isnan(start.video) ? t : std::min(start.video, t);
        } else if (first == "audio") {
            start.audio = std::isnan(start.audio) ? t : std::min(start.audio, t);
        }
    }
    return start;
}

// Cuts as the server plans them from an index: the key frames, the first made 0.
std::vector<double> CutsFromKeyframes(std::vector<double> keys)
{
    if (!keys.empty())
        keys[0] = 0;
    return keys;
}

std::string WriteCuts(const std::string& path, const std::vector<double>& cuts)
{
    std::ofstream file(path);
    char line[64];
    for (double cut : cuts) {
        snprintf(line, sizeof line, "%.6f\n", cut);
        file << line;
    }
    return path;
}

// An HLS playlist of segments first..last of one run, timed by the cuts.
std::string WritePlaylist(const std::string& folder, int variant, const std::vector<double>& cuts,
    double duration, size_t first)
{
    std::string path = folder + "/list.m3u8";
    std::ofstream file(path);
    file << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:11\n#EXT-X-MEDIA-SEQUENCE:" << first
         << "\n";
    for (size_t n = first; n <= cuts.size(); ++n) {
        double end = n < cuts.size() ? cuts[n] : duration;
        file << "#EXTINF:" << end - cuts[n - 1] << ",\nvemba-" << variant << "-" << n << ".ts\n";
    }
    file << "#EXT-X-ENDLIST\n";
    return path;
}

// What the ffmpeg tool says, at warning level, while it reads a playlist through.
std::string PlayWarnings(const std::string& playlist)
{
    return CaptureShell(
        "ffmpeg -nostdin -v warning -i " + ShellQuote(playlist) + " -f null - 2>&1 >/dev/null");
}

// The tone's pitch: crossings of the decoded first audio stream through a band
// around zero (a tenth of the peak), so the faint noise of a quiet edge is not
// counted.
double ToneFrequency(const std::string& path)
{
    std::string samples = CaptureShell("ffmpeg -nostdin -v error -i " + ShellQuote(path)
        + " -map 0:a:0 -ac 1 -ar 44100 -f s16le -");
    size_t count = samples.size() / 2;
    if (count < 4410)
        return 0;
    const int16_t* pcm = reinterpret_cast<const int16_t*>(samples.data());
    int peak = 0;
    for (size_t i = 0; i < count; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
    int band = peak / 10;
    int side = 0;
    int crossings = 0;
    for (size_t i = 0; i < count; ++i) {
        int now = pcm[i] > band ? 1 : pcm[i] < -band ? -1 : 0;
        if (now != 0 && side != 0 && now != side)
            ++crossings;
        if (now != 0)
            side = now;
    }
    return crossings / 2.0 / (count / 44100.0);
}

class EngineDirect : public ::testing::Test {
protected:
    void SetUp() override { m_out = MakeTempFolder("vemba-direct"); }
    void TearDown() override { RemoveTree(m_out); }

    IndexRun Index(const std::string& input, const std::string& output)
    {
        return RunIndex(input, output, m_out + "/stderr.txt");
    }

    // Runs the line (without -pipename) to its end as the server would.
    // Returns 0 on completion, else the code of message 16.
    uint32_t Run(Words line)
    {
        EngineHarness engine;
        line.push_back("-pipename=" + std::to_string(engine.Pipe()));
        EXPECT_TRUE(engine.Launch(line));
        EXPECT_TRUE(engine.SendStart());
        uint32_t code = 99;
        for (auto deadline = std::chrono::steady_clock::now() + 60s;
             std::chrono::steady_clock::now() < deadline;) {
            if (engine.WaitFor(EngineMessage::Complete, 50ms)) {
                code = 0;
                break;
            }
            if (auto error = engine.WaitFor(EngineMessage::Error, 0ms)) {
                code = error->Word(0);
                break;
            }
        }
        EXPECT_TRUE(engine.WaitExit(3s));
        return code;
    }

    std::string Folder(const std::string& name) const
    {
        std::string folder = m_out + "/" + name;
        std::filesystem::create_directories(folder);
        return folder;
    }

    std::string m_out;
};

// A direct stream's arguments as the server would give them (-ss and -kf at a cut);
// the x264 options are what a fallback encodes with.
Words CopyLine(const std::string& input, const std::string& cuts, const std::string& folder,
    int variant, double start, const Words& extra = {})
{
    Words line;
    if (start > 0) {
        char text[32];
        snprintf(text, sizeof text, "%.6f", start);
        line = { "-ss", text, "-kf", text };
    }
    line.insert(line.end(),
        { input, "-ovc", "copy", "-oac", "copy", "-x264encopts", "bitrate=300:threads=1",
            "-faacopts", "br=128", "-of", "lavf", "-lavfopts", "format=mpegts", "-vembacast", "5",
            "-cuts", cuts, "-o", folder + "/vemba-" + std::to_string(variant) + "-1.ts" });
    line.insert(line.end(), extra.begin(), extra.end());
    return line;
}

} // namespace

TEST_F(EngineDirect, KeyframeIndexListsWhatFfprobeSeesInEachContainer)
{
    const TestMedia& media = TestMedia::Get();
    struct Case {
        std::string path;
        const char* index;
    } cases[] = {
        { media.Irregular(), "container" },
        { media.IrregularMkv(), "container" },
        { media.IrregularTs(), "scan" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        IndexRun run = Index(c.path, m_out + "/index.txt");
        ASSERT_EQ(run.status, 0) << run.errors;
        std::vector<double> expected = ProbeKeyframes(c.path);
        ASSERT_EQ(expected.size(), IrregularKeyTimes().size());
        ASSERT_EQ(run.keyframes.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(run.keyframes[i], expected[i], 1e-6) << "key frame " << i;
        EXPECT_EQ(run.fields["index"], (std::vector<std::string> { c.index }));
        EXPECT_EQ(
            run.fields["video"], (std::vector<std::string> { "h264", "320", "240", "yuv420p" }));
        EXPECT_EQ(run.fields["copyable"], (std::vector<std::string> { "1" }));
        EXPECT_EQ(run.fields["rotation"], (std::vector<std::string> { "0" }));
        EXPECT_EQ(run.fields["fps"], (std::vector<std::string> { "25/1" }));
        EXPECT_EQ(run.audio, (std::vector<std::string> { "aac 1 44100 copy" }));
        EXPECT_NEAR(atof(run.fields["duration"].at(0).c_str()), 40, 0.1);
    }
    std::ifstream first(m_out + "/index.txt");
    std::string line;
    std::getline(first, line);
    EXPECT_EQ(line, "vembacast-keyframes 1");

    IndexRun other = Index(media.TwoTones(), m_out + "/tones.txt");
    ASSERT_EQ(other.status, 0);
    EXPECT_EQ(other.audio, (std::vector<std::string> { "aac 1 44100 copy", "aac 1 44100 copy" }));
    other = Index(media.Ac3Sound(), m_out + "/ac3.txt");
    EXPECT_EQ(other.audio, (std::vector<std::string> { "ac3 1 44100 encode" }));
    other = Index(media.Hevc(), m_out + "/hevc.txt");
    EXPECT_EQ(other.fields["copyable"], (std::vector<std::string> { "0" }));
    other = Index(media.RotatedNtsc(), m_out + "/turned.txt");
    EXPECT_EQ(other.fields["rotation"], (std::vector<std::string> { "90" }));
    EXPECT_EQ(other.fields["fps"], (std::vector<std::string> { "30000/1001" }));
}

TEST_F(EngineDirect, KeyframeIndexFailuresExitNonZeroWithAMessage)
{
    IndexRun missing = Index(m_out + "/no such file.mp4", m_out + "/a.txt");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.errors.find("no such file.mp4"), std::string::npos) << missing.errors;
    EXPECT_FALSE(std::filesystem::exists(m_out + "/a.txt"));

    IndexRun notMedia = Index(TestMedia::Get().NotMedia(), m_out + "/b.txt");
    EXPECT_EQ(notMedia.status, 2);
    IndexRun noVideo = Index(TestMedia::Get().AudioOnly(), m_out + "/c.txt");
    EXPECT_EQ(noVideo.status, 3);
    IndexRun unwritable = Index(TestMedia::Get().Main(), m_out + "/gone/d.txt");
    EXPECT_EQ(unwritable.status, 6);
    EXPECT_FALSE(unwritable.errors.empty());
    int status = system((ShellQuote(EnginePath()) + " -keyframes "
        + ShellQuote(TestMedia::Get().Main()) + " 2>/dev/null")
                            .c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1) << "no -o";
}

TEST_F(EngineDirect, CopyRunsStartedAtCutsInAnyOrderShareOneTimeline)
{
    const TestMedia& media = TestMedia::Get();
    // MP4 seeks by its index, Matroska by its cues (and starts 23 ms late), MPEG-TS
    // by time and backing off.
    struct Case {
        std::string input;
        std::vector<size_t> starts; // indexes of the cuts the runs start at, in run order
    } cases[] = {
        { media.Irregular(), { 5, 0, 8, 2 } },
        { media.IrregularMkv(), { 8, 3 } },
        { media.IrregularTs(), { 6, 1 } },
    };
    for (const Case& c : cases) {
        const std::string& input = c.input;
        SCOPED_TRACE(input);
        IndexRun index = Index(input, m_out + "/index.txt");
        ASSERT_EQ(index.status, 0);
        std::vector<double> cuts = CutsFromKeyframes(index.keyframes);
        std::string cutFile = WriteCuts(m_out + "/cuts.txt", cuts);
        for (size_t startAt : c.starts) {
            SCOPED_TRACE("start at cut " + std::to_string(startAt));
            std::string folder = Folder("run" + std::to_string(startAt));
            ASSERT_EQ(Run(CopyLine(input, cutFile, folder, 5, cuts[startAt])), 0u);
            size_t written = 0;
            for (size_t n = 1; n <= cuts.size(); ++n) {
                std::string segment = folder + "/vemba-5-" + std::to_string(n) + ".ts";
                ASSERT_EQ(std::filesystem::exists(segment), n > startAt) << "segment " << n;
                if (n <= startAt)
                    continue;
                ++written;
                SegmentStart start = ProbeSegment(segment);
                EXPECT_EQ(start.videoCodec, "h264");
                EXPECT_EQ(start.audioCodec, "aac");
                EXPECT_TRUE(start.videoKey) << "segment " << n;
                EXPECT_NEAR(start.video - kOffset, cuts[n - 1], kFrame + 1e-6) << "segment " << n;
                EXPECT_NEAR(start.audio, start.video, kAacFrame + 1e-6) << "segment " << n;
            }
            EXPECT_EQ(written, cuts.size() - startAt);
            RemoveTree(folder);
        }
    }
}

TEST_F(EngineDirect, PlaylistsOfOneRunPlayWithoutWarnings)
{
    const TestMedia& media = TestMedia::Get();
    IndexRun index = Index(media.IrregularMkv(), m_out + "/index.txt");
    ASSERT_EQ(index.status, 0);
    std::vector<double> cuts = CutsFromKeyframes(index.keyframes);
    std::string cutFile = WriteCuts(m_out + "/cuts.txt", cuts);
    double duration = atof(index.fields["duration"].at(0).c_str());

    // A direct stream from the start and one from a seek.
    for (size_t startAt : { 0u, 6u }) {
        std::string folder = Folder("copy" + std::to_string(startAt));
        ASSERT_EQ(Run(CopyLine(media.IrregularMkv(), cutFile, folder, 5, cuts[startAt])), 0u);
        EXPECT_EQ(PlayWarnings(WritePlaylist(folder, 5, cuts, duration, startAt + 1)), "");
    }
    // An HD transcode to the same cuts.
    std::string folder = Folder("hd");
    ASSERT_EQ(
        Run({ media.IrregularMkv(), "-vf", "scale=240:180", "-ovc", "x264", "-x264encopts",
            "profile=high:preset=veryfast:bitrate=600:vbv_maxrate=900:vbv_bufsize=1200:"
            "threads=1",
            "-oac", "faac", "-faacopts", "br=128", "-of", "lavf", "-lavfopts", "format=mpegts",
            "-vembacast", "5", "-cuts", cutFile, "-o", folder + "/vemba-6-1.ts" }),
        0u);
    EXPECT_EQ(PlayWarnings(WritePlaylist(folder, 6, cuts, duration, 1)), "");
    // The phone's own segments on the 5 s grid.
    folder = Folder("phone");
    EngineHarness phone;
    ASSERT_TRUE(phone.Launch(
        LiveCommandLine(media.Main(), { "-vf", "scale=240:180" }, folder, 1, -1, phone.Pipe())));
    ASSERT_TRUE(phone.SendStart());
    ASSERT_TRUE(phone.WaitFor(EngineMessage::Complete, 60s));
    ASSERT_TRUE(phone.WaitExit(3s));
    EXPECT_EQ(PlayWarnings(WritePlaylist(folder, 1, { 0, 5, 10 }, 12, 1)), "");
}

TEST_F(EngineDirect, WhatCannotBeCopiedIsEncoded)
{
    const TestMedia& media = TestMedia::Get();
    std::string cuts = WriteCuts(m_out + "/cuts.txt", { 0, 2 });
    for (const std::string& input : { media.Mpeg4(), media.Hevc() }) {
        SCOPED_TRACE(input);
        std::string folder = Folder("fallback");
        ASSERT_EQ(Run(CopyLine(input, cuts, folder, 5, 0)), 0u);
        for (int n = 1; n <= 2; ++n) {
            SegmentStart start = ProbeSegment(folder + "/vemba-5-" + std::to_string(n) + ".ts");
            EXPECT_EQ(start.videoCodec, "h264") << "encoded with the x264 options given";
            EXPECT_EQ(start.audioCodec, "aac");
            EXPECT_TRUE(start.videoKey);
            EXPECT_NEAR(start.video - kOffset, n == 1 ? 0 : 2, kFrame + 1e-6);
        }
        RemoveTree(folder);
    }

    // AC-3 sound: the picture is copied as it is, the sound becomes AAC.
    std::string folder = Folder("ac3");
    ASSERT_EQ(Run(CopyLine(media.Ac3Sound(), cuts, folder, 5, 0)), 0u);
    std::string segment = folder + "/vemba-5-1.ts";
    SegmentStart start = ProbeSegment(segment);
    EXPECT_EQ(start.videoCodec, "h264");
    EXPECT_EQ(start.audioCodec, "aac");
    EXPECT_NEAR(ToneFrequency(segment), 440, 15);
    // Copied pictures decode to exactly the source's pictures.
    auto pictureHashes = [](const std::string& path) {
        std::string text = CaptureShell("ffmpeg -nostdin -v error -i " + ShellQuote(path)
            + " -map 0:v:0 -frames:v 20 -f framemd5 -");
        std::vector<std::string> hashes;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line[0] != '#')
                hashes.push_back(line.substr(line.rfind(',') + 1));
        }
        return hashes;
    };
    std::vector<std::string> copied = pictureHashes(segment);
    EXPECT_EQ(copied.size(), 20u);
    EXPECT_EQ(copied, pictureHashes(media.Ac3Sound()));
}

TEST_F(EngineDirect, AudioTrackPicksTheNthAudioStream)
{
    const TestMedia& media = TestMedia::Get();
    std::string cuts = WriteCuts(m_out + "/cuts.txt", { 0 });
    struct Case {
        Words options;
        double frequency;
    } cases[] = {
        { {}, 440 }, // the usual choice: the first
        { { "-aid", "0" }, 440 }, { { "-aid", "1" }, 1000 },
        { { "-aid", "1", "-oac", "faac" }, 1000 }, // encoded instead of copied
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.empty() ? "" : c.options.back());
        std::string folder = Folder("tones");
        ASSERT_EQ(Run(CopyLine(media.TwoTones(), cuts, folder, 5, 0, c.options)), 0u);
        std::string segment = folder + "/vemba-5-1.ts";
        EXPECT_NEAR(ToneFrequency(segment), c.frequency, 15);
        EXPECT_EQ(ProbeStreamTypes(segment), (std::vector<std::string> { "video", "audio" }));
        RemoveTree(folder);
    }
    // A stream the file does not have: message 16 as for an unreadable input.
    std::string folder = Folder("none");
    EXPECT_EQ(Run(CopyLine(media.TwoTones(), cuts, folder, 5, 0, { "-aid", "2" })), 2u);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(EngineDirect, UnusableCutFilesAreABadCommandLine)
{
    const TestMedia& media = TestMedia::Get();
    std::string backwards = m_out + "/backwards.txt";
    std::ofstream(backwards) << "0\n4\n2\n";
    std::string junk = m_out + "/junk.txt";
    std::ofstream(junk) << "0\n2; rm -rf /\n";
    for (const std::string& cuts : { backwards, junk, m_out + "/missing.txt" }) {
        SCOPED_TRACE(cuts);
        std::string folder = Folder("bad");
        EXPECT_EQ(Run(CopyLine(media.Irregular(), cuts, folder, 5, 0)), 1u);
        EXPECT_TRUE(std::filesystem::is_empty(folder));
        RemoveTree(folder);
    }
}

TEST_F(EngineDirect, ACutWithoutAKeyPictureMovesToTheNextOne)
{
    // Irregular() has key pictures at 0.48, 2 and 12 s, none at 1 s.
    std::string cuts = WriteCuts(m_out + "/cuts.txt", { 0, 1, 12 });
    std::string folder = Folder("late");
    ASSERT_EQ(Run(CopyLine(TestMedia::Get().Irregular(), cuts, folder, 5, 0)), 0u);
    SegmentStart second = ProbeSegment(folder + "/vemba-5-2.ts");
    EXPECT_TRUE(second.videoKey);
    EXPECT_NEAR(second.video - kOffset, 2, 1e-6) << "segment 2 begins at the next key picture";
    SegmentStart third = ProbeSegment(folder + "/vemba-5-3.ts");
    EXPECT_NEAR(third.video - kOffset, 12, 1e-6);
    EXPECT_FALSE(std::filesystem::exists(folder + "/vemba-5-4.ts"));
}
