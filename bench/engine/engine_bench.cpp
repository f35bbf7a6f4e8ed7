// engine_bench: how fast the live encoding of bandwidth preset 1 is.
//
// On a generated 1920x1080 24 fps H.264+AAC source of 120 s (made once and
// kept under bench/out/), it runs preset 1 (480x270, 576 kbit/s, the live
// template's x264 options, AAC 48 kbit/s, 5-second segments) through our engine,
// driven by CEncoder as the server drives it, and through the ffmpeg tool doing
// the same work, one after the other. It prints wall and CPU seconds of each
// whole run and their ratio, the time from process start until the third
// segment is complete (from the start and from -ss 60), and the SSIM of each
// output against the source scaled to 480x270, so speed never hides a loss of
// picture quality.
//
// The machine is shared, so each measurement is repeated (alternating between
// the two programs) and the median is printed.
//
//   engine_bench [--work DIR] [--seconds N] [--repeat N]

#include "enginectl/encoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

const char* const kX264
    = "bitrate=576:level_idc=21:nombtree:me=dia:nomixed_refs:ref=1:subq=0:trellis=0:weightp=0:"
      "nocabac:no8x8dct:bframes=0:frameref=1:threads=1:keyint=24";
const char* const kX264ForFfmpeg
    = "level=21:mbtree=0:me=dia:mixed-refs=0:ref=1:subme=0:trellis=0:weightp=0:cabac=0:"
      "8x8dct=0:bframes=0:threads=1:keyint=24";

struct RunFigures {
    double wall = 0; // seconds from process start to its end
    double cpu = 0; // user + system seconds of the process
    double third = 0; // seconds from process start until the third segment is complete
};

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double ChildCpu()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
        + usage.ru_stime.tv_usec / 1e6;
}

int Shell(const std::string& command)
{
    return system(command.c_str());
}

std::string Capture(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    size_t got;
    while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    if (pipe)
        pclose(pipe);
    return out;
}

void Fresh(const std::string& folder)
{
    fs::remove_all(folder);
    fs::create_directories(folder);
}

// Our engine through CEncoder. stopAfterThird: quit once the third segment is there.
RunFigures RunEngine(
    const std::string& source, const std::string& out, int startSeconds, bool stopAfterThird)
{
    Fresh(out);
    int first = startSeconds / 5 + 1;
    std::string third = out + "/vemba-1-" + std::to_string(first + 2) + ".ts";
    std::atomic<bool> complete { false };
    CEncoder encoder;
    encoder.SetNotifyTarget(
        [&](uint32_t message, uintptr_t, uintptr_t) {
            if (message == WM_APP_ENC_COMPLETE || message == WM_APP_ENC_ERROR)
                complete = true;
        },
        0);
    RunFigures figures;
    double cpuBefore = ChildCpu();
    auto started = Clock::now();
    {
        int number = encoder.CreateEnginePipe();
        std::vector<std::string> line;
        if (startSeconds > 0)
            line = { "-ss", std::to_string(startSeconds) };
        line.insert(line.end(),
            { source, "-fps", "24.00", "-ofps", "24", "-cache", "8192", "-vf", "scale=480:270",
                "-vf-add", "harddup", "-ovc", "x264", "-x264encopts", kX264, "-oac", "faac",
                "-faacopts", "mpeg=4:object=2:raw:br=48", "-of", "lavf", "-lavfopts",
                "format=mpegts", "-avthread", "-vembacast", "5", "-o",
                out + "/vemba-1-" + std::to_string(first) + ".ts",
                "-pipename=" + std::to_string(number) });
        if (encoder.RunQZEncEngine(line) != 1 || encoder.StartEncoding() != 1) {
            fprintf(stderr, "engine did not start\n");
            exit(1);
        }
    }
    while (!complete && encoder.IsENCRunning()) {
        if (figures.third == 0 && fs::exists(third)) {
            figures.third = Seconds(Clock::now() - started);
            if (stopAfterThird)
                break;
        }
        std::this_thread::sleep_for(2ms);
    }
    if (stopAfterThird)
        encoder.QuitEncoding();
    while (encoder.IsENCRunning())
        std::this_thread::sleep_for(2ms);
    figures.wall = Seconds(Clock::now() - started);
    encoder.QuitEncoding();
    figures.cpu = ChildCpu() - cpuBefore;
    return figures;
}

int CountSegmentsInPlaylist(const std::string& playlist)
{
    std::ifstream file(playlist);
    std::string line;
    int count = 0;
    while (std::getline(file, line))
        count += line.rfind("#EXTINF", 0) == 0;
    return count;
}

