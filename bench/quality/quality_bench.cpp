// bench_quality: a browser's streams over HTTP beside the ffmpeg tool doing the same
// job in the same run, on a generated 1080p H.264 Matroska film (120 s, a key frame
// every 5 s, AAC), each figure the median of 3 alternating runs.
//
//   (a) direct stream start: from the variant playlist request to the end of the
//       first segment's answer (the server answers once segments 1 to 3 exist);
//       the tool: "-c copy" to 5 s MPEG-TS segments until its third is complete.
//   (b) direct stream seek: a request out of sequence for the segment at 60 s, to
//       its answer; the tool: the same from "-ss 60".
//   (c) engine CPU time (the children's user + system time) of the whole film as a
//       direct stream and as the 1080p HD transcode.
//   (d) HD 1080p transcode: the whole film fetched segment by segment as fast as
//       the server answers (real time when every segment arrives before its play
//       time, counted from the first); SSIM against the source, pictures paired
//       in order, beside the tool's with the same x264 settings and bitrate.
//   (e) HD 1080p third segment from 0 s and from 60 s, beside the tool (a key
//       picture every 5 s, as the engine makes at each cut).
//   (f) direct-stream clients: N players at once, each fetching --client-seconds of
//       the film paced as a player with a 10 s buffer; a player keeps real time
//       when every segment arrives before its play time.
//
// Usage: bench_quality [--clients 40,60,80] [--client-seconds S]
//                      [--parts start,whole,clients]
// Not run in CI: it takes several minutes and measures the machine it runs on.

#include "live_server_fixture.h"
#include "streaming/browser_variants.h"
#include "streaming/streaming_context.h"
#include "support/step_log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kFilmSeconds = 120;
constexpr int kFilmRate = 24;
constexpr const char* kFilm = "film.mkv";
constexpr const char* kOriginal = "movie7.m3u8";
constexpr const char* kHd1080 = "movie8.m3u8";
// The tool's settings for the HD 1080p variant: the x264 options the server gives,
// and a key picture every 5 s as the engine forces one at each of the film's cuts
// (without it the tool's segments would be 10 s, its third one twice the work).
constexpr const char* kToolHd
    = " -c:v libx264 -profile:v high -preset veryfast -b:v 6000k -maxrate 9000k -bufsize 6000k"
      " -g 240 -force_key_frames 'expr:gte(t,n_forced*5)' -level 4.1 -c:a aac -b:a 128k";

struct Options {
    std::vector<int> clients { 40, 60, 80 };
    int clientSeconds = 60;
    // The parts to run: "start" (a, b, e), "whole" (c, d), "clients" (f).
    std::vector<std::string> parts { "start", "whole", "clients" };

    bool Runs(const std::string& part) const
    {
        return std::find(parts.begin(), parts.end(), part) != parts.end();
    }
};

