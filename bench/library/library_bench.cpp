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
// Each round starts from nothing stored (no thumbnails, no media properties
// cache) and the rounds alternate with the mediainfo runs; medians are printed.
//
// Usage: bench_library [--files N] [--repeat N] (defaults 200, 3). Not run in CI.

#include "library/media_properties.h"
#include "library/media_properties_cache.h"
#include "library_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Forgets every stored thumbnail and cached property, so the next listing is cold.
void ForgetEverything(LoopbackServer& server)
{
    std::error_code error;
    fs::remove_all(server.ServicesFolder() + "/Movies", error);
    MediaPropertiesReader& media = server.Server().Media();
    const std::string database = media.Cache() ? media.Cache()->DatabaseFile() : std::string();
    if (database.empty())
        return;
    media.SetCacheFile({}); // closes the database before its files go
    for (const char* suffix : { "", "-wal", "-shm" })
        fs::remove(database + suffix, error);
    media.SetCacheFile(database);
}

struct Round {
    Timed cold;
    size_t storedAtAnswer = 0;
    double allThumbnails = 0;
    Timed warm;
    double mediainfoAll = 0;
    double mediainfoEach = 0;
};

Round RunRound(LoopbackServer& server, const std::string& folder, int files, bool each)
{
    Round round;
    ForgetEverything(server);
    round.cold = ListOnce(server);
    round.storedAtAnswer = StoredThumbnails(server);
    const auto waitStart = Clock::now();
    while (StoredThumbnails(server) < size_t(files) && Since(waitStart) < 600)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    round.allThumbnails = round.cold.seconds + Since(waitStart);
    round.warm = ListOnce(server);
    const std::string quoted = "'" + folder + "'";
    round.mediainfoAll = RunShell("mediainfo " + quoted + "/*.mp4 > /dev/null");
    if (each)
        round.mediainfoEach
            = RunShell("for f in " + quoted + "/*.mp4; do mediainfo \"$f\" > /dev/null; done");
    return round;
}

template <typename Field> double MedianOf(const std::vector<Round>& rounds, Field field)
{
    std::vector<double> values;
    for (const Round& round : rounds)
        values.push_back(field(round));
    return Median(values);
}

} // namespace

int main(int argc, char** argv)
{
    int files = 200;
    int repeat = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::max(1, std::atoi(argv[++i]));
    }

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

    std::vector<Round> rounds;
    for (int r = 0; r < repeat; ++r)
        rounds.push_back(RunRound(server, folder, files, r == 0));
    const Timed warmAgain = ListOnce(server);
    const double cold = MedianOf(rounds, [](const Round& x) { return x.cold.seconds; });
    const double warm = MedianOf(rounds, [](const Round& x) { return x.warm.seconds; });
    const double all = MedianOf(rounds, [](const Round& x) { return x.allThumbnails; });
    const double mediainfoAll = MedianOf(rounds, [](const Round& x) { return x.mediainfoAll; });

    std::printf("\nlisting %d videos over HTTP (answer + list file fetch), median of %d rounds\n",
        files, repeat);
    std::printf(
        "  cold (nothing stored)         %7.3f s  %zu entries, %zu thumbnails stored at answer\n",
        cold, rounds[0].cold.entries, rounds[0].storedAtAnswer);
    std::printf("  all thumbnails stored after   %7.3f s\n", all);
    std::printf(
        "  warm (all stored)             %7.3f s  %zu entries\n", warm, rounds[0].warm.entries);
    std::printf("  warm again                    %7.3f s  %zu entries\n", warmAgain.seconds,
        warmAgain.entries);
    std::printf("reference: mediainfo tool on the same %d files\n", files);
    std::printf("  one process, all files        %7.3f s\n", mediainfoAll);
    std::printf("  one process per file          %7.3f s (first round)\n", rounds[0].mediainfoEach);
    std::printf(
        "warm listing / one mediainfo process: %.3f\n", mediainfoAll > 0 ? warm / mediainfoAll : 0);
    return 0;
}
