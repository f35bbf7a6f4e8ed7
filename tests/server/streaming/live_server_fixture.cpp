#include "live_server_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

const std::string& SharedMediaFolder()
{
    // Every test runs in a process of its own; the clips are made once per machine
    // and user and kept between runs (a few megabytes in the temporary folder).
    static const std::string folder = [] {
        std::string path = (std::filesystem::temp_directory_path()
            / ("vembacast-test-media-" + std::to_string(getuid())))
                               .string();
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

bool EnsureSharedMedia(const std::string& name, bool (*make)(const std::string&))
{
    std::string path = SharedMediaFolder() + "/" + name;
    if (std::filesystem::exists(path))
        return true;
    // Made under a name of this process with the same extension and renamed when
    // whole, so tests running side by side never see half a clip.
    std::string making = SharedMediaFolder() + "/making-" + std::to_string(getpid()) + "-" + name;
    if (!make(making)) {
        std::filesystem::remove(making);
        return false;
    }
    std::filesystem::rename(making, path);
    return true;
}

bool PutMedia(
    const LoopbackServer& server, const std::string& sharedName, const std::string& asName)
{
    std::error_code error;
    std::string from = SharedMediaFolder() + "/" + sharedName;
    std::string to = server.MediaFolder() + "/" + asName;
    std::filesystem::create_hard_link(from, to, error);
    if (error)
        std::filesystem::copy_file(from, to, error);
    return !error;
}
