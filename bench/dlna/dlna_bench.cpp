// bench_dlna: the television device's browse of a folder of N videos (one tiny clip
// hard-linked N times under different names, so every name is read once), in one
// run beside two references over the same folder:
//
//   (a) new folder: the folder is made while the server runs; the time of the first
//       Browse of its first 50 items (nothing of it cached), and of paging through
//       all N in pages of 50 (each file's properties read once, then cached);
//   (b) warm: the first 50 items again (median of R browses);
//   (c) references: the phone's listing of the same folder (every entry, warm) and
//       a bare directory read with a stat per entry.
//
// Browses go straight to the ContentDirectory code (no SOAP), so the figures are
// the server's own work. Usage: bench_dlna [--files N] [--repeat R] (2000, 20).

#include "dlna/content_directory.h"
#include "dlna/dlna_context.h"
#include "dlna/object_ids.h"
#include "library/folder_listing.h"
#include "server/library/media_samples.h"
#include "support/test_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using BenchClock = std::chrono::steady_clock;

double MsSince(BenchClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

BrowseAnswer Page(DlnaContext& server, const std::string& id, uint32_t start, uint32_t count)
{
    BrowseRequest request { id, "BrowseDirectChildren", "*", start, count, "",
        "http://192.168.1.5:47002", "Bench" };
    return server.BrowseShares(request);
}

size_t BareDirectoryRead(const std::string& folder)
{
    size_t entries = 0;
    DIR* dir = opendir(folder.c_str());
    while (dir) {
        const dirent* item = readdir(dir);
        if (!item)
            break;
        struct stat info { };
        if (lstat((folder + "/" + item->d_name).c_str(), &info) == 0)
            ++entries;
    }
    if (dir)
        closedir(dir);
    return entries;
}

} // namespace

int main(int argc, char** argv)
{
    int files = 2000;
    int repeat = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::max(50, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::max(1, std::atoi(argv[i + 1]));
    }
    vembatest::TestDataFolder data("benchdlna");
    const std::string share = data.Root() + "/share";
    fs::create_directories(share);
    const std::string clip = data.Root() + "/clip.mp4";
    if (!MakeClip(clip, ClipRecipe().Seconds(1))) {
        std::fprintf(stderr, "bench_dlna: ffmpeg could not make the clip\n");
        return 1;
    }
    DlnaContext server(data.Parts(), RemoteParts {});
    server.SharedFolders().AddSharedFolder(share, "Movies");

    // (a) A new folder appears in the share.
    const auto made = BenchClock::now();
    const std::string folder = share + "/New";
    fs::create_directories(folder);
    for (int i = 0; i < files; ++i) {
        const std::string name = folder + "/clip " + std::to_string(i) + ".mp4";
        if (::link(clip.c_str(), name.c_str()) != 0)
            fs::copy_file(clip, name);
    }
    const double makeMs = MsSince(made);
    const std::string id = MakeObjectId("Movies/New");
    auto started = BenchClock::now();
    BrowseAnswer first = Page(server, id, 0, 50);
    const double firstMs = MsSince(started);
    if (first.error != 0 || first.totalMatches != static_cast<uint32_t>(files)) {
        std::fprintf(
            stderr, "bench_dlna: browse failed (%d, %u)\n", first.error, first.totalMatches);
        return 1;
    }
    started = BenchClock::now();
    uint32_t seen = 0;
    for (uint32_t start = 0; start < static_cast<uint32_t>(files); start += 50)
        seen += Page(server, id, start, 50).numberReturned;
    const double allColdMs = MsSince(started);

    // (b) Warm, and (c) the references, alternating.
    std::vector<double> warm, listing, bare;
    const std::string services = data.ServicesFolder();
    for (int r = 0; r < repeat; ++r) {
        started = BenchClock::now();
        Page(server, id, 0, 50);
        warm.push_back(MsSince(started));
        started = BenchClock::now();
        BuildFolderListing(server.Media(), folder + "/", "/Movies/New", share, services);
        listing.push_back(MsSince(started));
        started = BenchClock::now();
        BareDirectoryRead(folder);
        bare.push_back(MsSince(started));
    }
    std::printf("bench_dlna: %d videos in one new folder (made in %.0f ms)\n", files, makeMs);
    std::printf("  new folder, first Browse of 50 items (cold) : %8.1f ms\n", firstMs);
    std::printf("  new folder, all %u items in pages of 50 (cold): %8.1f ms\n", seen, allColdMs);
    std::printf("  warm Browse of the first 50 items (median)   : %8.1f ms\n", Median(warm));
    std::printf(
        "  reference: phone listing of all %d (warm)   : %8.1f ms\n", files, Median(listing));
    std::printf("  reference: readdir + lstat of the folder     : %8.1f ms\n", Median(bare));
    return 0;
}
