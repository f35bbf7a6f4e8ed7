// bench_index: the library index over a tree of N video files (default 10,000, in 100
// folders, names in Korean and English), measured in one run beside a reference:
//
//   (a) build: a fresh index walks the tree and writes it (an empty database: the first
//       start), and again with the database of an earlier start (the usual start, where
//       nothing changed); beside `find DIR -type f` walking the same tree. The rounds
//       alternate and the medians are printed. The index reads no media properties
//       while it builds (the answers look them up in the media cache), so the tree is
//       made of empty files.
//   (b) search, warm: queries of one, two and three or more characters, Korean and
//       Latin, in the index's store and over HTTP ("/api/v1/search", 50 results a page,
//       each checked against its share); median and 95th percentile in milliseconds.
//
// Usage: bench_index [--files N] [--repeat N] [--tree DIR --cold COMMAND] (defaults 10000, 5).
// Cold: with --tree the files are made in DIR (when it is empty) instead of the server's
// media folder, and with --cold the shell COMMAND runs before every timed walk, find's
// and the index's; a command that remounts DIR's file system empties the caches of that
// tree alone (the search part is then left out). Not run in CI.

#include "library/library_index.h"
#include "library/name_search.h"
#include "library/shared_folders.h"
#include "support/index_notices.h"
#include "support/loopback_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Steady = std::chrono::steady_clock;

double MsSince(Steady::time_point start)
{
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

// Processor time (user and system) used so far by this process or its waited-for
// children, in milliseconds: on a busy machine it tells the work apart from the waits.
double CpuMs(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Timing {
    std::vector<double> wall, cpu;
};

double Percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

const char* const kWords[] = { "사랑", "겨울", "왕국", "바다", "하늘", "기생충", "Matrix", "Star",
    "River", "Night", "Summer", "Holiday", "Dragon", "Coffee", "봄날", "불시착" };
const char* const kExtensions[] = { "mkv", "mp4", "avi", "ts" };

void MakeTree(const std::string& root, int files)
{
    const int perFolder = 100;
    for (int i = 0; i < files; ++i) {
        const std::string folder = root + "/Folder " + std::to_string(i / perFolder);
        if (i % perFolder == 0)
            fs::create_directories(folder);
        const size_t words = sizeof kWords / sizeof *kWords;
        const std::string name = std::string(kWords[i % words]) + " " + kWords[(i / 7) % words]
            + " " + std::to_string(i) + "." + kExtensions[i % 4];
        std::ofstream(folder + "/" + name);
    }
}

// find's walk: names only (-type f reads the kind from the folder), or with each file's
// size and modification time, which the index keeps and so must look up.
// Run before every timed walk when set (--cold).
std::string g_coldCommand;

void MakeCold()
{
    if (!g_coldCommand.empty() && std::system(g_coldCommand.c_str()) != 0)
        std::fprintf(stderr, "the cold command failed\n");
}

void FindWalk(const std::string& root, Timing& timing, bool stat = false)
{
    MakeCold();
    const auto start = Steady::now();
    const double cpu = CpuMs(RUSAGE_CHILDREN);
    const std::string command
        = "find '" + root + "' -type f" + (stat ? " -printf '%s %T@\\n'" : "") + " > /dev/null";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "find failed\n");
    timing.wall.push_back(MsSince(start));
    timing.cpu.push_back(CpuMs(RUSAGE_CHILDREN) - cpu);
}

// Starts an index over the tree and times it until the share is written.
void Build(const std::string& root, const std::string& database, Timing& timing, size_t& indexed)
{
    SharedFolderList shares;
    shares.AddSharedFolder(root, "Movies");
    SteadyClock clock;
    vembatest::IndexNoticeLog log;
    LibraryIndex index(database, shares, clock);
    index.SetObserver(log.Observer());
    MakeCold();
    const auto start = Steady::now();
    const double cpu = CpuMs(RUSAGE_SELF);
    index.Start();
    if (!log.WaitFor(IndexNotice::Kind::ShareIndexed, "Movies", "", 0, std::chrono::seconds(600)))
        std::fprintf(stderr, "the index did not finish\n");
    timing.wall.push_back(MsSince(start));
    timing.cpu.push_back(CpuMs(RUSAGE_SELF) - cpu);
    indexed = index.Store().Count().value_or(0);
}

void RemoveDatabase(const std::string& database)
{
    for (const char* suffix : { "", "-wal", "-shm" })
        fs::remove(database + suffix);
}

struct QueryTimes {
    std::string query;
    size_t results = 0;
    std::vector<double> store;
    std::vector<double> http;
};

} // namespace