double Since(Steady::time_point start)
{
    return std::chrono::duration<double>(Steady::now() - start).count();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ChildrenCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The film, made once and kept between runs (encoding 1080p takes a while).
std::string MakeFilm()
{
    std::string folder = (std::filesystem::temp_directory_path()
        / ("vembacast-bench-quality-" + std::to_string(getuid())))
                             .string();
    std::filesystem::create_directories(folder);
    std::string path = folder + "/film-1080p.mkv";
    if (std::filesystem::exists(path))
        return path;
    std::string duration = std::to_string(kFilmSeconds);
    std::string making = path + ".making.mkv";
    if (!RunTool("ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate="
            + std::to_string(kFilmRate) + ":duration=" + duration
            + " -f lavfi -i sine=frequency=440:duration=" + duration
            + " -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -x264-params "
              "keyint=120:min-keyint=120:scenecut=0 -c:a aac -b:a 128k -shortest "
            + ShellQuote(making)))
        return {};
    std::filesystem::rename(making, path);
    return path;
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

// Seconds until the tool has completed its third 5 s segment of the film from start
// with the given codec options.
double ToolThirdSegment(
    const std::string& film, int start, const std::string& codecs, const std::string& work)
{
    std::string folder = work + "/tool";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string seek = start > 0 ? " -ss " + std::to_string(start) : "";
    auto started = Steady::now();
    pid_t pid = Spawn("exec ffmpeg -nostdin -y -loglevel error" + seek + " -i " + ShellQuote(film)
        + codecs + " -f segment -segment_time 5 -segment_format mpegts -segment_list "
        + ShellQuote(folder + "/list.csv") + " -segment_list_type csv "
        + ShellQuote(folder + "/out%03d.ts"));
    double seconds = -1;
    while (Since(started) < 300) {
        if (CountLines(folder + "/list.csv") >= 3) {
            seconds = Since(started);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return seconds;
}

// A browser's stream of the film: its client id and the variant playlist's
// segment durations.
struct Stream {
    std::string id;
    std::vector<double> durations;
    std::vector<double> starts; // play time at which each segment begins
};

std::string BrowserPlay(const LoopbackServer& server, const std::string& id)
{
    HttpReply reply = server.Get("/play?id=" + id
        + "&path=" + UrlEncode(std::string("/Movies/") + kFilm)
        + "&width=1920&height=1080&ostype=web&conntype=WIFI&playtime=00:02:00&variants=browser");
    return PlistValue(reply.body, "result") == "0" ? PlistValue(reply.body, "message").value_or("")
                                                   : std::string();
}

bool ParseVariant(const std::string& text, Stream& stream)
{
    std::istringstream lines(text);
    double at = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("#EXTINF:"))
            continue;
        double duration = std::atof(line.c_str() + 8);
        stream.starts.push_back(at);
        stream.durations.push_back(duration);
        at += duration;
    }
    return !stream.durations.empty();
}

std::string SegmentPath(const Stream& stream, const std::string& variant, int n)
{
    std::string number = variant.substr(5, variant.find('.') - 5);
    return "/file/" + stream.id + "/vemba-" + number + "-" + std::to_string(n) + ".ts";
}

// Plays the film in a browser's way up to the variant playlist; the time that took
// is left in seconds. False when something failed.
bool OpenVariant(
    const LoopbackServer& server, const std::string& variant, Stream& stream, double* seconds)
{
    stream.id = server.Connect();
    std::string master = BrowserPlay(server, stream.id);
    if (master.empty())
        return false;
    HttpReply masterReply = server.Get(LoopbackServer::PathOf(master));
    if (masterReply.body.find(variant) == std::string::npos) {
        std::fprintf(
            stderr, "the master offers no %s:\n%s\n", variant.c_str(), masterReply.body.c_str());
        return false;
    }
    auto started = Steady::now();
    HttpReply playlist = server.Get("/list/" + stream.id + "/" + variant);
    if (seconds)
        *seconds = Since(started);
    return playlist.status == 200 && ParseVariant(playlist.body, stream);
}

int SegmentAt(const Stream& stream, double seconds)
{
    int n = 1;
    while (n < static_cast<int>(stream.starts.size()) && stream.starts[n] <= seconds + 1e-6)
        ++n;
    return n;
}

struct StartAndSeek {
    double start = -1;
    double seek = -1;
};

// (a), (b), (e): the first segment after the variant playlist, then the segment at
// 60 s out of sequence.
StartAndSeek MeasureStartAndSeek(const LoopbackServer& server, const std::string& variant)
{
    StartAndSeek times;
    Stream stream;
    double playlistSeconds = 0;
    if (!OpenVariant(server, variant, stream, &playlistSeconds))
        return times;
    auto started = Steady::now();
    if (server.Get(SegmentPath(stream, variant, 1)).status == 200)
        times.start = playlistSeconds + Since(started);
    started = Steady::now();
    if (server.Get(SegmentPath(stream, variant, SegmentAt(stream, 60))).status == 200)
        times.seek = Since(started);
    server.Get("/playEnd?id=" + stream.id);
    return times;
}

struct WholePlay {
    double wall = -1; // from the first segment to the last
    double worstLate = 1e9; // seconds behind play time, worst segment (≤ 0 keeps up)
    double cpu = -1; // the engine's CPU seconds
    std::string joined; // the segments, one after the other
};

// (c), (d): every segment of the variant in sequence, as fast as they come.
WholePlay PlayWhole(const LoopbackServer& server, const std::string& variant, bool keep)
{
    WholePlay play;
    double cpuBefore = ChildrenCpuSeconds();
    Stream stream;
    if (!OpenVariant(server, variant, stream, nullptr))
        return play;
    Steady::time_point first;
    play.worstLate = -1e9;
    for (size_t n = 1; n <= stream.durations.size(); ++n) {
        HttpReply segment = server.Get(SegmentPath(stream, variant, static_cast<int>(n)));
        if (segment.status != 200)
            return play;
        if (n == 1)
            first = Steady::now(); // the first segment sets the clock
        else
            play.worstLate = std::max(play.worstLate, Since(first) - stream.starts[n - 1]);
        if (keep)
            play.joined += segment.body;
    }
    play.wall = Since(first);
    server.Get("/playEnd?id=" + stream.id); // the engine is stopped and reaped
    play.cpu = ChildrenCpuSeconds() - cpuBefore;
    return play;
}

// SSIM ("All:" of the ssim filter) of a stream's pictures against the film's, picture
// by picture: the stream's from its picture shift (the film's from -shift when it is
// negative), count of them (0: to the end).
double SsimShifted(const std::string& stream, const std::string& film, int shift, int count)
{
    auto chain = [&](int skip) {
        std::string trim = "trim=start_frame=" + std::to_string(skip);
        if (count > 0)
            trim += ":end_frame=" + std::to_string(skip + count);
        return trim + ",setpts=N/(" + std::to_string(kFilmRate) + "*TB)";
    };
    std::string output;
    RunTool("ffmpeg -nostdin -loglevel info -i " + ShellQuote(stream) + " -i " + ShellQuote(film)
            + " -lavfi \"[0:v]" + chain(std::max(shift, 0)) + "[a];[1:v]"
            + chain(std::max(-shift, 0)) + "[b];[a][b]ssim\" -f null - 2>&1",
        &output);
    size_t at = output.rfind("All:");
    return at == std::string::npos ? -1 : std::atof(output.c_str() + at + 4);
}

// SSIM of a stream against the film. Pictures are paired by their order, not their
// timestamps: the engine puts pictures on a constant grid from the film's start, the
// tool keeps the film's own times, and where the film's first picture comes a little
// after its start the two differ by a picture. Each stream is paired from the shift
// (up to two pictures either way) at which its first two seconds match best.
double Ssim(const std::string& stream, const std::string& film)
{
    int best = 0;
    double bestSsim = -1;
    for (int shift = -2; shift <= 2; ++shift) {
        double ssim = SsimShifted(stream, film, shift, 2 * kFilmRate);
        if (ssim > bestSsim) {
            bestSsim = ssim;
            best = shift;
        }
    }
    if (best != 0)
        std::printf("    (%s paired %d picture%s %s)\n",
            std::filesystem::path(stream).filename().c_str(), std::abs(best),
            std::abs(best) == 1 ? "" : "s", best > 0 ? "into it" : "into the film");
    return SsimShifted(stream, film, best, 0);
}

// A player: paces its requests to keep 10 s of the film ahead; true when every
// segment arrived before its play time (counted from the first segment).
bool PlayLikeAPlayer(const LoopbackServer& server, int mediaSeconds)
{
    Stream stream;
    if (!OpenVariant(server, kOriginal, stream, nullptr))
        return false;
    constexpr double kBuffer = 10;
    Steady::time_point first;
    bool inTime = true;
    for (size_t n = 1; n <= stream.durations.size() && stream.starts[n - 1] < mediaSeconds; ++n) {
        if (n > 1) {
            auto due = first
                + std::chrono::duration_cast<Steady::duration>(
                    std::chrono::duration<double>(std::max(0.0, stream.starts[n - 1] - kBuffer)));
            std::this_thread::sleep_until(due);
        }
        if (server.Get(SegmentPath(stream, kOriginal, static_cast<int>(n))).status != 200)
            return false;
        if (n == 1)
            first = Steady::now();
        else if (Since(first) > stream.starts[n - 1])
            inTime = false;
    }
    server.Get("/playEnd?id=" + stream.id);
    return inTime;
}

int ClientsInTime(const LoopbackServer& server, int clients, int mediaSeconds)
{
    std::atomic<int> inTime { 0 };
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&] {
            if (PlayLikeAPlayer(server, mediaSeconds))
                ++inTime;
        });
    for (std::thread& thread : threads)
        thread.join();
    return inTime;
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--clients")) {
            options.clients.clear();
            std::istringstream list(argv[i + 1]);
            for (std::string count; std::getline(list, count, ',');)
                options.clients.push_back(std::max(1, std::atoi(count.c_str())));
        } else if (!std::strcmp(argv[i], "--parts")) {
            options.parts.clear();
            std::istringstream list(argv[i + 1]);
            for (std::string part; std::getline(list, part, ',');)
                options.parts.push_back(part);
        } else if (!std::strcmp(argv[i], "--client-seconds")) {
            options.clientSeconds = std::clamp(std::atoi(argv[i + 1]), 15, kFilmSeconds);
        }
    }
    return options;
}

