#include "live_test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

bool RunTool(const std::string& command, std::string* output)
{
    std::string text;
    const bool ran = vembatest::RunCommand(command, &text);
    if (!ran)
        std::fprintf(stderr, "command failed: %s\n%s\n", command.c_str(), text.c_str());
    if (output)
        *output = std::move(text);
    return ran;
}

bool MakeTestClip(const std::string& path, int seconds, int width, int height)
{
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string duration = std::to_string(seconds);
    return RunTool("ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=" + size
        + ":rate=24:duration=" + duration + " -f lavfi -i sine=frequency=440:duration=" + duration
        + " -c:v libx264 -preset ultrafast -g 48 -pix_fmt yuv420p -c:a aac -b:a 64k -shortest "
        + ShellQuote(path));
}

bool MakeFlatClip(const std::string& path, int seconds, int width, int height)
{
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::string duration = std::to_string(seconds);
    return RunTool("ffmpeg -nostdin -y -loglevel error -f lavfi -i color=c=0x404040:size=" + size
        + ":rate=24:duration=" + duration + " -f lavfi -i anullsrc=r=48000:cl=stereo -t " + duration
        + " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest "
        + ShellQuote(path));
}

void WriteSamiFile(const std::string& path, int startMs, int endMs, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "<SAMI>\r\n<HEAD>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
        << "P { margin-left:8pt; margin-right:8pt; text-align:center; }\r\n"
        << ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; "
           "}\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n"
        << "<SYNC Start=" << startMs << "><P Class=KRCC>" << text << "\r\n"
        << "<SYNC Start=" << endMs << "><P Class=KRCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n";
}

MediaFacts ProbeMedia(const std::string& path)
{
    MediaFacts facts;
    std::string output;
    if (!RunTool("ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                 "-show_entries format=duration -of default=noprint_wrappers=1 "
                + ShellQuote(path),
            &output))
        return facts;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("width=", 0) == 0)
            facts.width = std::atoi(line.c_str() + 6);
        else if (line.rfind("height=", 0) == 0)
            facts.height = std::atoi(line.c_str() + 7);
        else if (line.rfind("duration=", 0) == 0)
            facts.duration = std::atof(line.c_str() + 9);
    }
    if (!RunTool("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "
                + ShellQuote(path),
            &output))
        return facts;
    std::istringstream packets(output);
    while (std::getline(packets, line)) {
        if (line.empty() || line == "N/A")
            continue;
        double pts = std::atof(line.c_str());
        if (facts.videoFrames == 0 || pts < facts.firstVideoPts)
            facts.firstVideoPts = pts;
        if (facts.videoFrames == 0 || pts > facts.lastVideoPts)
            facts.lastVideoPts = pts;
        ++facts.videoFrames;
    }
    return facts;
}

std::vector<unsigned char> GreyFrameAt(
    const std::string& path, double seconds, int w, int h, bool decodeFromStart)
{
    std::string output;
    char at[32];
    std::snprintf(at, sizeof at, "%.3f", seconds);
    std::string raw = path + ".grey";
    const std::string input = " -i " + ShellQuote(path);
    const std::string seek = std::string(" -ss ") + at;
    if (!RunTool(std::string("ffmpeg -nostdin -y -loglevel error")
            + (decodeFromStart ? input + seek : seek + input)
            + " -frames:v 1 -vf scale=" + std::to_string(w) + ":" + std::to_string(h)
            + " -pix_fmt gray -f rawvideo " + ShellQuote(raw)))
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<unsigned char> pixels(
        (std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    return pixels;
}

double MeanDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    if (a.empty() || a.size() != b.size())
        return -1;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    return sum / static_cast<double>(a.size());
}

namespace {

// A thumbnail run is given its pipe alone ("-pipename=N"); the server's start makes
// the thumbnails of its shares with such runs in the background.
// Thumbnail runs (the pipe alone) and key frame index passes serve the library,
// not a stream.
bool IsLibraryRun(const std::string& pid)
{
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::vector<std::string> words;
    for (std::string word; std::getline(in, word, '\0');)
        words.push_back(word);
    return (words.size() == 2 && words[1].rfind("-pipename=", 0) == 0)
        || (words.size() > 1 && words[1] == "-keyframes");
}

} // namespace

int CountChildEngines()
{
    int count = 0;
    std::string parent = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (!proc)
        return -1;
    while (dirent* entry = readdir(proc)) {
        std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t open = text.find('(');
        size_t close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::string name = text.substr(open + 1, close - open - 1);
        std::istringstream rest(text.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        if (name.rfind("vembacast-engin", 0) == 0 && ppid == parent && state != "Z"
            && !IsLibraryRun(pid))
            ++count;
    }
    closedir(proc);
    return count;
}

bool WaitForExit(int pid, std::chrono::seconds bound)
{
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return errno == ESRCH; // ended and reaped already
    pollfd ready { fd, POLLIN, 0 };
    const int polled = poll(&ready, 1, static_cast<int>(bound.count() * 1000));
    close(fd);
    return polled == 1;
}
