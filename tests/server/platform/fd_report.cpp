// fd_report: writes the numbers of the descriptors it was started with to
// descriptor 3, in ascending order and separated by blanks ("0 1 2 3\n"), so a
// test can see what a spawned child holds. The descriptor it reads the list
// with is left out.

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

int main()
{
    DIR* folder = opendir("/proc/self/fd");
    if (!folder)
        return 2;
    int own = dirfd(folder);
    std::vector<int> held;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        int fd = std::atoi(entry->d_name);
        if (fd != own)
            held.push_back(fd);
    }
    closedir(folder);
    std::sort(held.begin(), held.end());
    std::string text;
    for (int fd : held)
        text += (text.empty() ? "" : " ") + std::to_string(fd);
    text += '\n';
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = write(3, text.data() + done, text.size() - done);
        if (wrote <= 0)
            return 3;
        done += static_cast<size_t>(wrote);
    }
    return 0;
}
