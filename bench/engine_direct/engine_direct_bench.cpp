// bench_engine_direct: the engine on its own (a plain child process, no server,
// no pipes) beside the ffmpeg tool doing the same job, on a generated 1920x1080
// 24 fps H.264 + AAC source of 120 s in Matroska (made once, kept under
// bench/out/engine-direct/):
//
//   - the key frame index (-keyframes) of the file, and of a two-hour
//     low-resolution file (MP4 and Matroska) with a key frame every 2 s;
//   - direct stream (-ovc copy -oac copy): the time until the first segment is
//     complete from the start, and from the cut nearest the middle; the tool
//     copies with its segment muxer at the same cut times;
//   - processor time of a whole direct stream of the file against our 1080p HD
//     transcode of it (High profile, 6 Mbit/s with a VBV bound, AAC 128 kbit/s);
//   - the time until the third segment of a transcode (bandwidth preset 1's
//     size and x264 options) is complete, from 0 and from the cut at or before
//     60 s (-ss and -kf, as the server starts a seek); the tool encodes with the
//     same x264 settings and cuts at the same times, and, for comparison, as the
//     phone's HLS does with -ss 60 and 5-second segments.
//
// The segments are the server's plan: cuts at key frames about 5 s apart, never
// less than 2 s. The machine is shared, so every figure is the median of rounds
// in which our engine and the tool alternate.
//
//   bench_engine_direct [--work DIR] [--rounds N] [--no-hd]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const char* const kPreset1X264
    = "bitrate=576:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:weightp=0:"
      "nocabac:no8x8dct:bframes=0:frameref=1:threads=1:keyint=24";
const char* const kPreset1ForTool
    = "level=21:mbtree=0:me=dia:mixed-refs=0:ref=1:subme=0:trellis=0:weightp=0:cabac=0:"
      "8x8dct=0:bframes=0:threads=1:keyint=24";
const char* const kHdX264 = "profile=high:preset=veryfast:bitrate=6000:vbv_maxrate=9000:"
                            "vbv_bufsize=12000:keyint=250:level=4.1:threads=auto";

struct Figures {
    double until = 0; // seconds from the start until the awaited file was there
    double wall = 0; // seconds until the process ended
    double cpu = 0; // user + system seconds of the process
};

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs argv; `done` is polled every 2 ms. With stopWhenDone the process is ended
// as soon as `done` holds.
Figures Run(std::vector<std::string> args, const std::function<bool()>& done, bool stopWhenDone)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    Figures figures;
    fflush(stdout); // the child must not write our buffered lines again
    auto started = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        // What the programs print is not the bench's output; errors still show.
        if (!freopen("/dev/null", "w", stdout))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    while (true) {
        if (wait4(pid, &status, WNOHANG, &usage) == pid)
            break;
        if (figures.until == 0 && done && done()) {
            figures.until = Seconds(Clock::now() - started);
            if (stopWhenDone)
                kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(2ms);
    }
    figures.wall = Seconds(Clock::now() - started);
    if (figures.until == 0 && done && done())
        figures.until = figures.wall;
    figures.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
        + usage.ru_stime.tv_usec / 1e6;
    return figures;
}

int Shell(const std::string& command)
{
    return system(command.c_str());
}

void Fresh(const std::string& folder)
{
    fs::remove_all(folder);
    fs::create_directories(folder);
}

int Lines(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    int count = 0;
    while (std::getline(file, line))
        count += !line.empty();
    return count;
}

std::function<bool()> FileExists(const std::string& path)
{
    return [path] { return fs::exists(path); };
}

std::function<bool()> ListHas(const std::string& path, int count)
{
    return [path, count] { return Lines(path) >= count; };
}

std::function<bool()> PlaylistHas(const std::string& path, int count)
{
    return [path, count] {
        std::ifstream file(path);
        std::string line;
        int found = 0;
        while (std::getline(file, line))
            found += line.rfind("#EXTINF", 0) == 0;
        return found >= count;
    };
}

// The key frame times of an index file.
std::vector<double> ReadIndex(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::vector<double> keys;
    bool inTimes = false;
    while (std::getline(file, line)) {
        if (inTimes)
            keys.push_back(atof(line.c_str()));
        else if (line.rfind("keyframes ", 0) == 0)
            inTimes = true;
    }
    return keys;
}

