#include "library/thumbnail_cache.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Picture {
    fs::path path;
    uint64_t size = 0;
    fs::file_time_type used;
};

std::vector<Picture> CollectPictures(
    const std::string& servicesFolder, const std::atomic<bool>& stopping, uint64_t& total)
{
    std::vector<Picture> pictures;
    std::error_code error;
    fs::recursive_directory_iterator walk(
        servicesFolder, fs::directory_options::skip_permission_denied, error);
    for (; !error && walk != fs::recursive_directory_iterator() && !stopping;
         walk.increment(error)) {
        std::error_code ignored;
        if (!walk->is_regular_file(ignored) || !IsThumbnailPicture(walk->path().filename()))
            continue;
        Picture picture { walk->path(), walk->file_size(ignored), walk->last_write_time(ignored) };
        total += picture.size;
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

} // namespace

bool IsThumbnailPicture(const std::string& name)
{
    return name.size() > 6 && (name.ends_with("_s.jpg") || name.ends_with("_l.jpg"));
}

uint64_t TrimThumbnailCache(
    const std::string& servicesFolder, uint64_t limitBytes, const std::atomic<bool>& stopping)
{
    uint64_t total = 0;
    std::vector<Picture> pictures = CollectPictures(servicesFolder, stopping, total);
    if (total <= limitBytes || stopping)
        return total;
    std::sort(pictures.begin(), pictures.end(),
        [](const Picture& a, const Picture& b) { return a.used < b.used; });
    const uint64_t target = limitBytes - limitBytes / 10;
    for (const Picture& picture : pictures) {
        if (total <= target || stopping)
            break;
        std::error_code error;
        if (fs::remove(picture.path, error))
            total -= picture.size;
    }
    return total;
}

void MarkThumbnailUsed(const std::string& file)
{
    // UTIME_NOW for the modification time; the access time stays.
    const timespec times[2] = { { 0, UTIME_OMIT }, { 0, UTIME_NOW } };
    utimensat(AT_FDCWD, file.c_str(), times, 0);
}