void Row(const char* what, double ours, double tool)
{
    std::printf("  %-44s %9.3f %9.3f %7.2f\n", what, ours, tool, tool > 0 ? ours / tool : -1);
    std::fflush(stdout);
}

// (a), (b), (e): starts and seeks of the direct stream and the HD 1080p variant.
void RunStarts(const LoopbackServer& server, const std::string& film, const std::string& work)
{
    std::printf(
        "\n%-46s %9s %9s %7s\n", "medians of 3 alternating runs", "server", "tool", "ratio");
    std::vector<double> starts, seeks, toolStarts, toolSeeks, hdStarts, hdSeeks, toolHdStarts,
        toolHdSeeks;
    for (int run = 0; run < 3; ++run) {
        StartAndSeek direct = MeasureStartAndSeek(server, kOriginal);
        starts.push_back(direct.start);
        seeks.push_back(direct.seek);
        toolStarts.push_back(ToolThirdSegment(film, 0, " -c copy", work));
        toolSeeks.push_back(ToolThirdSegment(film, 60, " -c copy", work));
        StartAndSeek hd = MeasureStartAndSeek(server, kHd1080);
        hdStarts.push_back(hd.start);
        hdSeeks.push_back(hd.seek);
        toolHdStarts.push_back(ToolThirdSegment(film, 0, kToolHd, work));
        toolHdSeeks.push_back(ToolThirdSegment(film, 60, kToolHd, work));
    }
    Row("(a) direct stream, first segment (s)", Median(starts), Median(toolStarts));
    Row("(b) direct stream, seek to 60 s (s)", Median(seeks), Median(toolSeeks));
    Row("(e) HD 1080p, third segment from 0 s (s)", Median(hdStarts), Median(toolHdStarts));
    Row("(e) HD 1080p, third segment from 60 s (s)", Median(hdSeeks), Median(toolHdSeeks));
}

