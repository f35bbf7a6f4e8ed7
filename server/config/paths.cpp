#include "config/settings.h"

#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>

bool FileExists(const std::string& path)
{
    struct stat info { };
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

bool EnsureFolder(const std::string& path, CreateIfMissing create)
{
    if (DIR* folder = opendir(path.c_str())) {
        closedir(folder);
        return true;
    }
    if (create == CreateIfMissing::No)
        return false;
    return CreateFolderPath(path);
}

bool CreateFolderPath(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    if (!path.empty())
        mkdir(path.c_str(), 0755);
    return true;
}

bool DeleteFolderTree(const std::string& path)
{
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return false;
    std::filesystem::remove_all(path, error);
    return !error;
}

std::string GetFileNameOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetFolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string GetFileTitleOf(const std::string& path)
{
    std::string name = GetFileNameOf(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string GetExtensionOf(const std::string& path)
{
    size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}
