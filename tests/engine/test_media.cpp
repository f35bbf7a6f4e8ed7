#include "engine/test_media.h"

#include "support/test_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

using vembatest::ShellQuote;

std::string Make(const std::string& path, const std::string& ffmpegArgs)
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    if (!std::filesystem::exists(path))
        RunShell("ffmpeg -v error -y " + ffmpegArgs + " " + ShellQuote(path));
    return path;
}

} // namespace

std::string MakeTempFolder(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

void RemoveTree(const std::string& path)
{
    std::error_code error;
    if (!path.empty())
        std::filesystem::remove_all(path, error);
}

int RunShell(const std::string& command)
{
    return system((command + " >/dev/null 2>&1").c_str());
}

std::string CaptureShell(const std::string& command)
{
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return output;
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), got);
    pclose(pipe);
    return output;
}

const TestMedia& TestMedia::Get()
{
    static TestMedia media = [] {
        TestMedia made;
        made.folder = MakeTempFolder("vemba-engine-media");
        return made;
    }();
    static struct Cleanup {
        ~Cleanup() { RemoveTree(TestMedia::Get().folder); }
    } cleanup;
    return media;
}

std::string TestMedia::Main() const
{
    return Make(folder + "/main video.mp4",
        "-f lavfi -i testsrc=duration=12:size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440:duration=12 "
        "-c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest");
}

std::string TestMedia::Silent() const
{
    return Make(folder + "/silent.mp4",
        "-f lavfi -i testsrc=duration=6:size=320x240:rate=25 -c:v libx264 -preset ultrafast -g 50 "
        "-pix_fmt yuv420p");
}

std::string TestMedia::AudioOnly() const
{
    return Make(folder + "/audio.m4a", "-f lavfi -i sine=frequency=440:duration=3 -c:a aac");
}

std::string TestMedia::Long() const
{
    return Make(folder + "/long.mp4",
        "-f lavfi -i testsrc2=duration=20:size=640x360:rate=30 -f lavfi -i "
        "sine=frequency=300:duration=20 "
        "-c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p -c:a aac -shortest");
}

std::string TestMedia::Black() const
{
    return Make(folder + "/black.mp4",
        "-f lavfi -i color=black:duration=10:size=320x240:rate=24 -c:v libx264 -preset ultrafast "
        "-g 24 -pix_fmt "
        "yuv420p");
}

std::string TestMedia::OddSize() const
{
    return Make(folder + "/odd.mkv",
        "-f lavfi -i testsrc=duration=2:size=321x241:rate=25 -c:v libx264 -preset ultrafast "
        "-pix_fmt yuv444p");
}

std::string TestMedia::Truncated() const
{
    std::string path = folder + "/cut.ts";
    static std::once_flag once;
    std::call_once(once, [&] {
        std::string whole = folder + "/whole.ts";
        RunShell("ffmpeg -v error -y -i " + ShellQuote(Main()) + " -c copy " + ShellQuote(whole));
        std::error_code error;
        auto size = std::filesystem::file_size(whole, error);
        std::filesystem::copy_file(whole, path, error);
        std::filesystem::resize_file(path, size / 2, error);
    });
    return path;
}

std::string TestMedia::NotMedia() const
{
    std::string path = folder + "/not media.mp4";
    static std::once_flag once;
    std::call_once(once, [&] {
        FILE* file = fopen(path.c_str(), "w");
        if (file) {
            fputs("this is a shopping list, not a video\n", file);
            fclose(file);
        }
    });
    return path;
}

std::vector<double> IrregularKeyTimes()
{
    return { 0, 0.48, 2, 12, 13.2, 17.24, 19, 24.6, 27, 29.4, 34.96 };
}

std::string TestMedia::Irregular() const
{
    std::string times;
    for (double t : IrregularKeyTimes())
        times += (times.empty() ? "" : ",") + std::to_string(t);
    return Make(folder + "/irregular.mp4",
        "-f lavfi -i testsrc2=duration=40:size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440:duration=40 -c:v libx264 -preset ultrafast -bf 2 -x264-params "
        "keyint=250:min-keyint=12:scenecut=0 -force_key_frames "
            + times + " -pix_fmt yuv420p -c:a aac -b:a 64k");
}

std::string TestMedia::IrregularMkv() const
{
    return Make(folder + "/irregular.mkv", "-i " + ShellQuote(Irregular()) + " -c copy");
}

std::string TestMedia::IrregularTs() const
{
    return Make(folder + "/irregular.ts", "-i " + ShellQuote(Irregular()) + " -c copy");
}

std::string TestMedia::Mpeg4() const
{
    return Make(folder + "/part2.mp4",
        "-f lavfi -i testsrc=duration=4:size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440:duration=4 -c:v mpeg4 -g 25 -c:a aac -shortest");
}

std::string TestMedia::Hevc() const
{
    return Make(folder + "/hevc.mp4",
        "-f lavfi -i testsrc=duration=4:size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440:duration=4 -c:v libx265 -preset ultrafast -x265-params "
        "log-level=none:keyint=25 -c:a aac -shortest");
}

std::string TestMedia::Ac3Sound() const
{
    return Make(folder + "/ac3.mkv",
        "-f lavfi -i testsrc=duration=6:size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440:duration=6 -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p "
        "-c:a ac3 -shortest");
}

std::string TestMedia::TwoTones() const
{
    return Make(folder + "/two tones.mp4",
        "-f lavfi -i testsrc=duration=6:size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=440:duration=6 -f lavfi -i sine=frequency=1000:duration=6 -map 0 -map 1 "
        "-map 2 -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -shortest");
}

