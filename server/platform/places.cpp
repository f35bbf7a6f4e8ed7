#include "platform/places.h"

#include <cstdlib>
#include <filesystem>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string EnvOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string HomeFolder()
{
    std::string home = EnvOrEmpty("HOME");
    if (!home.empty())
        return StripTrailingSlashes(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return StripTrailingSlashes(pw->pw_dir);
    return std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else home + fallback.
std::string XdgFolder(const char* variable, const char* fallbackUnderHome)
{
    std::string value = EnvOrEmpty(variable);
    if (!value.empty() && value[0] == '/')
        return StripTrailingSlashes(value);
    std::string home = HomeFolder();
    if (home.empty())
        return std::string();
    return home + fallbackUnderHome;
}

} // namespace

std::string GetResourceFolder()
{
    std::string program = GetProgramFolder();
    std::string beside = program + "/res";
    struct stat info { };
    if (stat(beside.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return beside;
    std::string installed = std::filesystem::path(program + "/" VEMBACAST_INSTALLED_RESOURCES)
                                .lexically_normal()
                                .string();
    if (stat(installed.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return installed;
    return beside;
}

std::string GetProgramFolder()
{
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0)
        return std::string();
    std::string path(buffer, static_cast<size_t>(length));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string GetDataFolder()
{
    std::string overridden = EnvOrEmpty("VEMBACAST_DATA_DIR");
    if (!overridden.empty())
        return StripTrailingSlashes(overridden);
    std::string base = XdgFolder("XDG_DATA_HOME", "/.local/share");
    if (base.empty())
        return std::string();
    return base + "/Vemba Family/Vemba Cast";
}

std::string GetServicesFolder()
{
    std::string data = GetDataFolder();
    if (data.empty())
        return std::string();
    return data + "/Services";
}

std::string GetStartupFolder()
{
    std::string base = XdgFolder("XDG_CONFIG_HOME", "/.config");
    if (base.empty())
        return std::string();
    return base + "/autostart";
}

std::string GetRuntimeFolder()
{
    std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime[0] == '/')
        return StripTrailingSlashes(runtime);
    std::string folder = "/tmp/vembacast-" + std::to_string(getuid());
    // Someone else's folder of that name (or a link) must not receive our sockets.
    if (mkdir(folder.c_str(), 0700) != 0) {
        struct stat info { };
        if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
            return std::string();
    }
    return folder;
}

std::string ServerPlaces::ServicesFolder() const
{
    return dataFolder.empty() ? std::string() : dataFolder + "/Services";
}

ServerPlaces ResolvePlaces(const std::string& dataFolder)
{
    ServerPlaces places;
    places.programFolder = GetProgramFolder();
    places.resourceFolder = GetResourceFolder();
    places.dataFolder = dataFolder.empty() ? GetDataFolder() : StripTrailingSlashes(dataFolder);
    places.runtimeFolder = GetRuntimeFolder();
    std::string temp = EnvOrEmpty("TMPDIR");
    places.tempFolder = !temp.empty() && temp[0] == '/' ? StripTrailingSlashes(temp) : "/tmp";
    return places;
}