// The ffmpeg tool doing the same work: same size, x264 options, audio and 5 s segments.
RunFigures RunFfmpeg(
    const std::string& source, const std::string& out, int startSeconds, bool stopAfterThird)
{
    Fresh(out);
    std::string playlist = out + "/list.m3u8";
    std::vector<std::string> args = { "ffmpeg", "-v", "error", "-y" };
    if (startSeconds > 0)
        args.insert(args.end(), { "-ss", std::to_string(startSeconds) });
    args.insert(args.end(),
        { "-i", source, "-vf", "scale=480:270", "-r", "24", "-c:v", "libx264", "-b:v", "576k",
            "-x264-params", kX264ForFfmpeg, "-force_key_frames", "expr:gte(t,n_forced*5)", "-c:a",
            "aac", "-b:a", "48k", "-f", "hls", "-hls_time", "5", "-hls_list_size", "0",
            "-hls_segment_filename", out + "/seg-%d.ts", playlist });
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    RunFigures figures;
    auto started = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execvp("ffmpeg", argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    while (true) {
        pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (figures.third == 0 && CountSegmentsInPlaylist(playlist) >= 3) {
            figures.third = Seconds(Clock::now() - started);
            if (stopAfterThird)
                kill(pid, SIGTERM);
        }
        std::this_thread::sleep_for(2ms);
    }
    figures.wall = Seconds(Clock::now() - started);
    figures.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
        + usage.ru_stime.tv_usec / 1e6;
    return figures;
}

std::string ConcatOf(const std::string& folder, const std::string& prefix, int first)
{
    std::string list = "concat:";
    for (int n = first; fs::exists(folder + "/" + prefix + std::to_string(n) + ".ts"); ++n)
        list += (n > first ? "|" : "") + folder + "/" + prefix + std::to_string(n) + ".ts";
    return list;
}

// Frames are paired by their number, not their timestamps: the reference's
// millisecond timestamps would pair neighbouring frames now and then.
double Ssim(const std::string& input, const std::string& reference)
{
    std::string text = Capture("ffmpeg -nostats -hide_banner -i '" + input + "' -i '" + reference
        + "' -lavfi '[0:v]setpts=N/(24*TB)[a];[1:v]setpts=N/(24*TB)[b];[a][b]ssim=shortest=1' -f "
          "null - 2>&1");
    size_t all = text.rfind("All:");
    return all == std::string::npos ? -1 : atof(text.c_str() + all + 4);
}

RunFigures Median(std::vector<RunFigures> runs)
{
    auto pick = [&](auto member) {
        std::vector<double> values;
        for (const RunFigures& run : runs)
            values.push_back(run.*member);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return { pick(&RunFigures::wall), pick(&RunFigures::cpu), pick(&RunFigures::third) };
}

void Print(const char* name, const RunFigures& figures)
{
    printf("  %-34s wall %7.2f s   cpu %7.2f s   third segment %6.2f s\n", name, figures.wall,
        figures.cpu, figures.third);
}

} // namespace

int main(int argc, char** argv)
{
    std::string work = fs::path(__FILE__).parent_path().parent_path().string() + "/out/engine";
    int seconds = 120;
    int repeat = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        if (name == "--work")
            work = argv[i + 1];
        else if (name == "--seconds")
            seconds = atoi(argv[i + 1]);
        else if (name == "--repeat")
            repeat = std::max(1, atoi(argv[i + 1]));
    }
    fs::create_directories(work);
    std::string source = work + "/source-1080p-" + std::to_string(seconds) + "s.mp4";
    std::string reference = work + "/reference-480x270-" + std::to_string(seconds) + "s.mkv";
    if (!fs::exists(source)) {
        printf("making the source (once): %s\n", source.c_str());
        std::string d = std::to_string(seconds);
        if (Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=24:duration=" + d
                + " -f lavfi -i sine=frequency=440:duration=" + d
                + " -vf noise=alls=6:allf=t -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a "
                  "aac -b:a 128k -ac 2 '"
                + source + ".tmp.mp4' && mv '" + source + ".tmp.mp4' '" + source + "'")
            != 0)
            return 1;
    }
    if (!fs::exists(reference))
        Shell("ffmpeg -v error -y -i '" + source
            + "' -vf scale=480:270:flags=bicubic -an -c:v ffv1 '" + reference + "'");

    printf("engine_bench: %s, preset 1 (480x270, 576 kbit/s), %u processors\n", source.c_str(),
        std::thread::hardware_concurrency());
    std::vector<RunFigures> oursRuns, toolRuns, oursSeekRuns, toolSeekRuns;
    for (int round = 0; round < repeat; ++round) {
        oursRuns.push_back(RunEngine(source, work + "/ours", 0, false));
        toolRuns.push_back(RunFfmpeg(source, work + "/ffmpeg", 0, false));
        oursSeekRuns.push_back(RunEngine(source, work + "/ours-seek", 60, true));
        toolSeekRuns.push_back(RunFfmpeg(source, work + "/ffmpeg-seek", 60, true));
        printf("  round %d: engine %.2f s / %.2f s cpu / third %.2f s, -ss 60 third %.2f s;  "
               "ffmpeg %.2f s / %.2f s cpu / "
               "third %.2f s, -ss 60 third %.2f s\n",
            round + 1, oursRuns.back().wall, oursRuns.back().cpu, oursRuns.back().third,
            oursSeekRuns.back().third, toolRuns.back().wall, toolRuns.back().cpu,
            toolRuns.back().third, toolSeekRuns.back().third);
        fflush(stdout);
    }
    RunFigures ours = Median(oursRuns);
    RunFigures tool = Median(toolRuns);
    RunFigures oursSeek = Median(oursSeekRuns);
    RunFigures toolSeek = Median(toolSeekRuns);
    printf("medians of %d rounds:\n", repeat);
    Print("vembacast-engine, whole file", ours);
    Print("ffmpeg tool, whole file", tool);
    Print("vembacast-engine, -ss 60", oursSeek);
    Print("ffmpeg tool, -ss 60", toolSeek);
    printf("  speed: engine %.2fx real time, ffmpeg %.2fx real time\n", seconds / ours.wall,
        seconds / tool.wall);
    printf(
        "  ratio ffmpeg/engine: wall %.2f  cpu %.2f  third segment %.2f (start)  %.2f (-ss 60)\n",
        tool.wall / ours.wall, tool.cpu / ours.cpu, tool.third / ours.third,
        toolSeek.third / oursSeek.third);
    double ssimOurs = Ssim(ConcatOf(work + "/ours", "vemba-1-", 1), reference);
    double ssimTool = Ssim(ConcatOf(work + "/ffmpeg", "seg-", 0), reference);
    printf("  SSIM against the source scaled to 480x270: engine %.4f, ffmpeg %.4f\n", ssimOurs,
        ssimTool);
    return 0;
}