int main(int argc, char** argv)
{
    int files = 10000;
    int repeat = 5;
    std::string tree;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--tree") == 0)
            tree = argv[++i];
        else if (std::strcmp(argv[i], "--cold") == 0)
            g_coldCommand = argv[++i];
    }

    LoopbackOptions options;
    options.start = false;
    LoopbackServer server(std::move(options));
    const std::string root = tree.empty() ? server.MediaFolder() : tree;
    if (fs::is_empty(root)) {
        std::printf("making %d files in %d folders ...\n", files, (files + 99) / 100);
        MakeTree(root, files);
    }
    const std::string database = server.Root() + "/bench-index.sqlite";

    Timing warmup;
    FindWalk(root, warmup); // the tree's folders in the page cache for everyone
    Timing finds, findStats, fresh, again;
    size_t indexed = 0;
    for (int r = 0; r < repeat; ++r) {
        FindWalk(root, finds);
        FindWalk(root, findStats, true);
        RemoveDatabase(database);
        Build(root, database, fresh, indexed);
        Build(root, database, again, indexed);
    }
    const double find = Percentile(finds.wall, 0.5);
    const double findCpu = Percentile(finds.cpu, 0.5);
    std::printf("\nbuilding the index of %zu files (median of %d rounds; processor time beside, "
                "which a busy machine inflates less)\n",
        indexed, repeat);
    std::printf("  %-33s %8s %7s %9s %7s\n", "", "wall ms", "x find", "cpu ms", "x find");
    auto row = [&](const char* what, const Timing& timing) {
        const double wall = Percentile(timing.wall, 0.5);
        const double cpu = Percentile(timing.cpu, 0.5);
        std::printf(
            "  %-33s %8.1f %7.2f %9.1f %7.2f\n", what, wall, wall / find, cpu, cpu / findCpu);
    };
    row("find -type f on the same tree", finds);
    row("find -printf '%s %T@' (stats)", findStats);
    row("first build (empty database)", fresh);
    row("start with the database there", again);
    if (!g_coldCommand.empty())
        return 0; // the caches were emptied before each walk: no warm search to time

    vembatest::IndexNoticeLog log;
    server.Server().Index().SetObserver(log.Observer());
    if (!server.Start()
        || !log.WaitFor(
            IndexNotice::Kind::ShareIndexed, "Movies", "", 0, std::chrono::seconds(600))) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }
    std::vector<QueryTimes> queries;
    for (const char* q :
        { "a", "사랑", "왕국 겨울", "Matrix", "기생충", "Dragon 99", "nothing-here" })
        queries.push_back({ q, 0, {}, {} });
    const int rounds = 200;
    for (int r = 0; r < rounds + 5; ++r) {
        for (QueryTimes& query : queries) {
            SearchQueryError error;
            const SearchWords words = *ParseSearchQuery(query.query, error);
            bool more = false;
            auto start = Steady::now();
            const auto found = server.Server().Index().Store().Search(words, 50, 0, more);
            const double storeMs = MsSince(start);
            start = Steady::now();
            const HttpReply reply = server.Get("/api/v1/search?q=" + UrlEncode(query.query));
            const double httpMs = MsSince(start);
            if (reply.status != 200)
                std::fprintf(stderr, "search failed: %d\n", reply.status);
            if (r < 5)
                continue; // warming up: pages, statements, the media cache's misses
            query.results = found ? found->size() : 0;
            query.store.push_back(storeMs);
            query.http.push_back(httpMs);
        }
    }
    std::printf("\nsearch over %zu indexed files, warm, %d rounds (ms: median / 95th pct)\n",
        indexed, rounds);
    std::printf("  %-14s %8s %18s %18s\n", "query", "results", "store", "HTTP (50 a page)");
    for (const QueryTimes& query : queries)
        std::printf("  %-14s %8zu %8.2f / %7.2f %8.2f / %7.2f\n",
            ("\"" + query.query + "\"").c_str(), query.results, Percentile(query.store, 0.5),
            Percentile(query.store, 0.95), Percentile(query.http, 0.5),
            Percentile(query.http, 0.95));
    return 0;
}