// (c), (d): the whole film as a direct stream and in HD 1080p, and the picture's SSIM.
void RunWholeFilm(const LoopbackServer& server, const std::string& film, const std::string& work)
{
    std::vector<double> copyCpu, hdCpu, hdWall, toolWall;
    double worstLate = -1e9;
    std::string ours = work + "/hd-ours.ts";
    std::string theirs = work + "/hd-tool.ts";
    for (int run = 0; run < 3; ++run) {
        copyCpu.push_back(PlayWhole(server, kOriginal, false).cpu);
        WholePlay hd = PlayWhole(server, kHd1080, run == 0);
        hdCpu.push_back(hd.cpu);
        hdWall.push_back(hd.wall);
        worstLate = std::max(worstLate, hd.worstLate);
        if (run == 0)
            std::ofstream(ours, std::ios::binary) << hd.joined;
        auto started = Steady::now();
        RunTool("ffmpeg -nostdin -y -loglevel error -i " + ShellQuote(film) + kToolHd
            + " -f mpegts " + ShellQuote(theirs));
        toolWall.push_back(Since(started));
    }
    std::printf("\n(c) engine CPU for the whole film: direct stream %.2f s, HD 1080p %.1f s "
                "(%.4f of it)\n",
        Median(copyCpu), Median(hdCpu), Median(copyCpu) / Median(hdCpu));
    std::printf("(d) HD 1080p whole film: %.1f s for %d s of film (speed %.2f; the tool %.1f s, "
                "%.2f); worst segment %.2f s %s its play time\n",
        Median(hdWall), kFilmSeconds, kFilmSeconds / Median(hdWall), Median(toolWall),
        kFilmSeconds / Median(toolWall), std::fabs(worstLate), worstLate <= 0 ? "before" : "after");
    double ssimOurs = Ssim(ours, film);
    double ssimTool = Ssim(theirs, film);
    std::printf("    SSIM against the source: server %.4f, tool %.4f (difference %.4f)\n", ssimOurs,
        ssimTool, ssimTool - ssimOurs);
}

// (f): direct-stream players at once.
void RunClients(const LoopbackServer& server, const std::vector<int>& counts, int seconds)
{
    std::printf("\n(f) direct-stream players at once, %d s of film each, 10 s buffer\n", seconds);
    for (int clients : counts) {
        int inTime = ClientsInTime(server, clients, seconds);
        std::printf("  %3d players: %3d kept real time\n", clients, inTime);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options options = ParseOptions(argc, argv);
    setenv("VEMBACAST_SHUTDOWN_COMMAND", "true", 1);
    std::printf("making the 1080p film (%d s), once per machine...\n", kFilmSeconds);
    std::fflush(stdout);
    std::string film = MakeFilm();
    if (film.empty())
        return 1;
    LoopbackServer server(SettingList { { "MaxLIveClient", "200" } });
    if (!server.Running())
        return 1;
    std::string work = server.Root() + "/work";
    std::filesystem::create_directories(work);
    std::filesystem::create_hard_link(film, server.MediaFolder() + "/" + kFilm);

    // A first play starts the key frame index pass; the direct stream is offered
    // once it is done.
    vembatest::StepLog<KeyframeIndexer::State> passes;
    server.Server().Keyframes().SetPassObserver(
        [&](const std::string&, KeyframeIndexer::State state) { passes.Add(state); });
    BrowserPlay(server, server.Connect());
    if (!passes.WaitFor(KeyframeIndexer::State::Ready)) {
        std::fprintf(stderr, "the film was not indexed\n");
        return 1;
    }

    if (options.Runs("start"))
        RunStarts(server, film, work);
    if (options.Runs("whole"))
        RunWholeFilm(server, film, work);
    if (options.Runs("clients"))
        RunClients(server, options.clients, options.clientSeconds);
    server.Stop();
    return 0;
}
