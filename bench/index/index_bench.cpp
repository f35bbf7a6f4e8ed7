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
// Usage: bench_index [--files N] [--repeat N] (defaults 10000, 5). Not run in CI.

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
#include <vector>

namespace fs = std::filesystem;

namespace {

using Steady = std::chrono::steady_clock;

double MsSince(Steady::time_point start)
{
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

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
double FindWalk(const std::string& root, bool stat = false)
{
    const auto start = Steady::now();
    const std::string command
        = "find '" + root + "' -type f" + (stat ? " -printf '%s %T@\\n'" : "") + " > /dev/null";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "find failed\n");
    return MsSince(start);
}

// Starts an index over the tree and times it until the share is written.
double Build(const std::string& root, const std::string& database, size_t& indexed)
{
    SharedFolderList shares;
    shares.AddSharedFolder(root, "Movies");
    SteadyClock clock;
    vembatest::IndexNoticeLog log;
    LibraryIndex index(database, shares, clock);
    index.SetObserver(log.Observer());
    const auto start = Steady::now();
    index.Start();
    if (!log.WaitFor(IndexNotice::Kind::ShareIndexed, "Movies", "", 0, std::chrono::seconds(600)))
        std::fprintf(stderr, "the index did not finish\n");
    const double ms = MsSince(start);
    indexed = index.Store().Count().value_or(0);
    return ms;
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
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::max(1, std::atoi(argv[++i]));
    }

    LoopbackOptions options;
    options.start = false;
    LoopbackServer server(std::move(options));
    const std::string root = server.MediaFolder();
    std::printf("making %d files in %d folders ...\n", files, (files + 99) / 100);
    MakeTree(root, files);
    const std::string database = server.Root() + "/bench-index.sqlite";

    FindWalk(root); // the tree's folders in the page cache for everyone
    std::vector<double> finds, findStats, fresh, again;
    size_t indexed = 0;
    for (int r = 0; r < repeat; ++r) {
        finds.push_back(FindWalk(root));
        findStats.push_back(FindWalk(root, true));
        RemoveDatabase(database);
        fresh.push_back(Build(root, database, indexed));
        again.push_back(Build(root, database, indexed));
    }
    const double find = Percentile(finds, 0.5);
    std::printf("\nbuilding the index of %zu files (median of %d rounds)\n", indexed, repeat);
    std::printf("  find -type f on the same tree    %8.1f ms\n", find);
    std::printf("  the same with sizes and times    %8.1f ms   (find -printf '%%s %%T@')\n",
        Percentile(findStats, 0.5));
    std::printf("  first build (empty database)     %8.1f ms   %.2f x find\n",
        Percentile(fresh, 0.5), Percentile(fresh, 0.5) / find);
    std::printf("  start with the database there    %8.1f ms   %.2f x find\n",
        Percentile(again, 0.5), Percentile(again, 0.5) / find);

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
