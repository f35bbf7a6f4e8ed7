#include "library/media_files.h"

#include <cstring>
#include <filesystem>
#include <strings.h>

namespace {

// The name after the last '/', so a dot in a folder name never counts as an extension.
std::string LastComponent(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TrimmedLower(std::string text)
{
    const char* blanks = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(blanks);
    text = text.substr(first, last - first + 1);
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool EndsWith(const std::string& text, const char* suffix)
{
    size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

} // namespace

int ClassifyMediaFile(const std::string& fileName)
{
    std::string name = LastComponent(fileName);
    size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    extension = TrimmedLower(extension);
    if (extension.empty())
        return kMediaFileOther;
    return std::strstr(kVideoExtensionList, extension.c_str()) ? kMediaFileVideo : kMediaFileOther;
}

int CountFolderEntries(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    if (error)
        return 0;
    int count = 0;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        std::error_code typeError;
        if (it->is_directory(typeError))
            ++count;
        else if (ClassifyMediaFile(it->path().filename().string()) == kMediaFileVideo)
            ++count;
    }
    return count;
}

void GetSubtitleAndEncoding(const std::string& filePath, int& subtitle, int& encoding)
{
    subtitle = 0;
    encoding = 0;
    std::string name = LastComponent(filePath);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return;
    std::string base = filePath.substr(0, filePath.size() - (name.size() - dot));
    std::string extension = name.substr(dot + 1);
    std::error_code error;
    subtitle = std::filesystem::exists(base + ".smi", error) ? 1 : 0;
    if (strcasecmp(extension.c_str(), "m4v") == 0 || strcasecmp(extension.c_str(), "mp4") == 0)
        encoding = 1;
    if (EndsWith(filePath, "-vembacast.m4v"))
        encoding += 1;
}

std::string FormatSizeText(int64_t size)
{
    const char* unit = " Bytes";
    if (size >= 1024) {
        size /= 1024;
        unit = " KB";
        if (size >= 1024) {
            size /= 1024;
            unit = " MB";
        }
    }
    return std::to_string(size) + unit;
}
