// bench_live: how fast a live stream starts and seeks over HTTP, and how many
// clients can stream preset 1 at once at real time, measured on generated 720p
// and 1080p sources beside the ffmpeg tool doing the same work in the same run.
//
//   (a) start: from the variant playlist request to the end of the first
//       segment's answer (the server answers once segments 1 to 3 exist);
//       ffmpeg: from its start until its third 5-second segment is complete.
//   (b) seek: from a request for segment 13 (60 s) out of sequence to its answer;
//       ffmpeg: the same from "-ss 60".
//   (c) clients: N clients each fetch segments 1..K in order, as a player does;
//       a client keeps real time when segment k arrives no later than 5 × (k − 1)
//       seconds after segment 1. ffmpeg: N transcodes of K × 5 s at once, real
//       time when each ends within K × 5 s. The count rises by a step from A
//       until both have fallen behind (or B is reached); the limit of each is
//       the last count at which every one of its streams kept real time.
//
// Usage: bench_live [--seconds S] [--clients-from A] [--clients-to B]
//                   [--clients-step D] [--segments K]
// Not run in CI: it takes several minutes and measures the machine it runs on.

#include "live_server_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int sourceSeconds = 120;
    int clientsFrom = 4;
    int clientsTo = 32; // a bound for the search (the server admits 32), not a goal
    int clientsStep = 1;
    int segments = 12; // segments each concurrent client fetches
};

struct Source {
    std::string label;
    int width;
    int height;
    std::string path;
};

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool MakeSource(const Source& source, int seconds)
{
    std::string size = std::to_string(source.width) + "x" + std::to_string(source.height);
    std::string duration = std::to_string(seconds);
    return RunTool("ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=" + size
        + ":rate=24:duration=" + duration + " -f lavfi -i sine=frequency=440:duration=" + duration
        + " -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -c:a aac -b:a 128k -shortest "
        + ShellQuote(source.path));
}

// The ffmpeg tool doing preset 1's work: 480 × 270, 24 fps, the template's x264
// options, AAC 48 kbit/s, 5-second MPEG-TS segments.
std::string FfmpegPresetOne(
    const std::string& input, int startSeconds, const std::string& folder, int limitSeconds)
{
    std::string seek = startSeconds > 0 ? " -ss " + std::to_string(startSeconds) : "";
    std::string limit = limitSeconds > 0 ? " -t " + std::to_string(limitSeconds) : "";
    return "exec ffmpeg -nostdin -y -loglevel error" + seek + " -i " + ShellQuote(input) + limit
        + " -vf scale=480:270 -r 24 -c:v libx264 -b:v 576k -level 21"
          " -x264-params mbtree=0:me=dia:mixed-refs=0:ref=1:subme=0:trellis=0:weightp=0:cabac=0:"
          "8x8dct=0:bframes=0:keyint=24:threads=1"
          " -c:a aac -b:a 48k -f segment -segment_time 5 -segment_format mpegts"
          " -segment_list "
        + ShellQuote(folder + "/list.csv") + " -segment_list_type csv "
        + ShellQuote(folder + "/out%03d.ts");
}

pid_t Spawn(const std::string& command)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