// The server's plan: from each cut, the key frame nearest 5 s on, at least 2 s on.
std::vector<double> PlanCuts(const std::vector<double>& keys)
{
    std::vector<double> cuts = { 0 };
    for (size_t i = 1; i < keys.size();) {
        double from = cuts.back();
        size_t best = keys.size();
        for (size_t k = i; k < keys.size() && keys[k] - from <= 10; ++k) {
            if (keys[k] - from >= 2
                && (best == keys.size()
                    || std::fabs(keys[k] - from - 5) < std::fabs(keys[best] - from - 5)))
                best = k;
        }
        if (best == keys.size()) {
            while (i < keys.size() && keys[i] - from < 2)
                ++i;
            if (i == keys.size())
                break;
            best = i;
        }
        cuts.push_back(keys[best]);
        i = best + 1;
    }
    return cuts;
}

std::string TimesAfter(const std::vector<double>& cuts, double start)
{
    std::string list;
    char text[32];
    for (double cut : cuts) {
        if (cut > start + 0.001) {
            snprintf(text, sizeof text, "%.6f", cut - start);
            list += (list.empty() ? "" : ",") + std::string(text);
        }
    }
    return list;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Table {
    std::map<std::string, std::vector<double>> values;
    std::vector<std::string> order;
    void Add(const std::string& name, double value)
    {
        if (!values.count(name))
            order.push_back(name);
        values[name].push_back(value);
    }
    double Of(const std::string& name) { return Median(values[name]); }
};

std::string Text(double seconds)
{
    char text[32];
    snprintf(text, sizeof text, "%.6f", seconds);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    std::string work = std::string(VEMBACAST_BENCH_OUT) + "/engine-direct";
    int rounds = 3;
    bool hd = true;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--work" && i + 1 < argc)
            work = argv[++i];
        else if (name == "--rounds" && i + 1 < argc)
            rounds = std::max(1, atoi(argv[++i]));
        else if (name == "--no-hd")
            hd = false;
    }
    const std::string engine = VEMBACAST_ENGINE_PATH;
    fs::create_directories(work);
    std::string source = work + "/source-1080p-120s.mkv";
    if (!fs::exists(source)) {
        printf("making the source (once): %s\n", source.c_str());
        if (Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=24:duration=120 "
                  "-f lavfi -i sine=frequency=440:duration=120 -vf noise=alls=6:allf=t -c:v "
                  "libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 '"
                + source + ".tmp.mkv' && mv '" + source + ".tmp.mkv' '" + source + "'")
            != 0)
            return 1;
    }
    // Two hours of key frames (one every 2 s), small pictures: the index's worst case
    // for time is the number of key frames, not their size.
    std::string longSource = work + "/long-2h-160x90.mp4";
    if (!fs::exists(longSource)) {
        printf("making the two-hour file (once): %s\n", longSource.c_str());
        if (Shell("ffmpeg -v error -y -f lavfi -i color=gray:size=160x90:rate=25:duration=7200 "
                  "-f lavfi -i anullsrc=r=8000:cl=mono -t 7200 -c:v libx264 -preset ultrafast "
                  "-g 50 -pix_fmt yuv420p -c:a aac -b:a 8k '"
                + longSource + ".tmp.mp4' && mv '" + longSource + ".tmp.mp4' '" + longSource + "'")
            != 0)
            return 1;
    }

    std::string longMkv = work + "/long-2h-160x90.mkv";
    if (!fs::exists(longMkv)
        && Shell("ffmpeg -v error -y -i '" + longSource + "' -c copy '" + longMkv + "'") != 0)
        return 1;

    std::string indexFile = work + "/index.txt";
    Run({ engine, "-keyframes", source, "-o", indexFile }, nullptr, false);
    std::vector<double> cuts = PlanCuts(ReadIndex(indexFile));
    if (cuts.size() < 8) {
        fprintf(stderr, "the index of %s has too few key frames\n", source.c_str());
        return 1;
    }
    std::string cutFile = work + "/cuts.txt";
    {
        std::ofstream file(cutFile);
        for (double cut : cuts)
            file << Text(cut) << "\n";
    }
    double middle = cuts[0];
    double at60 = cuts[0];
    for (double cut : cuts) {
        if (cut <= 60.0001)
            at60 = cut;
        if (std::fabs(cut - 60) < std::fabs(middle - 60))
            middle = cut;
    }
    printf("bench_engine_direct: %s, %zu segments (cuts at key frames, about 5 s), middle cut "
           "%.3f s, cut at or before 60 s %.3f s, %u processors, %d rounds\n",
        source.c_str(), cuts.size(), middle, at60, std::thread::hardware_concurrency(), rounds);

    const std::string out = work + "/run";
    auto copyLine = [&](double start) {
        std::vector<std::string> line = { engine };
        if (start > 0)
            line.insert(line.end(), { "-ss", Text(start), "-kf", Text(start) });
        line.insert(line.end(),
            { source, "-ovc", "copy", "-oac", "copy", "-of", "lavf", "-lavfopts", "format=mpegts",
                "-vembacast", "5", "-cuts", cutFile, "-o", out + "/vemba-5-1.ts" });
        return line;
    };
    auto toolCopyLine = [&](double start) {
        std::vector<std::string> line = { "ffmpeg", "-v", "error", "-y" };
        if (start > 0)
            line.insert(line.end(), { "-ss", Text(start) });
        line.insert(line.end(),
            { "-i", source, "-map", "0:v:0", "-map", "0:a:0", "-c", "copy", "-f", "segment",
                "-segment_format", "mpegts", "-segment_times", TimesAfter(cuts, start),
                "-segment_list", out + "/list.csv", "-segment_list_type", "csv",
                out + "/seg-%d.ts" });
        return line;
    };
    auto transcodeLine = [&](double start) {
        std::vector<std::string> line = { engine };
        if (start > 0)
            line.insert(line.end(), { "-ss", Text(start), "-kf", Text(start) });
        line.insert(line.end(),
            { source, "-fps", "24.00", "-ofps", "24", "-vf", "scale=480:270", "-vf-add", "harddup",
                "-ovc", "x264", "-x264encopts", kPreset1X264, "-oac", "faac", "-faacopts",
                "mpeg=4:object=2:raw:br=48", "-of", "lavf", "-lavfopts", "format=mpegts",
                "-vembacast", "5", "-cuts", cutFile, "-o", out + "/vemba-1-1.ts" });
        return line;
    };
    auto toolTranscodeLine = [&](double start) {
        std::vector<std::string> line = { "ffmpeg", "-v", "error", "-y" };
        if (start > 0)
            line.insert(line.end(), { "-ss", Text(start) });
        std::string times = TimesAfter(cuts, start);
        line.insert(line.end(),
            { "-i", source, "-vf", "scale=480:270", "-r", "24", "-c:v", "libx264", "-b:v", "576k",
                "-x264-params", kPreset1ForTool, "-force_key_frames", times, "-c:a", "aac", "-b:a",
                "48k", "-f", "segment", "-segment_format", "mpegts", "-segment_times", times,
                "-segment_list", out + "/list.csv", "-segment_list_type", "csv",
                out + "/seg-%d.ts" });
        return line;
    };
    auto toolHlsLine = [&](int start) {
        std::vector<std::string> line
            = { "ffmpeg", "-v", "error", "-y", "-ss", std::to_string(start), "-i", source, "-vf",
                  "scale=480:270", "-r", "24", "-c:v", "libx264", "-b:v", "576k", "-x264-params",
                  kPreset1ForTool, "-force_key_frames", "expr:gte(t,n_forced*5)", "-c:a", "aac",
                  "-b:a", "48k", "-f", "hls", "-hls_time", "5", "-hls_list_size", "0",
                  "-hls_segment_filename", out + "/seg-%d.ts", out + "/list.m3u8" };
        return line;
    };
    auto segment = [&](int variant, size_t n) {
        return out + "/vemba-" + std::to_string(variant) + "-" + std::to_string(n) + ".ts";
    };
    size_t middleNumber = 1;
    size_t at60Number = 1;
    for (size_t n = 1; n <= cuts.size(); ++n) {
        if (cuts[n - 1] == middle)
            middleNumber = n;
        if (cuts[n - 1] == at60)
            at60Number = n;
    }

    Table table;
    for (int round = 1; round <= rounds; ++round) {
        Figures f = Run({ engine, "-keyframes", source, "-o", work + "/i.txt" }, nullptr, false);
        table.Add("index, 120 s 1080p Matroska (engine)", f.wall);
        f = Run({ engine, "-keyframes", longSource, "-o", work + "/i.txt" }, nullptr, false);
        table.Add("index, 2 h MP4, 3600 key frames (engine)", f.wall);
        f = Run({ engine, "-keyframes", longMkv, "-o", work + "/i.txt" }, nullptr, false);
        table.Add("index, 2 h Matroska, 3600 key frames (engine)", f.wall);
        f = Run({ "ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                    "packet=pts_time,flags", "-of", "csv=p=0", longSource },
            nullptr, false);
        table.Add("index, 2 h MP4, ffprobe's packet flags (tool)", f.wall);

        Fresh(out);
        table.Add("copy, first segment from 0 (engine)",
            Run(copyLine(0), FileExists(segment(5, 1)), true).until);
        Fresh(out);
        table.Add("copy, first segment from 0 (tool)",
            Run(toolCopyLine(0), ListHas(out + "/list.csv", 1), true).until);
        Fresh(out);
        table.Add("copy, first segment from the middle (engine)",
            Run(copyLine(middle), FileExists(segment(5, middleNumber)), true).until);
        Fresh(out);
        table.Add("copy, first segment from the middle (tool)",
            Run(toolCopyLine(middle), ListHas(out + "/list.csv", 1), true).until);

        Fresh(out);
        f = Run(copyLine(0), nullptr, false);
        table.Add("copy, whole file, cpu (engine)", f.cpu);
        table.Add("copy, whole file, wall (engine)", f.wall);
        Fresh(out);
        f = Run(toolCopyLine(0), nullptr, false);
        table.Add("copy, whole file, cpu (tool)", f.cpu);
        if (hd) {
            Fresh(out);
            f = Run({ engine, source, "-vf", "scale=1920:1080", "-ovc", "x264", "-x264encopts",
                        kHdX264, "-oac", "faac", "-faacopts", "br=128", "-of", "lavf", "-lavfopts",
                        "format=mpegts", "-vembacast", "5", "-cuts", cutFile, "-o",
                        out + "/vemba-6-1.ts" },
                nullptr, false);
            table.Add("HD 1080p transcode, whole file, cpu (engine)", f.cpu);
            table.Add("HD 1080p transcode, whole file, wall (engine)", f.wall);
        }

        Fresh(out);
        table.Add("transcode, third segment from 0 (engine)",
            Run(transcodeLine(0), FileExists(segment(1, 3)), true).until);
        Fresh(out);
        table.Add("transcode, third segment from 0 (tool, same cuts)",
            Run(toolTranscodeLine(0), ListHas(out + "/list.csv", 3), true).until);
        Fresh(out);
        table.Add("transcode, third segment from 60 s (engine, -ss/-kf at the cut)",
            Run(transcodeLine(at60), FileExists(segment(1, at60Number + 2)), true).until);
        Fresh(out);
        table.Add("transcode, third segment from 60 s (tool, same cut)",
            Run(toolTranscodeLine(at60), ListHas(out + "/list.csv", 3), true).until);
        Fresh(out);
        table.Add("transcode, third segment from 0 (tool, HLS 5 s)",
            Run(toolHlsLine(0), PlaylistHas(out + "/list.m3u8", 3), true).until);
        Fresh(out);
        table.Add("transcode, third segment from 60 s (tool, HLS 5 s, -ss 60)",
            Run(toolHlsLine(60), PlaylistHas(out + "/list.m3u8", 3), true).until);
        printf("  round %d done\n", round);
        fflush(stdout);
    }
    fs::remove_all(out);

    printf("medians of %d rounds (seconds):\n", rounds);
    for (const std::string& name : table.order)
        printf("  %-64s %8.3f\n", name.c_str(), table.Of(name));
    auto ratio = [&](const std::string& ours, const std::string& tool) {
        return table.Of(ours) / table.Of(tool);
    };
    printf("ratios engine / tool (below 1: the engine is faster):\n");
    printf("  copy, first segment from 0            %.2f\n",
        ratio("copy, first segment from 0 (engine)", "copy, first segment from 0 (tool)"));
    printf("  copy, first segment from the middle   %.2f\n",
        ratio("copy, first segment from the middle (engine)",
            "copy, first segment from the middle (tool)"));
    printf("  transcode, third segment from 0       %.2f (same cuts), %.2f (HLS 5 s)\n",
        ratio("transcode, third segment from 0 (engine)",
            "transcode, third segment from 0 (tool, same cuts)"),
        ratio("transcode, third segment from 0 (engine)",
            "transcode, third segment from 0 (tool, HLS 5 s)"));
    printf("  transcode, third segment from 60 s    %.2f (same cut), %.2f (HLS 5 s, -ss 60)\n",
        ratio("transcode, third segment from 60 s (engine, -ss/-kf at the cut)",
            "transcode, third segment from 60 s (tool, same cut)"),
        ratio("transcode, third segment from 60 s (engine, -ss/-kf at the cut)",
            "transcode, third segment from 60 s (tool, HLS 5 s, -ss 60)"));
    if (hd)
        printf("  copy cpu / HD 1080p transcode cpu     %.3f\n",
            ratio(
                "copy, whole file, cpu (engine)", "HD 1080p transcode, whole file, cpu (engine)"));
    return 0;
}
