// bench_library: how long "/getList" takes for a folder of N generated short
// videos, measured over HTTP against the real server, beside the mediainfo tool
// reading the same files in the same run.
//
//   (a) cold: no thumbnail stored. The listing reads every file's properties,
//       queues N thumbnails and waits (at most about 10 s) for the pool; the
//       answer and the list file fetch are timed, then the time until every
//       thumbnail is stored.
//   (b) warm: the same folder again, every thumbnail stored.
//   (c) mediainfo: one `mediainfo` process reading all N files, and N processes
//       reading one file each.
//
// Usage: bench_library [--files N] (default 200). Not run in CI.

#include "library_server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timed {
    double seconds = 0;
    size_t entries = 0;
};

size_t CountEntries(const std::string& document)
{
    size_t n = 0;
    for (size_t at = document.find("<key>playTime</key>"); at != std::string::npos;
         at = document.find("<key>playTime</key>", at + 1))
        ++n;
    return n;
}

Timed ListOnce(const LoopbackServer& server)
{
    const auto start = Clock::now();
    const std::string document = server.FetchListing("/Movies/Clips");
    return { Since(start), CountEntries(document) };
}

size_t StoredThumbnails(const LoopbackServer& server)
{
    size_t n = 0;
    std::error_code error;
    for (const auto& entry :
        fs::directory_iterator(server.ServicesFolder() + "/Movies/Clips", error))
        n += entry.path().string().ends_with("_s.jpg") ? 1 : 0;
    return n;
}

double RunShell(const std::string& command)
{
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return Since(start);
}

} // namespace

int main(int argc, char** argv)
{
    int files = 200;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::max(1, std::atoi(argv[++i]));

    LoopbackServer server;
    if (!server.Running()) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }
    const std::string folder = server.MediaFolder() + "/Clips";
    fs::create_directories(folder);
    std::printf("making %d clips of 3 s, 320x240, H.264 + AAC ...\n", files);
    if (!MakeVideo(folder + "/clip0000.mp4", 3, 320, 240, "aac"))
        return 1;
    for (int i = 1; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/clip%04d.mp4", i);
        fs::copy_file(folder + "/clip0000.mp4", folder + name);
    }

    const Timed cold = ListOnce(server);
    const size_t storedAtAnswer = StoredThumbnails(server);
    const auto waitStart = Clock::now();
    while (StoredThumbnails(server) < size_t(files) && Since(waitStart) < 600)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double allThumbnails = cold.seconds + Since(waitStart);
    const Timed warm = ListOnce(server);
    const Timed warmAgain = ListOnce(server);

    const std::string quoted = "'" + folder + "'";
    const double mediainfoAll = RunShell("mediainfo " + quoted + "/*.mp4 > /dev/null");
    const double mediainfoEach
        = RunShell("for f in " + quoted + "/*.mp4; do mediainfo \"$f\" > /dev/null; done");

    std::printf("\nlisting %d videos over HTTP (answer + list file fetch)\n", files);
    std::printf(
        "  cold (no thumbnails stored)   %7.2f s  %zu entries, %zu thumbnails stored at answer\n",
        cold.seconds, cold.entries, storedAtAnswer);
    std::printf("  all thumbnails stored after   %7.2f s\n", allThumbnails);
    std::printf(
        "  warm (all stored)             %7.2f s  %zu entries\n", warm.seconds, warm.entries);
    std::printf("  warm again                    %7.2f s\n", warmAgain.seconds);
    std::printf("reference: mediainfo tool on the same %d files\n", files);
    std::printf("  one process, all files        %7.2f s\n", mediainfoAll);
    std::printf("  one process per file          %7.2f s\n", mediainfoEach);
    return 0;
}
