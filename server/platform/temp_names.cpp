#include "platform/temp_names.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr unsigned kNameCount = 0xFFFF; // the numbers 1 to FFFF

// Starts where the clock points, as the names of one run should not all collide
// with the left-overs of another.
unsigned FirstNumber()
{
    static std::atomic<unsigned> next { static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count()) };
    return next.fetch_add(1);
}

} // namespace

std::string CreateTempListFile(const std::string& folder)
{
    if (folder.empty())
        return std::string();
    unsigned start = FirstNumber();
    for (unsigned tried = 0; tried < kNameCount; ++tried) {
        unsigned number = (start + tried) % kNameCount + 1;
        char name[16];
        std::snprintf(name, sizeof(name), "fil%X.tmp", number);
        std::string path = folder + "/" + name;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno != EEXIST)
            return std::string();
    }
    return std::string();
}

bool IsTempListFileName(const std::string& name)
{
    if (name.size() < 8 || name.size() > 11)
        return false;
    if (name.compare(0, 3, "fil") != 0 || name.compare(name.size() - 4, 4, ".tmp") != 0)
        return false;
    for (size_t i = 3; i < name.size() - 4; ++i) {
        char c = name[i];
        bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex)
            return false;
    }
    return true;
}
