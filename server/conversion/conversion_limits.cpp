#include "conversion/conversion_limits.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

bool EndsWithIgnoringCase(std::string_view text, std::string_view ending)
{
    if (text.size() < ending.size())
        return false;
    text = text.substr(text.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != ending[i])
            return false;
    }
    return true;
}

} // namespace

bool IsConversionOutputName(std::string_view fileName)
{
    if (EndsWithIgnoringCase(fileName, "-vembacast.m4v")
        || EndsWithIgnoringCase(fileName, "-vembacast.m4vtmp"))
        return true;
    // "-vembacast (N).m4v"
    if (!EndsWithIgnoringCase(fileName, ").m4v"))
        return false;
    std::string_view head = fileName.substr(0, fileName.size() - 5);
    size_t open = head.rfind(" (");
    if (open == std::string_view::npos || open + 2 == head.size())
        return false;
    for (char c : head.substr(open + 2)) {
        if (c < '0' || c > '9')
            return false;
    }
    return EndsWithIgnoringCase(head.substr(0, open), "-vembacast");
}

bool HasRoomToConvert(const std::string& sourcePath, const std::string& outputPath)
{
    struct stat source { };
    if (stat(sourcePath.c_str(), &source) != 0)
        return false;
    const size_t slash = outputPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
        : slash == 0                                      ? std::string("/")
                                                          : outputPath.substr(0, slash);
    struct statvfs disk { };
    if (statvfs(folder.c_str(), &disk) != 0)
        return false;
    const unsigned __int128 free = static_cast<unsigned __int128>(disk.f_bavail) * disk.f_frsize;
    return free >= static_cast<unsigned __int128>(source.st_size) + kConvertDiskReserve;
}
