// bench_convert: a 1080p 120 s source converted through "/convert" (the real
// server, queue and engine) beside the ffmpeg tool doing the same conversion
// (480x270, 24 fps, H.264 baseline-like options at the job's bitrate, AAC 128k,
// +faststart), in alternating runs. Prints wall times, their ratio, the SSIM of
// each output against the source scaled to the output, and whether moov precedes
// mdat.

#include "live_server_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using SteadyTime = std::chrono::steady_clock;

namespace {

bool MakeSource(const std::string& path)
{
    return RunTool(
        "ffmpeg -nostdin -y -loglevel error -f lavfi -i "
        "testsrc2=size=1920x1080:rate=24:duration=120"
        " -f lavfi -i sine=frequency=440:duration=120 -c:v libx264 -preset veryfast -crf 20"
        " -pix_fmt yuv420p -c:a aac -b:a 128k -shortest "
        + ShellQuote(path));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool MoovBeforeMdat(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(4 << 20, '\0');
    in.read(head.data(), head.size());
    head.resize(size_t(in.gcount()));
    size_t moov = head.find("moov");
    return moov != std::string::npos && moov < head.find("mdat");
}

double Ssim(const std::string& output, const std::string& source)
{
    std::string text;
    RunTool("ffmpeg -nostdin -i " + ShellQuote(output) + " -i " + ShellQuote(source)
            + " -lavfi \"[1:v]scale=480:270,fps=24[ref];[0:v][ref]ssim\" -f null - 2>&1 | grep -o "
              "'All:[0-9.]*'",
        &text);
    size_t colon = text.find(':');
    return colon == std::string::npos ? -1 : std::atof(text.c_str() + colon + 1);
}

// One conversion through the server; seconds, or -1.
double ServerRun(LoopbackServer& server, const std::string& final)
{
    fs::remove(final);
    auto start = SteadyTime::now();
    HttpReply reply = server.Get("/convert?path=/Movies/source.mp4&device=0&option=2");
    if (PlistValue(reply.body, "result") != "0")
        return -1;
    while (!fs::exists(final)) {
        if (SteadyTime::now() - start > std::chrono::minutes(20))
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    double seconds = std::chrono::duration<double>(SteadyTime::now() - start).count();
    server.Get("/convertDeleteCompleteList");
    return seconds;
}

double ToolRun(const std::string& source, const std::string& output)
{
    auto start = SteadyTime::now();
    bool ok = RunTool("ffmpeg -nostdin -y -loglevel error -i " + ShellQuote(source)
        + " -vf scale=480:270 -r 24 -c:v libx264 -profile:v baseline -b:v 1200k -refs 1 -bf 0"
          " -me_method dia -subq 0 -trellis 0 -x264-params weightp=0:mbtree=0:mixed-refs=0:8x8dct=0"
          " -c:a aac -b:a 128k -movflags +faststart -f mp4 "
        + ShellQuote(output));
    return ok ? std::chrono::duration<double>(SteadyTime::now() - start).count() : -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    setenv("VEMBACAST_SHUTDOWN_COMMAND", "true", 1);
    if (!EnsureSharedMedia("bench-1080p-120s.mp4", MakeSource)) {
        std::fprintf(stderr, "cannot make the source\n");
        return 1;
    }
    LoopbackServer server; // its conversion queue runs from the start
    PutMedia(server, "bench-1080p-120s.mp4", "source.mp4");
    const std::string source = server.MediaFolder() + "/source.mp4";
    const std::string final = server.MediaFolder() + "/source-vembacast.m4v";
    const std::string reference = server.MediaFolder() + "/reference.mp4";
    std::vector<double> ours, tools;
    for (int round = 0; round < rounds; ++round) {
        // Alternate which runs first, so a busy neighbour weighs on both alike.
        if (round % 2 == 0) {
            ours.push_back(ServerRun(server, final));
            tools.push_back(ToolRun(source, reference));
        } else {
            tools.push_back(ToolRun(source, reference));
            ours.push_back(ServerRun(server, final));
        }
        std::printf(
            "round %d: server %.2f s, ffmpeg %.2f s\n", round + 1, ours.back(), tools.back());
        std::fflush(stdout);
    }
    const double ourTime = Median(ours), toolTime = Median(tools);
    std::printf("wall time (median): server %.2f s, ffmpeg %.2f s, ratio %.3f\n", ourTime, toolTime,
        toolTime > 0 ? ourTime / toolTime : 0.0);
    std::printf("SSIM against the scaled source: server %.4f, ffmpeg %.4f\n", Ssim(final, source),
        Ssim(reference, source));
    std::printf("moov before mdat: server %s, ffmpeg %s\n", MoovBeforeMdat(final) ? "yes" : "no",
        MoovBeforeMdat(reference) ? "yes" : "no");
    return 0;
}