int CountLines(const std::string& path)
{
    std::ifstream in(path);
    return static_cast<int>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

// Seconds until ffmpeg has completed its third segment.
double FfmpegThirdSegment(const std::string& input, int startSeconds, const std::string& work)
{
    std::string folder = work + "/ffmpeg-" + std::to_string(startSeconds);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    auto started = Clock::now();
    pid_t pid = Spawn(FfmpegPresetOne(input, startSeconds, folder, 0));
    double seconds = -1;
    while (Since(started) < 120) {
        if (CountLines(folder + "/list.csv") >= 3) {
            seconds = Since(started);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(folder);
    return seconds;
}

std::string PlayTimeText(int seconds)
{
    return "0:" + std::to_string(seconds / 60) + ":" + std::to_string(seconds % 60);
}

struct StreamTimes {
    double start = -1;
    double seek = -1;
};

StreamTimes MeasureServer(const LoopbackServer& server, const std::string& file, int sourceSeconds)
{
    StreamTimes times;
    std::string id = server.Connect();
    std::string playTime = PlayTimeText(sourceSeconds);
    auto play = server.Play(id, file, playTime);
    if (play.result != 0 || server.Get(LoopbackServer::PathOf(play.message)).status != 200)
        return times;
    auto started = Clock::now();
    HttpReply variant = server.Get("/list/" + id + "/movie1.m3u8");
    HttpReply first = server.Get("/file/" + id + "/vemba-1-1.ts");
    if (variant.status == 200 && first.status == 200)
        times.start = Since(started);
    started = Clock::now();
    HttpReply seek = server.Get("/file/" + id + "/vemba-1-13.ts");
    if (seek.status == 200)
        times.seek = Since(started);
    server.Get("/playEnd?id=" + id);
    return times;
}

// Lateness of the worst segment of one client (seconds behind real time; ≤ 0 keeps up).
double PlayLikeAPlayer(
    const LoopbackServer& server, const std::string& file, int segments, int sourceSeconds)
{
    std::string id = server.Connect();
    std::string playTime = PlayTimeText(sourceSeconds);
    auto play = server.Play(id, file, playTime);
    if (play.result != 0 || server.Get("/list/" + id + "/movie1.m3u8").status != 200)
        return 1e9;
    double worst = -1e9;
    Clock::time_point first;
    for (int k = 1; k <= segments; ++k) {
        HttpReply segment = server.Get("/file/" + id + "/vemba-1-" + std::to_string(k) + ".ts");
        if (segment.status != 200)
            return 1e9;
        if (k == 1) {
            first = Clock::now();
            worst = 0;
            continue;
        }
        worst = std::max(worst, Since(first) - 5.0 * (k - 1));
    }
    server.Get("/playEnd?id=" + id);
    return worst;
}

struct ClientsResult {
    int keptUp = 0;
    double worstLag = 0;
};

ClientsResult RunClients(const LoopbackServer& server, const std::string& file, int clients,
    int segments, int sourceSeconds)
{
    std::vector<double> lags(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            lags[static_cast<size_t>(i)] = PlayLikeAPlayer(server, file, segments, sourceSeconds);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ClientsResult result;
    result.worstLag = *std::max_element(lags.begin(), lags.end());
    result.keptUp = static_cast<int>(
        std::count_if(lags.begin(), lags.end(), [](double lag) { return lag <= 0.0; }));
    return result;
}

// How many of `count` ffmpeg transcodes of `seconds` of the source end within `seconds`.
int FfmpegAtOnce(
    const std::string& input, int count, int seconds, const std::string& work, double& slowest)
{
    std::vector<pid_t> pids;
    auto started = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::string folder = work + "/ffmpeg-many-" + std::to_string(i);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        pids.push_back(Spawn(FfmpegPresetOne(input, 0, folder, seconds)));
    }
    int inTime = 0;
    slowest = 0;
    for (pid_t pid : pids) {
        waitpid(pid, nullptr, 0);
        double took = Since(started);
        slowest = std::max(slowest, took);
        if (took <= seconds)
            ++inTime;
    }
    for (int i = 0; i < count; ++i)
        std::filesystem::remove_all(work + "/ffmpeg-many-" + std::to_string(i));
    return inTime;
}

struct ClientLimits {
    int server = 0; // most clients that all kept real time
    int tool = 0;
    bool serverBound = false; // the search stopped before it fell behind
    bool toolBound = false;
};

// Raises the count of streams until the server and the tool have both fallen
// behind; a side that has is not measured again.
ClientLimits RaiseClientsUntilBehind(
    const LoopbackServer& server, const Source& big, const Options& options, const std::string& work)
{
    ClientLimits limits;
    const int segmentSeconds = options.segments * 5;
    bool serverBehind = false, toolBehind = false;
    for (int clients = options.clientsFrom;
         clients <= options.clientsTo && !(serverBehind && toolBehind);
         clients += options.clientsStep) {
        std::printf("%8d", clients);
        if (!serverBehind) {
            ClientsResult result = RunClients(
                server, big.label + ".mp4", clients, options.segments, options.sourceSeconds);
            std::printf(" %10d of %-3d %14.2f", result.keptUp, clients, result.worstLag);
            serverBehind = result.keptUp < clients;
            if (!serverBehind)
                limits.server = clients;
        } else {
            std::printf(" %16s %14s", "-", "-");
        }
        if (!toolBehind) {
            double slowest = 0;
            int inTime = FfmpegAtOnce(big.path, clients, segmentSeconds, work, slowest);
            std::printf(" %12d of %-3d %16.2f", inTime, clients, slowest);
            toolBehind = inTime < clients;
            if (!toolBehind)
                limits.tool = clients;
        } else {
            std::printf(" %18s %16s", "-", "-");
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    limits.serverBound = !serverBehind;
    limits.toolBound = !toolBehind;
    return limits;
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        int value = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds"))
            options.sourceSeconds = std::max(value, 75);
        else if (!std::strcmp(argv[i], "--clients-from"))
            options.clientsFrom = std::max(value, 1);
        else if (!std::strcmp(argv[i], "--clients-to"))
            options.clientsTo = value;
        else if (!std::strcmp(argv[i], "--clients-step"))
            options.clientsStep = std::max(value, 1);
        else if (!std::strcmp(argv[i], "--segments"))
            options.segments = std::max(value, 3);
    }
    options.clientsTo = std::max(options.clientsTo, options.clientsFrom);
    options.sourceSeconds = std::max(options.sourceSeconds, options.segments * 5 + 5);
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    Options options = ParseOptions(argc, argv);
    setenv("VEMBACAST_SHUTDOWN_COMMAND", "true", 1);
    std::string pattern
        = (std::filesystem::temp_directory_path() / "vembacast-bench-live-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return 1;
    std::string work = pattern;
    std::vector<Source> sources = { { "720p", 1280, 720, work + "/source-720p.mp4" },
        { "1080p", 1920, 1080, work + "/source-1080p.mp4" } };
    for (const Source& source : sources) {
        std::printf("making %s source (%d s)...\n", source.label.c_str(), options.sourceSeconds);
        std::fflush(stdout);
        if (!MakeSource(source, options.sourceSeconds))
            return 1;
    }
    LoopbackServer server({ { "MaxLIveClient", "32" }, { "FixedBandwidth", "1" } });
    if (!server.Running()) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    for (const Source& source : sources)
        std::filesystem::create_hard_link(
            source.path, server.MediaFolder() + "/" + source.label + ".mp4");

    std::printf("\n%-6s %-28s %9s %9s %7s\n", "source", "measure", "server s", "ffmpeg s", "ratio");
    for (const Source& source : sources) {
        std::vector<double> starts, seeks, refStarts, refSeeks;
        for (int round = 0; round < 3; ++round) {
            StreamTimes times = MeasureServer(server, source.label + ".mp4", options.sourceSeconds);
            starts.push_back(times.start);
            seeks.push_back(times.seek);
            refStarts.push_back(FfmpegThirdSegment(source.path, 0, work));
            refSeeks.push_back(FfmpegThirdSegment(source.path, 60, work));
        }
        double start = Median(starts), seek = Median(seeks);
        double refStart = Median(refStarts), refSeek = Median(refSeeks);
        std::printf("%-6s %-28s %9.2f %9.2f %7.2f\n", source.label.c_str(), "(a) first segment",
            start, refStart, start / refStart);
        std::printf("%-6s %-28s %9.2f %9.2f %7.2f\n", source.label.c_str(), "(b) seek to 60 s",
            seek, refSeek, seek / refSeek);
        std::fflush(stdout);
    }

    const Source& big = sources.back();
    int segmentSeconds = options.segments * 5;
    std::printf("\n(c) %s clients at preset 1, %d segments each (%d s of media)\n",
        big.label.c_str(), options.segments, segmentSeconds);
    std::printf("%8s %16s %14s %18s %16s\n", "clients", "server in time", "worst lag s",
        "ffmpeg in time", "slowest s");
    ClientLimits limits = RaiseClientsUntilBehind(server, big, options, work);
    std::printf("limits (every stream in real time): server %s%d, ffmpeg tool %s%d",
        limits.serverBound ? ">= " : "", limits.server, limits.toolBound ? ">= " : "", limits.tool);
    if (limits.tool > 0)
        std::printf(", server / tool %.2f", double(limits.server) / limits.tool);
    std::printf("\n");
    server.Stop();
    std::filesystem::remove_all(work);
    return 0;
}
