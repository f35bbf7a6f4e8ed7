#include "platform/temp_names.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace {

constexpr std::string_view kPrefix = "fil";
constexpr std::string_view kSuffix = ".tmp";
constexpr int kAttempts = 8; // a clash of 128 random bits means the source is broken

bool RandomHex(std::string& out)
{
    uint8_t bytes[kTempListRandomDigits / 2];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.clear();
    for (uint8_t byte : bytes) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    return true;
}

} // namespace

std::string CreateTempListFile(const std::string& folder)
{
    if (folder.empty())
        return std::string();
    std::string digits;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!RandomHex(digits))
            return std::string();
        std::string path = folder + "/" + std::string(kPrefix) + digits + std::string(kSuffix);
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
    if (name.size() != kPrefix.size() + kTempListRandomDigits + kSuffix.size())
        return false;
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix))
        return false;
    for (size_t i = kPrefix.size(); i < kPrefix.size() + kTempListRandomDigits; ++i) {
        char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}