std::string TestMedia::RotatedNtsc() const
{
    std::string path = folder + "/upright phone.mp4";
    static std::once_flag once;
    std::call_once(once, [&] {
        std::string plain = Make(folder + "/sideways.mp4",
            "-f lavfi -i color=white:size=320x180:rate=30000/1001:duration=6,drawbox=x=0:y=90:"
            "w=320:h=90:color=black:t=fill -c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p");
        // The tool of this FFmpeg writes no display matrix of its own: the track
        // header's matrix is set by hand to a quarter turn clockwise.
        std::ifstream in(plain, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t box = bytes.find("tkhd");
        if (box == std::string::npos || box < 4)
            return;
        const unsigned char matrix[36] = { 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0,
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0 };
        bytes.replace(
            box - 4 + 48, sizeof matrix, reinterpret_cast<const char*>(matrix), sizeof matrix);
        std::ofstream(path, std::ios::binary) << bytes;
    });
    return path;
}

std::vector<ProbedFrame> ProbeVideoFrames(const std::string& path)
{
    std::string text = CaptureShell(
        "ffprobe -v error -select_streams v:0 -show_entries frame=pts_time,key_frame,pict_type "
        "-of csv=p=0 "
        + ShellQuote(path));
    std::vector<ProbedFrame> frames;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // key_frame,pts_time,pict_type (ffprobe prints them in its own order)
        std::istringstream fields(line);
        std::string key, pts, type;
        if (!std::getline(fields, key, ',') || !std::getline(fields, pts, ',')
            || !std::getline(fields, type, ','))
            continue;
        ProbedFrame frame;
        frame.key = key == "1";
        frame.pts = atof(pts.c_str());
        frame.type = type.empty() ? '?' : type[0];
        frames.push_back(frame);
    }
    return frames;
}

std::vector<std::string> ProbeStreamTypes(const std::string& path)
{
    // MPEG-TS lists its streams twice (under the program too): keep each index once.
    std::string text = CaptureShell(
        "ffprobe -v error -show_entries stream=index,codec_type -of csv=p=0 " + ShellQuote(path));
    std::vector<std::string> types;
    std::set<std::string> seen;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t comma = line.find(',');
        if (comma != std::string::npos && seen.insert(line.substr(0, comma)).second)
            types.push_back(line.substr(comma + 1));
    }
    return types;
}

double MeanLumaAt(const std::string& path, double seconds)
{
    std::string text = CaptureShell("ffprobe -v error -f lavfi -i "
        + ShellQuote("movie=" + path + ",signalstats")
        + " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0");
    std::istringstream lines(text);
    std::string line;
    double best = -1;
    double bestDistance = 1e9;
    while (std::getline(lines, line)) {
        size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        double pts = atof(line.substr(0, comma).c_str());
        double distance = std::abs(pts - seconds);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = atof(line.substr(comma + 1).c_str());
        }
    }
    return best;
}

Words LiveCommandLine(const std::string& input, const Words& scale, const std::string& outFolder,
    int variant, int startSegment, int pipe, const Words& subtitleOptions)
{
    Words words;
    if (startSegment != -1)
        words = { "-ss", std::to_string(startSegment * 5) };
    words.insert(words.end(), { input, "-fps", "25.00", "-ofps", "24", "-cache", "8192" });
    words.insert(words.end(), scale.begin(), scale.end());
    words.insert(words.end(),
        { "-vf-add", "harddup", "-ovc", "x264", "-x264encopts",
            "bitrate=576:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:"
            "weightp=0:nocabac:no8x8dct:bframes=0:frameref=1:threads=1:keyint=24",
            "-oac", "faac", "-faacopts", "mpeg=4:object=2:raw:br=48", "-of", "lavf", "-lavfopts",
            "format=mpegts" });
    words.insert(words.end(), subtitleOptions.begin(), subtitleOptions.end());
    words.insert(words.end(),
        { "-avthread", "-vembacast", "5", "-o",
            outFolder + "/vemba-" + std::to_string(variant) + "-"
                + std::to_string(std::max(startSegment, 1)) + ".ts",
            "-pipename=" + std::to_string(pipe) });
    return words;
}

Words LivePreset4CommandLine(const std::string& input, const std::string& outFolder, int pipe)
{
    return { input, "-fps", "25.00", "-ofps", "24", "-cache", "8192", "-vf-add", "harddup", "-ovc",
        "x264", "-x264encopts", "-oac", "faac", "-faacopts", "mpeg=4:object=2:raw:br=128", "-of",
        "lavf", "-lavfopts", "format=mpegts", "-avthread", "-vembacast", "5", "-o",
        outFolder + "/vemba-4-1.ts", "-pipename=" + std::to_string(pipe) };
}

Words ConversionCommandLine(
    const std::string& input, const Words& scale, const std::string& output, int pipe, int bitrate)
{
    Words words { input, "-fps", "25.00", "-sws", "2", "-mc", "0", "-ofps", "24", "-vf-add",
        "harddup", "-ovc", "x264", "-x264encopts",
        "global_header:bitrate=" + std::to_string(bitrate)
            + ":level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:weightp=0:"
              "nocabac:no8x8dct:bframes=0:frameref=1:threads=2",
        "-oac", "faac", "-faacopts", "mpeg=4:object=2:raw:br=128", "-of", "lavf", "-lavfopts",
        "format=mp4" };
    words.insert(words.end(), scale.begin(), scale.end());
    words.insert(words.end(), { "-avthread", "-o", output, "-pipename=" + std::to_string(pipe) });
    return words;
}
