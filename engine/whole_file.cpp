#include "engine/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

bool WriteWholeFile(const std::string& path, const std::string& text)
{
    std::string part = path + ".part";
    int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote <= 0) {
            close(fd);
            unlink(part.c_str());
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    if (close(fd) != 0 || rename(part.c_str(), path.c_str()) != 0) {
        unlink(part.c_str());
        return false;
    }
    return true;
}

std::string OutputWord(const std::string& text)
{
    std::string word;
    for (char c : text)
        word += (c > ' ' && c < 127) ? c : '_';
    return word.empty() ? "unknown" : word;
}
